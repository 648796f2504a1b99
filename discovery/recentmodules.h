#ifndef RECENTMODULES_H
#define RECENTMODULES_H

#include "announcement.h"
#include "knownmodules.h"

#include <QHash>
#include <QString>
#include <QVector>

namespace discovery {

// The modules this machine heard lately, by any of its programs (the window, a scan, a
// discovery), kept in a small file beside the known modules (defaultPath()): a discovery that a
// sketch build tool starts and gives a second to find a module probes these at once, instead of
// waiting up to two seconds for each one's next announcement. One line per module,
// "MS IP DATAPORT ATPORT =NAME" (MS: milliseconds since the epoch, UTC; NAME percent-encoded);
// a line that does not read so is skipped, as is a module heard more than KeepMs ago. At most
// MaxEntries, the newest. Each program writes the file at most every WriteGapMs, and a module
// heard again only when its time there is RefreshMs old; a write replaces the file whole.
// Two programs writing at once may lose one's news until its next write.
class RecentModules
{
public:
    static const int MaxEntries = 64;
    static const qint64 KeepMs = 10 * 60 * 1000; // a module heard this long ago is still probed
    static const qint64 RefreshMs = 60 * 1000;   // a module's time in the file is renewed this often
    static const qint64 WriteGapMs = 2000;       // a program writes the file at most this often

    explicit RecentModules(const QString &path = defaultPath());
    ~RecentModules();
    RecentModules(const RecentModules &) = delete;
    RecentModules &operator=(const RecentModules &) = delete;

    // heard.txt in the folder of KnownModules::defaultPath().
    static QString defaultPath();
    // The one store of this program, for everything in it that hears modules.
    static RecentModules &shared();

    // The modules in the file heard within KeepMs before `nowMs`, newest first, as modules to
    // probe (announced ports that are no port numbers are left out).
    QVector<KnownModule> heardSince(qint64 nowMs) const;
    // A module heard at `nowMs`; the file is written when that is due. False when a write was
    // due and failed (nothing to do about it: the next one tries again).
    bool note(const Announcement &announcement, qint64 nowMs);

private:
    struct Entry
    {
        KnownModule module;
        qint64 heardMs = 0;
    };
    QHash<QString, Entry> readFile() const;
    bool write(qint64 nowMs);

    QString filePath;
    QHash<QString, Entry> heard;        // what this program heard since its last write
    QHash<QString, qint64> writtenMs;   // the time each module got in the file by this program
    qint64 lastWriteMs = -WriteGapMs;
};

} // namespace discovery

#endif // RECENTMODULES_H
