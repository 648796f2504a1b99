#include "modulework.h"

void ModuleWork::uploadStarted(const QString &ip, upload::Thread *worker)
{
    byModule[ip].uploads.append(worker);
    latest = worker;
}

void ModuleWork::uploadEnded(upload::Thread *worker)
{
    for (auto it = byModule.begin(); it != byModule.end(); ++it) {
        if (it->uploads.removeOne(worker)) {
            if (it->uploads.isEmpty())
                byModule.erase(it);
            break;
        }
    }
    if (latest == worker)
        latest = nullptr;
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
