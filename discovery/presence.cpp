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
    for (auto entry = presenceMap.begin(); entry != presenceMap.end(); ++entry) {
        const int count = entry.value() - 1;
        if (count > DepartedCount) {
            entry.value() = count;
            continue;
        }
        sweepRunning_ = true;
        emit departed(entry.key());
        sweepRunning_ = false;
    }
}

void Presence::setHeld(bool on)
{
    held = on;
}

} // namespace discovery
