#ifndef CLI_MODULESCAN_H
#define CLI_MODULESCAN_H

#include "announcement.h"
#include "discoveryconstants.h"
#include "knownprobe.h"
#include "modulelistener.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QVector>

#include <optional>

namespace cli {

// One module as the scan last heard it.
struct HeardModule
{
    discovery::Announcement announcement; // the latest one from this "host ip"
    qint64 lastHeardMs = 0;               // on the scan's clock
    bool heard = true;                    // false: a known module that answered but did not announce
    bool known = false;                   // added by address (quarnel-cli modules add)
};

// Collects the modules that the module listener hears, with the window's acceptance rule and row
// limit. Rows are keyed on the "host ip" text, as in the window, but keep each module's latest
// values. The sender's address is not compared with this machine's: a module simulated on this
// machine is listed.
class ModuleScan : public QObject
{
    Q_OBJECT

public:
    static const int MaxModules = discovery::MaxModules;

    ModuleScan();

    // Binds the port with shared binding, as the window does. False with the reason otherwise.
    bool listen(quint16 port, QString *error);

    // Takes one datagram; false when it is dropped.
    bool take(const QByteArray &datagram);

    // Probes these known modules once; each that answers is taken with takeKnown(). listenFor()
    // waits for the probes to end.
    void probeKnown(const QVector<discovery::KnownModule> &modules);
    // The same every KnownModuleProbe::ProbeInterval for as long as the scan lives: a listener
    // that runs on (a port discovery) sees them come, and go by its presence rule, as announced
    // modules do.
    void watchKnown(const QVector<discovery::KnownModule> &modules);
    // A known module that is there: listed, marked known, and one module with its announcements
    // (which give its values); reported with heard() as an announcement is.
    void takeKnown(const discovery::Announcement &module);

    // Runs the event loop for `ms` milliseconds, taking what arrives, and then until the probes
    // of known modules have ended.
    void listenFor(int ms);
    // Runs the event loop until a module announces itself with the address `ip` or `ms` pass;
    // its latest announcement, or nothing.
    std::optional<discovery::Announcement> waitFor(const QHostAddress &ip, int ms);
    // Ends the listenFor() or waitFor() under way, and every later one, at once.
    void interrupt();
    bool interrupted() const { return stopped; }

    // Every module heard, ordered by address.
    QVector<HeardModule> modules() const;
    // Milliseconds on the scan's clock, for the age of a HeardModule.
    qint64 nowMs() const { return clock.elapsed(); }
    // Announcements dropped because MaxModules were listed already.
    int overflow() const { return listener.overflow(); }

signals:
    void heard(const QString &hostIp);

private:
    void record(const discovery::Announcement &announcement);
    void runLoop(QEventLoop *loop, int ms);

    discovery::ModuleListener listener;
    discovery::KnownModuleProbe probe;
    QSet<QString> knownIps;
    QElapsedTimer clock;
    QHash<QString, HeardModule> byIp;
    QEventLoop *waiting = nullptr; // the loop of the listenFor() or waitFor() under way
    bool stopped = false;
};

} // namespace cli

#endif // CLI_MODULESCAN_H
