#ifndef MODULEBOARDS_H
#define MODULEBOARDS_H

#include "boardtable.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

namespace upload {

// What each module is: the board type behind it, as the user chose it in the window's Device box
// or the tool learned it (an identification, a successful upload). Kept in a settings file that
// the window and quarnel-cli share (defaultPath()): one group per module address with its host
// name, board type and the time it was learned. A module is the pair of address and host name:
// an address now announced under another name is another module (a DHCP lease passed on), and
// its board is not known. Each change is written at once, and only its own keys, so that two
// programs learning different modules do not undo each other. The file holds at most
// MaxEntries modules, the one learned longest ago giving way; a file damaged by hand or by a
// crash costs its bad entries, never the start.
class ModuleBoards
{
public:
    // A large bench; reading this many costs a few milliseconds, writing one a few more.
    static const int MaxEntries = 1024;

    struct Entry
    {
        QString ip;       // dotted IPv4, canonical
        QString hostName; // as announced; empty when it was not known
        const Board *board = nullptr;
        qint64 learned = 0; // ms since the epoch, UTC

        bool operator==(const Entry &other) const
        {
            return ip == other.ip && hostName == other.hostName && board == other.board && learned == other.learned;
        }
    };

    explicit ModuleBoards(const QString &path = defaultPath());

    // boards.ini beside the modules added by address (discovery::KnownModules::defaultPath()).
    static QString defaultPath();
    QString path() const { return filePath; }

    // Reads the file. Entries that are not an address with a known board type are left out;
    // each such entry, and a file that cannot be read, gives one line in the result. A missing
    // file is an empty store.
    QStringList load();
    // Reads the file again if another program may have changed it since this one last read or
    // wrote it; costs one look at the file otherwise. The lines of load(), when it reads.
    QStringList refresh();

    // The board type of the module at `ip` announced as `hostName` (empty: not known); null
    // when none is kept, or when the one kept is for another host name at that address.
    const Board *boardOf(const QString &ip, const QString &hostName) const;
    const QVector<Entry> &entries() const { return list; }

    // What was learned about one module.
    struct Learned
    {
        QString ip;
        QString hostName; // empty when not known: the one kept before stays
        const Board *board;
    };
    // Keeps each module's board, replacing what was kept for its address, in one write of the
    // file. False, with *error, when the file cannot be written: the boards are kept for this
    // run all the same.
    bool remember(const QVector<Learned> &learned, QString *error);
    bool remember(const QString &ip, const QString &hostName, const Board &board, QString *error)
    {
        return remember({{ip, hostName, &board}}, error);
    }
    // The module at `ip` now has the host name `hostName` (a rename): its board stays its own.
    bool takeName(const QString &ip, const QString &hostName, QString *error);

private:
    QVector<Entry>::iterator entry(const QString &ip);
    bool write(const QVector<Entry> &changed, const QStringList &evicted, QString *error);
    QDateTime fileStamp() const;

    QString filePath;
    QVector<Entry> list;
    QDateTime readStamp; // the file's last change as this object last read or wrote it
    qint64 readSize = -1;
};

} // namespace upload

#endif // MODULEBOARDS_H
