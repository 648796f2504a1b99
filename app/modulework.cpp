#include "modulework.h"

#include "monitorconnection.h"

bool ModuleWork::uploadStarted(const QString &ip, upload::Thread *worker)
{
    Work &work = byModule[ip];
    work.uploads.append(worker);
    latest = worker;
    return work.monitor && work.monitor->release();
}

void ModuleWork::identifyStarted(const QString &ip, QThread *worker)
{
    Work &work = byModule[ip];
    work.identifications.append(worker);
    if (work.monitor)
        work.monitor->release();
}

void ModuleWork::identifyEnded(QThread *worker)
{
    for (auto it = byModule.begin(); it != byModule.end(); ++it) {
        if (it->identifications.removeOne(worker)) {
            if (!it->portsHeld() && it->monitor)
                it->monitor->resume();
            forgetIfIdle(it);
            break;
        }
    }
}

void ModuleWork::uploadEnded(upload::Thread *worker)
{
    for (auto it = byModule.begin(); it != byModule.end(); ++it) {
        if (it->uploads.removeOne(worker)) {
            if (!it->portsHeld() && it->monitor)
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
    if (!work.portsHeld())
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
    if (!it->portsHeld() && !it->monitor)
        byModule.erase(it);
}

bool ModuleWork::busy(const QString &ip) const
{
    return byModule.contains(ip);
}

bool ModuleWork::portsHeld(const QString &ip) const
{
    const auto it = byModule.constFind(ip);
    return it != byModule.constEnd() && it->portsHeld();
}

QList<QThread *> ModuleWork::identifications() const
{
    QList<QThread *> all;
    for (const Work &work : byModule)
        all += work.identifications;
    return all;
}

QList<upload::Thread *> ModuleWork::uploads() const
{
    QList<upload::Thread *> all;
    for (const Work &work : byModule)
        all += work.uploads;
    return all;
}
