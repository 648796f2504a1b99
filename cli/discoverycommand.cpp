#include "discoverycommand.h"

#include "discoveryprotocol.h"
#include "exitcodes.h"
#include "modulescan.h"
#include "presence.h"
#include "stdinlines.h"

#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace cli {

namespace {

// Standard output carries only the protocol's JSON lines, each written whole at once.
void write(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

// The modules heard while the client has the discovery started: a scan of UDP port 3333 (the
// window's acceptance rule and row limit) with the window's presence rule.
struct Hearing
{
    ModuleScan scan;
    discovery::Presence presence;
    QTimer sweep;
};

// One run of the command: the protocol, fed by the client's lines and by the modules heard.
class Session
{
public:
    Session()
        : protocol({[this](QString *error) { return startHearing(error); }, [this] { hearing.reset(); }})
    {
    }

    void command(const QByteArray &line)
    {
        write(protocol.command(line));
        if (protocol.eventsHeld())
            QTimer::singleShot(discovery::DiscoveryProtocol::EventsDelay, &hearing->scan,
                               [this] { write(protocol.startEvents()); });
    }
    bool quitting() const { return protocol.quitting(); }

private:
    bool startHearing(QString *error)
    {
        auto h = std::make_unique<Hearing>();
        if (!h->scan.listen(discovery::AnnouncementPort, error))
            return false;
        Hearing *raw = h.get();
        QObject::connect(&raw->scan, &ModuleScan::heard, &raw->scan, [this, raw](const QString &ip) {
            const std::optional<discovery::Announcement> a = raw->scan.latest(ip);
            if (!a)
                return;
            raw->presence.refreshPresence(ip);
            write(protocol.portHeard({ip, a->hostName, a->dataPort, a->atPort}));
        });
        QObject::connect(&raw->presence, &discovery::Presence::departed, &raw->scan, [this, raw](const QStringList &ips) {
            for (const QString &ip : ips)
                raw->scan.forget(ip);
            write(protocol.portsGone(ips));
        });
        QObject::connect(&raw->sweep, &QTimer::timeout, &raw->presence, &discovery::Presence::sweepPresence);
        raw->sweep.start(discovery::Presence::SweepInterval);
        hearing = std::move(h);
        return true;
    }

    std::unique_ptr<Hearing> hearing; // while started or syncing
    discovery::DiscoveryProtocol protocol;
};

} // namespace

int runDiscovery()
{
    // The Arduino IDE 1.8 never reads standard error: a full pipe would stop this program.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));

    Session session;
    QEventLoop loop;
    StdinLines input;
    QObject::connect(&input, &StdinLines::line, &loop, [&](const QByteArray &line) {
        session.command(line);
        if (session.quitting())
            loop.quit();
    });
    QObject::connect(&input, &StdinLines::closed, &loop, &QEventLoop::quit);
    loop.exec();
    return ExitSuccess;
}

} // namespace cli
