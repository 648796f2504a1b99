#include "modulework.h"

#include "monitorconnection.h"

bool ModuleWork::uploadStarted(const QString &ip, upload::Thread *worker)
{
    Work &work = byModule[ip];
    work.uploads.append(worker);
    latest = worker;
    return work.monitor && work.monitor->release();
}

void ModuleWork::uploadEnded(upload::Thread *worker)
{
    for (auto it = byModule.begin(); it != byModule.end(); ++it) {
        if (it->uploads.removeOne(worker)) {
            if (it->uploads.isEmpty() && it->monitor)
                it->monitor->resume();
            forgetIfIdle(it);
            break;
        }
    }
    if (latest == worker)
        latest = nullptr;
}

void ModuleWork::addMonitor(const QString &ip, monitor::MonitorConnection *monitor)
{
    Work &work = byModule[ip];
    work.monitor = monitor;
    if (work.uploads.isEmpty())
        monitor->open();
    else
        monitor->release();
}

void ModuleWork::removeMonitor(const QString &ip)
{
    const auto it = byModule.find(ip);
    if (it == byModule.end())
        return;
    it->monitor = nullptr;
    forgetIfIdle(it);
}

void ModuleWork::forgetIfIdle(QHash<QString, Work>::iterator it)
{
    if (it->uploads.isEmpty() && !it->monitor)
        byModule.erase(it);
}

bool ModuleWork::busy(const QString &ip) const
{
    return byModule.contains(ip);
}

QList<upload::Thread *> ModuleWork::uploads() const
{
    QList<upload::Thread *> all;
    for (const Work &work : byModule)
        all += work.uploads;
    return all;
}
