#include "modulework.h"

#include "monitorconnection.h"

namespace monitor {

void ModuleWork::addMonitor(const QString &ip, MonitorConnection *monitor)
{
    Work &work = byIp[ip];
    work.monitor = monitor;
    if (work.uploads > 0)
        monitor->release();
    else
        monitor->open();
}

void ModuleWork::removeMonitor(const QString &ip)
{
    if (!byIp.contains(ip))
        return;
    byIp[ip].monitor = nullptr;
    forgetIfIdle(ip);
}

MonitorConnection *ModuleWork::monitor(const QString &ip) const
{
    return byIp.value(ip).monitor;
}

void ModuleWork::uploadStarting(const QString &ip)
{
    Work &work = byIp[ip];
    ++work.uploads;
    if (work.monitor)
        work.monitor->release();
}

void ModuleWork::uploadEnded(const QString &ip)
{
    if (!byIp.contains(ip))
        return;
    Work &work = byIp[ip];
    work.uploads = qMax(0, work.uploads - 1);
    if (work.uploads == 0 && work.monitor)
        work.monitor->resume();
    forgetIfIdle(ip);
}

void ModuleWork::forgetIfIdle(const QString &ip)
{
    const Work work = byIp.value(ip);
    if (work.uploads == 0 && !work.monitor)
        byIp.remove(ip);
}

} // namespace monitor
