// quarnel-cli pluggable-monitor: glue between standard input and output and the widget-free
// protocol and port classes.

#include "pluggablemonitorcommand.h"

#include "discoveryconstants.h"
#include "exitcodes.h"
#include "moduleports.h"
#include "modulescan.h"
#include "modulescommand.h"
#include "pluggablemonitor.h"
#include "portbridge.h"
#include "stdinlines.h"

#include <QEventLoop>
#include <QHostAddress>

#include <cmath>
#include <cstdio>
#include <optional>

namespace cli {

namespace {

const char PluggableMonitorHelp[] =
    "Usage: quarnel-cli pluggable-monitor [--seconds N]\n"
    "The serial monitor that arduino-cli and the Arduino IDE 2 start for the modules' ports\n"
    "(pluggable monitor protocol, version 1): commands on standard input (HELLO, DESCRIBE,\n"
    "CONFIGURE, OPEN, CLOSE, QUIT), one JSON reply each on standard output. OPEN CLIENT PORT\n"
    "connects the module's data port (PORT: the module's IP address, its data port taken from\n"
    "its announcement, or IP:DATAPORT) with the client's TCP address. The line speed (baudrate)\n"
    "is the module's, %1, and cannot be changed.\n"
    "\n"
    "Options:\n"
    "  --seconds N      wait at most N seconds for a module's announcement (default 5)\n"
    "  -h, --help       this text\n"
    "\n";

// pluggable-monitor: only how long an OPEN waits for a module's announcement.
QList<QCommandLineOption> pluggableMonitorOptions()
{
    return {};
}

void parsePluggableMonitor(Arguments &args, Invocation *inv)
{
    args.seconds(DefaultAnnouncementSeconds, &inv->seconds);
    args.noPositional();
}

QString pluggableMonitorHelp()
{
    return QString::fromLatin1(PluggableMonitorHelp).arg(monitor::PluggableMonitor::ModuleBaud)
           + QLatin1String(PluggableMonitorExitHelp);
}

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// The data port of a module from the known-modules list or its announcement, for an OPEN that
// names only the address.
quint16 announcedDataPort(const QString &ip, int waitMs, QString *error)
{
    quint16 port = 0;
    if (portsFromKnown(loadKnownModules(), ip, &port, nullptr))
        return port;
    ModuleScan scan;
    if (!scan.listen(discovery::AnnouncementPort, error)) {
        *error = QStringLiteral("cannot listen on UDP port %1 for the announcement of %2: %3; give the port as "
                                "%2:DATAPORT")
                     .arg(discovery::AnnouncementPort)
                     .arg(ip, *error);
        return 0;
    }
    const std::optional<discovery::Announcement> heard = scan.waitFor(QHostAddress(ip), waitMs);
    if (!heard)
        *error = QStringLiteral("unknown port %1: no announcement from it on UDP port %2 within %3 ms")
                     .arg(ip)
                     .arg(discovery::AnnouncementPort)
                     .arg(waitMs);
    else if (const std::optional<MissingPort> missing = resolvePorts(*heard, &port, nullptr))
        *error = QStringLiteral("%1 announces the data port \"%2\", which is no port number; give the port as "
                                "%1:DATAPORT")
                     .arg(ip, missing->announced);
    return port;
}

int runPluggableMonitor(const Invocation &inv)
{
    const int waitMs = int(std::lround(inv.seconds * 1000));
    monitor::PortBridge bridge(
        [waitMs](const QString &ip, QString *error) { return announcedDataPort(ip, waitMs, error); });
    monitor::PluggableMonitor protocol(&bridge);
    StdinLines input(monitor::LineCutter::Overlong::Refuse);
    QEventLoop loop;
    const auto reply = [](const QByteArray &message) {
        if (!message.isEmpty())
            writeOut(message + '\n');
    };
    // One command at a time: OPEN runs the event loop while it connects, and a line that comes
    // meanwhile waits for its reply. Nothing stands for a line too long to take.
    QList<std::optional<QByteArray>> waiting;
    bool handling = false;
    const auto take = [&](const std::optional<QByteArray> &line) {
        waiting << line;
        if (handling)
            return;
        handling = true;
        while (!waiting.isEmpty() && !protocol.quitRequested()) {
            const std::optional<QByteArray> next = waiting.takeFirst();
            reply(next ? protocol.handle(*next) : protocol.tooLong(StdinLines::MaxLineBytes));
        }
        handling = false;
        if (protocol.quitRequested())
            loop.quit();
    };
    QObject::connect(&input, &StdinLines::line, &loop, take);
    QObject::connect(&input, &StdinLines::tooLong, &loop, [&] { take(std::nullopt); });
    // The client is gone: nobody reads the replies any more.
    QObject::connect(&input, &StdinLines::closed, &loop, &QEventLoop::quit);
    QObject::connect(&bridge, &monitor::PortBridge::dropped, &loop,
                     [&](const QString &why) { reply(protocol.portClosed(why)); });
    loop.exec();
    bridge.close();
    return ExitSuccess;
}

} // namespace

const CommandRow PluggableMonitorCommand = {
    Command::PluggableMonitor, "pluggable-monitor",
    "the serial monitor for the sketch build tools (arduino-cli, IDE 2)",
    pluggableMonitorOptions, parsePluggableMonitor, pluggableMonitorHelp, runPluggableMonitor};

} // namespace cli
