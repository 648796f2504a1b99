// quarnel-cli monitor: glue between standard input and output and the widget-free monitor classes.

#include "monitorcommand.h"

#include "commandsupport.h"
#include "exitcodes.h"
#include "interruptsignal.h"
#include "modulescommand.h"
#include "monitorconnection.h"
#include "monitorlog.h"
#include "monitortext.h"
#include "outputqueue.h"
#include "platform.h"
#include "stdinlines.h"

#include <QEventLoop>
#include <QTime>
#include <QTimer>

#include <cmath>

namespace cli {

namespace {

const char MonitorHelp[] =
    "Usage: quarnel-cli monitor --ip IP [--data-port P] [--seconds N] [--eol lf|cr|crlf|none]\n"
    "                           [--timestamps] [--log FILE]\n"
    "A serial monitor over Wi-Fi: connects to the module's data port, a transparent pipe to the\n"
    "board's serial line at the module's line speed, without switching the module to upload\n"
    "mode or resetting the board. What the board sends goes to standard output as it comes,\n"
    "bytes unchanged; each line read from standard input is sent with the chosen line end. The\n"
    "end of standard input does not end the monitor; Ctrl-C does. A link that drops is reported\n"
    "in one line on standard error and connected again every second. The data port serves one\n"
    "client at a time: an upload to the module fails while a monitor holds it.\n"
    "\n"
    "Options:\n"
    "  --ip IP          the module's IPv4 address\n"
    "  --data-port P    the module's data port; when not given it is taken from the module's\n"
    "                   announcement on UDP port 3333 (waiting at most 5 s)\n"
    "  --seconds N      end after N seconds with status 0 (decimals allowed; at most 3600)\n"
    "  --eol END        the line end sent after each typed line: lf (default), cr, crlf, none\n"
    "  --timestamps     put the time each line began before it (HH:MM:SS.mmm -> )\n"
    "  -h, --help       this text\n"
    "\n";

// monitor: the module, its data port, how long to run, the line end, the time stamps and the log.
QList<QCommandLineOption> monitorOptions()
{
    return {valued("ip", "IP"), valued("data-port", "P"), valued("eol", "END"), flag("timestamps"),
            valued("log", "FILE")};
}

void parseMonitor(Arguments &args, Invocation *inv)
{
    // --seconds is how long the monitor runs; the announcement is waited for as long as ever.
    double runSeconds = 0;
    args.seconds(0, &runSeconds);
    inv->runSeconds = runSeconds;
    inv->seconds = DefaultAnnouncementSeconds;
    args.ip(&inv->ip);
    args.port("data-port", &inv->dataPort);
    inv->timestamps = args.isSet("timestamps");
    if (args.isSet("log") && args.value("log").isEmpty())
        args.fail(QStringLiteral("--log: expected a file name"));
    inv->logPath = args.value("log");
    if (args.isSet("eol") && !monitor::parseLineEnd(args.value("eol"), &inv->lineEnd))
        args.fail(QStringLiteral("--eol %1: expected one of %2")
                      .arg(args.value("eol"), monitor::lineEndNames().join(QLatin1String(", "))));
    args.noPositional();
}

QString monitorHelp()
{
    return QString::fromLatin1(MonitorHelp) + QLatin1String(MonitorExitHelp);
}

int runMonitor(const Invocation &inv)
{
    InterruptSignal interrupt;
    quint16 dataPort = inv.dataPort;
    int exitCode = ExitSuccess;
    if (dataPort == 0 && !modulePorts(inv, loadKnownModules(), &interrupt, inv.ip, &dataPort, nullptr, &exitCode))
        return exitCode;

    monitor::MonitorConnection link(inv.ip, dataPort);
    monitor::LineStamper stamper;
    StdinLines input(monitor::LineCutter::Overlong::Pieces);
    platform::binaryStream(stdout);
    OutputQueue output(platform::writeStandardOutput);
    QEventLoop loop;
    bool dropReported = false;
    QByteArrayList early; // bytes typed (or piped) before the first connection stood; sent once it does
    monitor::MonitorLog log;
    QObject::connect(&log, &monitor::MonitorLog::failed, &loop, [](const QString &message) { fail(message); });
    QString logError;
    if (!inv.logPath.isEmpty() && !log.start(inv.logPath, &logError))
        fail(logError + QStringLiteral("; the monitor goes on without it"));

    QObject::connect(&link, &monitor::MonitorConnection::received, &loop, [&](const QByteArray &bytes) {
        const QByteArray shown = inv.timestamps ? stamper.stamp(bytes, QTime::currentTime()) : bytes;
        output.write(shown);
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
    const auto send = [&](const QByteArray &bytes) {
        if (!link.everConnected())
            early << bytes;
        else if (!link.send(bytes))
            fail(QStringLiteral("%1: not connected; the line was not sent").arg(inv.ip));
    };
    QObject::connect(&input, &StdinLines::piece, &loop, send);
    QObject::connect(&input, &StdinLines::line, &loop,
                     [&](const QByteArray &text) { send(monitor::lineToSend(text, inv.lineEnd)); });
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
    if (const qint64 lost = output.finish(OutputQueue::FinishWait)) {
        fail(QStringLiteral("%1: %2 bytes the board sent were not written: standard output %3")
                 .arg(inv.ip)
                 .arg(lost)
                 .arg(output.failed() ? QStringLiteral("cannot be written")
                                      : QStringLiteral("did not take them in time")));
        if (exitCode == ExitSuccess)
            exitCode = ExitOutputLost;
    }
    return exitCode;
}

} // namespace

const CommandRow MonitorCommand = {
    Command::Monitor, "monitor",
    "show what the board sends on its serial line, send what is typed",
    monitorOptions, parseMonitor, monitorHelp, runMonitor};

} // namespace cli
