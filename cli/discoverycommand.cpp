#include "discoverycommand.h"

#include "discoveryprotocol.h"
#include "exitcodes.h"
#include "idesetup.h"
#include "knownprobe.h"
#include "modulelistener.h"
#include "moduleboards.h"
#include "modulescommand.h"
#include "presence.h"
#include "recentmodules.h"
#include "stdinlines.h"

#include <QDateTime>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace cli {

namespace {

const char DiscoveryHelp[] =
    "Usage: quarnel-cli discovery\n"
    "Reports every module heard on UDP port 3333 (shared with the window and other listeners),\n"
    "and every known module (quarnel-cli modules) that answers its probe, as a port of the\n"
    "sketch build tools, speaking their discovery protocol on standard input and output:\n"
    "pluggable discovery version 1 (arduino-cli, Arduino IDE 2) after HELLO 1 \"AGENT\", and\n"
    "the Arduino IDE 1.8's form, which starts with START_SYNC. A port is\n"
    "labelled \"HOSTNAME at IP\" and carries the data port, AT-command port and host name,\n"
    "and the board behind the module once it is known (learned by quarnel-cli identify or an\n"
    "upload, or chosen in the window), which the tools show beside the port; a module silent\n"
    "for 6 to 8 seconds is removed. The sketch build tools start it themselves\n"
    "(quarnel-cli ide-setup).\n"
    "\n"
    "Options:\n"
    "  -h, --help       this text\n"
    "\n";

// discovery: started by the sketch build tools; everything else comes on standard input.
QList<QCommandLineOption> discoveryOptions()
{
    return {};
}

void parseDiscovery(Arguments &args, Invocation *)
{
    args.noSecondsNorPositional();
}

QString discoveryHelp()
{
    return QString::fromLatin1(DiscoveryHelp) + QLatin1String(DiscoveryExitHelp);
}

// Standard output carries only the protocol's JSON lines, each written whole at once.
void write(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

// The port of a module heard: its announced values, and the board behind it when that is known
// (quarnel-cli identify or upload, or the window, may have learned it since the last time).
discovery::ToolPort toolPort(const discovery::Announcement &a, upload::ModuleBoards *boards)
{
    discovery::ToolPort port{a.hostIp, a.hostName, a.dataPort, a.atPort, QString(), QString()};
    boards->refresh();
    if (const upload::Board *board = boards->boardOf(a.hostIp, a.hostName)) {
        port.board = QLatin1String(board->ideBoard);
        port.boardName = ideBoardName(port.board);
    }
    return port;
}

// The modules heard while the client has the discovery started: the module listener (the
// window's acceptance rule, and its row limit over the modules present) and the probe of the
// modules known by address, with the window's presence rule. A module simulated on this machine
// is heard, as by a scan.
struct Hearing
{
    discovery::ModuleListener listener;
    discovery::KnownModuleProbe probe;
    discovery::KnownModuleProbe recentProbe; // once, at the start
    discovery::Presence presence;
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
            QTimer::singleShot(discovery::DiscoveryProtocol::EventsDelay, &hearing->listener,
                               [this] { write(protocol.startEvents()); });
    }
    void tooLong() { write(protocol.tooLong(StdinLines::MaxLineBytes)); }
    bool quitting() const { return protocol.quitting(); }

private:
    bool startHearing(QString *error)
    {
        auto h = std::make_unique<Hearing>();
        discovery::Presence *presence = &h->presence;
        h->listener.setRoster([presence](const QString &ip) { return presence->lifeCount(ip) > 0; },
                              [presence] { return int(presence->counts().size()); });
        QObject::connect(h->listener.socket(), &QUdpSocket::readyRead, &h->listener,
                         &discovery::ModuleListener::readPending);
        if (!h->listener.listen(discovery::AnnouncementPort, error))
            return false;
        const auto heard = [this, presence](const discovery::Announcement &a) {
            presence->refreshPresence(a.hostIp);
            write(protocol.portHeard(toolPort(a, &boards)));
        };
        QObject::connect(&h->listener, &discovery::ModuleListener::heard, presence,
                         [heard](const discovery::Announcement &a) {
                             discovery::RecentModules::shared().note(a, QDateTime::currentMSecsSinceEpoch());
                             heard(a);
                         });
        QObject::connect(&h->probe, &discovery::KnownModuleProbe::answered, presence, heard);
        QObject::connect(&h->recentProbe, &discovery::KnownModuleProbe::answered, presence, heard);
        const QVector<discovery::KnownModule> known = loadKnownModules().modules();
        h->probe.setModules(known);
        h->probe.start();
        // A client that gives the discovery a second (arduino-cli's default) would otherwise miss
        // a module announcing every two seconds: the modules heard lately that answer are
        // reported at once, with their last announced values; their announcements or the presence
        // rule take over from there.
        QVector<discovery::KnownModule> recent;
        for (const discovery::KnownModule &m : discovery::RecentModules::shared().heardSince(
                 QDateTime::currentMSecsSinceEpoch())) {
            if (std::none_of(known.begin(), known.end(), [&m](const discovery::KnownModule &k) { return k.ip == m.ip; }))
                recent << m;
        }
        h->recentProbe.setModules(recent);
        h->recentProbe.probeAll();
        QObject::connect(presence, &discovery::Presence::departed, presence,
                         [this](const QStringList &ips) { write(protocol.portsGone(ips)); });
        presence->sweepEvery(discovery::Presence::SweepInterval);
        hearing = std::move(h);
        return true;
    }

    std::unique_ptr<Hearing> hearing; // while started or syncing
    upload::ModuleBoards boards;
    discovery::DiscoveryProtocol protocol;
};

int runDiscovery(const Invocation &)
{
    // The Arduino IDE 1.8 never reads standard error: a full pipe would stop this program.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));

    Session session;
    QEventLoop loop;
    StdinLines input(monitor::LineCutter::Overlong::Refuse);
    QObject::connect(&input, &StdinLines::line, &loop, [&](const QByteArray &line) {
        session.command(line);
        if (session.quitting())
            loop.quit();
    });
    QObject::connect(&input, &StdinLines::tooLong, &loop, [&] { session.tooLong(); });
    QObject::connect(&input, &StdinLines::closed, &loop, &QEventLoop::quit);
    loop.exec();
    return ExitSuccess;
}

} // namespace

const CommandRow DiscoveryCommand = {
    Command::Discovery, "discovery",
    "report the modules as ports to the Arduino IDE and arduino-cli (stdin/stdout)",
    discoveryOptions, parseDiscovery, discoveryHelp, runDiscovery};

} // namespace cli
