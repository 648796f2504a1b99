#ifndef PRESENCE_H
#define PRESENCE_H

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace discovery {

// Who is still there: one life count per announced module IP, set by each announcement and
// lowered by each sweep; the modules whose counts run out are forgotten and reported together
// through departed(). Knows no widgets; the window removes their rows.
class Presence : public QObject
{
    Q_OBJECT

public:
    static const int LifeCount = 5;     // sweeps a module survives after announcing, counting this one
    static const int DepartedCount = 1; // a count at or below this after a sweep means the module left

    // An announcement from `ip`: its count becomes LifeCount. An empty ip is ignored.
    void refreshPresence(const QString &ip);

    // Lowers every count by one; the modules whose count ran out leave the map and are reported in
    // one departed(), in ascending order of the IP text. Does nothing while held or while a sweep
    // runs.
    void sweepPresence();

    // While held (the manual firmware source is selected), sweeps change nothing.
    void setHeld(bool held);
    // Sweeps every intervalMs on a timer of its own, for whatever hears modules without the
    // window (the window sweeps from its firmware refresh, after the build-output finder).
    void sweepEvery(int intervalMs);

    // True only while departed() is being emitted; the window drops announcements meanwhile.
    bool sweepRunning() const { return sweepRunning_; }
    // The remaining life count of `ip`; 0 when it is not listed (never announced, or departed).
    int lifeCount(const QString &ip) const { return presenceMap.value(ip); }
    const QMap<QString, int> &counts() const { return presenceMap; }

signals:
    // Emitted during sweepPresence(), synchronously, with sweepRunning() true.
    void departed(const QStringList &ips);

private:
    QMap<QString, int> presenceMap; // IP text as announced -> remaining life count
    bool sweepRunning_ = false;
    bool held = false;
    QTimer sweepTimer;
};

} // namespace discovery

#endif // PRESENCE_H
