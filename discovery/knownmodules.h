#ifndef KNOWNMODULES_H
#define KNOWNMODULES_H

#include "announcement.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

namespace discovery {

// The ports a module usually announces; a module added by address without ports gets these.
constexpr quint16 DefaultDataPort = 8000;
constexpr quint16 DefaultAtPort = 8001;

// A module given by its address, for networks where its announcements do not arrive.
struct KnownModule
{
    QString ip; // dotted IPv4 in the form announcements carry it (no leading zeros)
    quint16 dataPort = DefaultDataPort;
    quint16 atPort = DefaultAtPort;
    QString name; // as given or last announced; empty when neither

    // The module as if it had announced itself: what the listeners take.
    Announcement announcement() const;
    bool operator==(const KnownModule &other) const;
};

// Checked forms of what a user types. Each gives false for anything but the plain form.
bool parseIpv4(const QString &text, QString *canonical); // four decimal numbers 0..255
// An IPv4 address that can name a module: not 0.x.x.x, multicast, reserved or broadcast.
bool parseModuleAddress(const QString &text, QString *canonical);

// A known module from the texts of the add dialog or `quarnel-cli modules add`; an empty port
// text takes the default. Nothing, with *problem saying what is wrong, for a bad address, port
// or name (a control character, or longer than MaxHostNameBytes in UTF-8).
std::optional<KnownModule> knownModuleFromTexts(const QString &ip, const QString &dataPort, const QString &atPort,
                                                const QString &name, QString *problem);

// The list of known modules, kept in a settings file that the window and quarnel-cli share
// (defaultPath()): one section per address, "[10.0.0.5]", with the keys dataPort, atPort and
// name (the INI form QSettings reads). The file is read line by line: a damaged entry (a value
// cut short, a quote never closed, a bad address or port) is left out and named, and the
// entries after it are read as usual. Each change is written at once, under a lock, into the
// file as it is then: only the changed module's section is rewritten; every other line, damaged
// or not, stays as it was, so two programs changing different modules do not undo each other.
class KnownModules
{
public:
    // At most this many entries are read: a file made huge cannot make every start slow.
    static const int MaxEntries = 256;

    explicit KnownModules(const QString &path = defaultPath());

    // modules.ini in a "quarnel" folder of the user's configuration directory
    // ($XDG_CONFIG_HOME or ~/.config on Linux, %LOCALAPPDATA% on Windows).
    static QString defaultPath();
    QString path() const { return filePath; }

    // Reads the file. Entries that are not a module's address and ports are left out; each such
    // entry, and a file that cannot be read, gives one line in the result. A missing file is an
    // empty list.
    QStringList load();

    // Ordered by address.
    const QVector<KnownModule> &modules() const { return list; }
    const KnownModule *find(const QString &ip) const;

    // Adds the module, or replaces the one with its address. False, with *error, when the file
    // cannot be written (the list then stays as it was) or MaxEntries are listed already.
    bool add(const KnownModule &module, QString *error);
    // Removes every section of `ip` (however its address is written, e.g. "[010.0.0.1]"). False,
    // with *error, when `ip` is not known, the file holds no section of it, or it cannot be
    // written.
    bool remove(const QString &ip, QString *error);

    // A known module that announces itself is the same module: its announced name and ports
    // replace the kept ones. True when that changed the entry; *error is set when the change
    // could not be written (it is kept for this run all the same).
    bool takeAnnouncement(const Announcement &announcement, QString *error);
    // The name a rename sent to a known module; same results as takeAnnouncement.
    bool takeName(const QString &ip, const QString &name, QString *error);

private:
    QVector<KnownModule>::iterator entry(const QString &ip);
    // Rewrites the file under its lock: `change` edits its lines and returns false, with
    // *error, to leave it as it is.
    bool rewrite(const std::function<bool(QList<QByteArray> *lines, QString *error)> &change, QString *error) const;
    bool write(const KnownModule &module, QString *error) const;
    bool update(const KnownModule &module, QString *error);

    QString filePath;
    QVector<KnownModule> list;
};

} // namespace discovery

#endif // KNOWNMODULES_H
