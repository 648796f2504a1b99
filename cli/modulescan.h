#ifndef CLI_MODULESCAN_H
#define CLI_MODULESCAN_H

#include "announcement.h"
#include "discoveryconstants.h"
#include "modulelistener.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QVector>

#include <optional>

namespace cli {

// One module as the scan last heard it.
struct HeardModule
{
    discovery::Announcement announcement; // the latest one from this "host ip"
    qint64 lastHeardMs = 0;               // on the scan's clock
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

    // Runs the event loop for `ms` milliseconds, taking what arrives.
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
    QElapsedTimer clock;
    QHash<QString, HeardModule> byIp;
    QEventLoop *waiting = nullptr; // the loop of the listenFor() or waitFor() under way
    bool stopped = false;
};

} // namespace cli

#endif // CLI_MODULESCAN_H
