// quarnel-cli monitor and pluggable-monitor: glue between standard input and output and the
// widget-free monitor classes.

#include "commands.h"

#include "exitcodes.h"
#include "interruptsignal.h"
#include "moduleports.h"
#include "modulescan.h"
#include "monitorconnection.h"
#include "monitorlog.h"
#include "monitortext.h"
#include "pluggablemonitor.h"
#include "portbridge.h"
#include "stdinlines.h"

#include <QEventLoop>
#include <QTime>
#include <QTimer>

#include <cmath>

namespace cli {

namespace {

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// The data port of a module from its announcement, for an OPEN that names only the address.
quint16 announcedDataPort(const QString &ip, int waitMs, QString *error)
{
    ModuleScan scan;
    if (!scan.listen(discovery::AnnouncementPort, error)) {
        *error = QStringLiteral("cannot listen on UDP port %1 for the announcement of %2: %3; give the port as "
                                "%2:DATAPORT")
                     .arg(discovery::AnnouncementPort)
                     .arg(ip, *error);
        return 0;
    }
    const std::optional<discovery::Announcement> heard = scan.waitFor(QHostAddress(ip), waitMs);
    quint16 port = 0;
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

} // namespace

int runMonitor(const Invocation &inv)
{
    InterruptSignal interrupt;
    quint16 dataPort = inv.dataPort;
    int exitCode = ExitSuccess;
    if (dataPort == 0 && !portsFromAnnouncement(inv, &interrupt, inv.ip, &dataPort, nullptr, &exitCode))
        return exitCode;

    monitor::MonitorConnection link(inv.ip, dataPort);
    monitor::LineStamper stamper;
    StdinLines input;
    QEventLoop loop;
    bool dropReported = false;
    QByteArrayList early; // lines typed (or piped) before the first connection stood; sent once it does
    monitor::MonitorLog log;
    QObject::connect(&log, &monitor::MonitorLog::failed, &loop, [](const QString &message) { fail(message); });
    QString logError;
    if (!inv.logPath.isEmpty() && !log.start(inv.logPath, &logError))
        fail(logError + QStringLiteral("; the monitor goes on without it"));

    QObject::connect(&link, &monitor::MonitorConnection::received, &loop, [&](const QByteArray &bytes) {
        const QByteArray shown = inv.timestamps ? stamper.stamp(bytes, QTime::currentTime()) : bytes;
        writeOut(shown);
        log.write(shown);
    });
    QObject::connect(&link, &monitor::MonitorConnection::stateChanged, &loop,
                     [&](monitor::MonitorConnection::State state, const QString &reason) {
                         using State = monitor::MonitorConnection::State;
                         if (state == State::Connected) {
                             for (const QByteArray &bytes : qAsConst(early))
                                 link.send(bytes);
                             early.clear();
                             if (!dropReported)
                                 fail(QStringLiteral("%1: connected to data port %2; Ctrl-C ends the monitor")
                                          .arg(inv.ip)
                                          .arg(dataPort));
                             dropReported = false;
                         } else if (state == State::Waiting && !link.everConnected()) {
                             fail(monitor::connectFailureText(inv.ip, dataPort, reason));
                             exitCode = ExitUnreachable;
                             loop.quit();
                         } else if (state == State::Waiting && !dropReported) {
                             fail(QStringLiteral("%1: the data port connection was lost (%2); connecting again "
                                                 "every second")
                                      .arg(inv.ip, reason));
                             dropReported = true;
                         }
                     });
    QObject::connect(&input, &StdinLines::line, &loop, [&](const QByteArray &text) {
        const QByteArray bytes = monitor::lineToSend(QString::fromUtf8(text), inv.lineEnd);
        if (!link.everConnected())
            early << bytes;
        else if (!link.send(bytes))
            fail(QStringLiteral("%1: not connected; the line was not sent").arg(inv.ip));
    });
    QObject::connect(&interrupt, &InterruptSignal::interrupted, &loop, [&](int status) {
        exitCode = status;
        loop.quit();
    });
    QTimer end;
    if (inv.runSeconds > 0) {
        end.setSingleShot(true);
        QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
        end.start(int(std::lround(inv.runSeconds * 1000)));
    }
    link.open();
    loop.exec();
    link.close();
    return exitCode;
}

int runPluggableMonitor(const Invocation &inv)
{
    const int waitMs = int(std::lround(inv.seconds * 1000));
    monitor::PortBridge bridge(
        [waitMs](const QString &ip, QString *error) { return announcedDataPort(ip, waitMs, error); });
    monitor::PluggableMonitor protocol(&bridge);
    StdinLines input;
    QEventLoop loop;
    const auto reply = [](const QByteArray &message) {
        if (!message.isEmpty())
            writeOut(message + '\n');
    };
    // One command at a time: OPEN runs the event loop while it connects, and a line that comes
    // meanwhile waits for its reply.
    QByteArrayList waiting;
    bool handling = false;
    QObject::connect(&input, &StdinLines::line, &loop, [&](const QByteArray &line) {
        waiting << line;
        if (handling)
            return;
        handling = true;
        while (!waiting.isEmpty() && !protocol.quitRequested())
            reply(protocol.handle(waiting.takeFirst()));
        handling = false;
        if (protocol.quitRequested())
            loop.quit();
    });
    // The client is gone: nobody reads the replies any more.
    QObject::connect(&input, &StdinLines::closed, &loop, &QEventLoop::quit);
    QObject::connect(&bridge, &monitor::PortBridge::dropped, &loop,
                     [&](const QString &why) { reply(protocol.portClosed(why)); });
    loop.exec();
    bridge.close();
    return ExitSuccess;
}

} // namespace cli
