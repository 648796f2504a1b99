#include "presence.h"

namespace discovery {

void Presence::refreshPresence(const QString &ip)
{
    if (ip.isEmpty())
        return;
    presenceMap[ip] = LifeCount;
}

void Presence::sweepPresence()
{
    if (held || sweepRunning_)
        return;
    QStringList gone;
    for (auto entry = presenceMap.begin(); entry != presenceMap.end();) {
        const int count = entry.value() - 1;
        if (count > DepartedCount) {
            entry.value() = count;
            ++entry;
            continue;
        }
        // The entry goes with its row: a flood of departed modules leaves nothing behind.
        gone << entry.key();
        entry = presenceMap.erase(entry);
    }
    if (gone.isEmpty())
        return;
    sweepRunning_ = true;
    emit departed(gone);
    sweepRunning_ = false;
}

void Presence::setHeld(bool on)
{
    held = on;
}

void Presence::sweepEvery(int intervalMs)
{
    connect(&sweepTimer, &QTimer::timeout, this, &Presence::sweepPresence, Qt::UniqueConnection);
    sweepTimer.start(intervalMs);
}

} // namespace discovery
