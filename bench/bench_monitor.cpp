// The serial monitor under a board that prints without a pause at the full line speed: a
// simulated UNO runs serialflood (numbered 64-byte lines, 115200 baud), first to `quarnel-cli
// monitor` (its standard output read here), then to the window's monitor (offscreen, in this
// process). A relay on a thread of its own stands between the module and the monitor and notes
// when each line's last byte left the module; the monitor side notes when that line reached
// standard output or the window's text. Reports how late lines arrive, whether any line was lost
// or changed, how late a 10 ms timer fires on the window's thread, and the window's line count.
//
//   bench_monitor [--seconds S] [--smoke]
#include "benchutil.h"
#include "monitorwindow.h"
#include "simprocess.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>
#include <QThread>

#include <chrono>
#include <vector>

using namespace bench;

namespace {

const char SimIp[] = "127.0.1.80";
const char RelayIp[] = "127.0.1.81";
const int DefaultSeconds = 60;
const int SmokeSeconds = 3;
const int BaselineShare = 6; // the unconnected window is probed for this share of the run
const int LineBytes = 64; // "NNNNNNNN " and 53 letters, CR LF
const QByteArray Letters = " abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.";

qint64 nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Splits a byte stream into the flood's lines and notes, per line number, the moment it was
// complete. Lines that are not the flood's (the first, cut by the connection's start) count as
// wrong only after the first good line.
class LineClock
{
public:
    void take(const QByteArray &bytes, qint64 atUs)
    {
        for (const char c : bytes) {
            if (c == '\r')
                continue;
            if (c != '\n') {
                line += c;
                continue;
            }
            bool number = false;
            const qint64 n = line.left(8).toLongLong(&number);
            if (number && line.size() == LineBytes - 2 && line.mid(8) == Letters) {
                if (first < 0)
                    first = n;
                if (n - first >= qint64(times.size()))
                    times.resize(size_t(n - first + 1), -1);
                times[size_t(n - first)] = atUs;
                last = n;
            } else if (first >= 0) {
                ++wrong;
            }
            line.clear();
        }
    }
    qint64 first = -1;
    qint64 last = -1;
    int wrong = 0;
    std::vector<qint64> times; // by line number - first; -1 for a line not seen

private:
    QByteArray line;
};

// Passes one connection to the module on, noting when each line left the module. Lives on a
// thread of its own, so that the monitor under test cannot delay its clock marks.
class TimedRelay : public QObject
{
public:
    explicit TimedRelay(quint16 modulePort)
        : modulePort(modulePort)
        , server(this) // a child, so that it moves to the relay's thread too
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            client = server.nextPendingConnection();
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            module = new QTcpSocket(this);
            connect(module, &QTcpSocket::readyRead, this, [this] {
                const QByteArray bytes = module->readAll();
                sent.take(bytes, nowUs());
                client->write(bytes);
            });
            connect(client, &QTcpSocket::readyRead, this, [this] { module->write(client->readAll()); });
            module->connectToHost(QHostAddress(QLatin1String(SimIp)), this->modulePort);
            module->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        });
    }
    bool listen() { return server.listen(QHostAddress(QLatin1String(RelayIp))); }
    quint16 port() const { return server.serverPort(); }
    LineClock sent;

private:
    quint16 modulePort;
    QTcpServer server;
    QTcpSocket *client = nullptr;
    QTcpSocket *module = nullptr;
};

// A TimedRelay on its own thread for one monitor run.
class RelayThread
{
public:
    explicit RelayThread(quint16 modulePort)
    {
        relay = new TimedRelay(modulePort);
        relay->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(relay, [this] { relayPort = relay->listen() ? relay->port() : 0; },
                                  Qt::BlockingQueuedConnection);
    }
    ~RelayThread() { stop(); }
    quint16 port() const { return relayPort; }
    // Ends the relay; what it noted.
    LineClock stop()
    {
        if (thread.isRunning()) {
            QMetaObject::invokeMethod(relay, [this] {
                noted = relay->sent;
                delete relay;
            }, Qt::BlockingQueuedConnection);
            thread.quit();
            thread.wait();
        }
        return noted;
    }

private:
    QThread thread;
    TimedRelay *relay;
    quint16 relayPort = 0;
    LineClock noted;
};

struct Result
{
    QVector<double> lateMs; // per line: reached the monitor minus left the module
    qint64 lines = 0;
    qint64 missing = 0; // between the first and the last line that arrived
    int wrong = 0;
    bool passed() const { return lines > 0 && missing == 0 && wrong == 0; }
};

Result compare(const LineClock &sent, const LineClock &got)
{
    Result r;
    r.wrong = got.wrong;
    for (qint64 n = got.first; n >= 0 && n <= got.last; ++n) {
        const qint64 g = n - got.first;
        const qint64 s = n - sent.first;
        if (got.times[size_t(g)] < 0) {
            ++r.missing;
            continue;
        }
        ++r.lines;
        if (sent.first >= 0 && s >= 0 && s < qint64(sent.times.size()) && sent.times[size_t(s)] >= 0)
            r.lateMs << double(got.times[size_t(g)] - sent.times[size_t(s)]) / 1000.0;
    }
    return r;
}

QString describeResult(const QString &what, const Result &r, int seconds)
{
    return QStringLiteral("%1: %2 lines in %3 s (%4 bytes/s), %5 missing, %6 changed; late after leaving the "
                          "module by median %7 ms, p99 %8 ms, max %9 ms")
        .arg(what)
        .arg(r.lines)
        .arg(seconds)
        .arg(r.lines * LineBytes / qMax(1, seconds))
        .arg(r.missing)
        .arg(r.wrong)
        .arg(percentile(r.lateMs, 50), 0, 'f', 2)
        .arg(percentile(r.lateMs, 99), 0, 'f', 2)
        .arg(percentile(r.lateMs, 100), 0, 'f', 2);
}

// quarnel-cli monitor, its standard output read here as it comes.
bool terminalMonitor(quint16 dataPort, int seconds)
{
    RelayThread relay(dataPort);
    LineClock got;
    QProcess cli;
    QObject::connect(&cli, &QProcess::readyReadStandardOutput, &cli,
                     [&] { got.take(cli.readAllStandardOutput(), nowUs()); });
    cli.start(QStringLiteral(QUARNEL_BIN_DIR "/quarnel-cli"), {"monitor", "--ip", RelayIp, "--data-port",
                                                                QString::number(relay.port()), "--seconds",
                                                                QString::number(seconds)});
    QEventLoop loop;
    QObject::connect(&cli, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    double cpu = -1;
    QTimer::singleShot(qMax(0, seconds * 1000 - 1000), &loop, [&] { cpu = processCpuSeconds(cli.processId()); });
    QTimer::singleShot((seconds + 10) * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const Result r = compare(relay.stop(), got);
    say(describeResult(QStringLiteral("quarnel-cli monitor"), r, seconds)
        + QStringLiteral("; its CPU %1 s").arg(cpu, 0, 'f', 2));
    return cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0 && r.passed();
}

// The window's monitor, offscreen in this process, with a timer probing its event loop.
bool windowMonitor(quint16 dataPort, int seconds)
{
    RelayThread relay(dataPort);
    LineClock got;
    MonitorWindow window(QLatin1String(RelayIp), relay.port(), QStringLiteral("flood"));
    window.show();
    auto *output = window.findChild<QPlainTextEdit *>();
    // Connected after the window's own handler: it runs once the text is in the window.
    QObject::connect(window.connection(), &monitor::MonitorConnection::received, &window,
                     [&](const QByteArray &bytes) { got.take(bytes, nowUs()); });
    LatencyProbe probe;
    const auto runFor = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    // Side by side: the same window unconnected first, for what the machine's load alone costs.
    probe.record(true);
    runFor(qMax(1, seconds / BaselineShare) * 1000);
    const QVector<double> idle = probe.take();
    const double cpuBefore = ownCpuSeconds();
    window.connection()->open();
    runFor(seconds * 1000);
    const double cpu = ownCpuSeconds() - cpuBefore;
    window.connection()->close();
    const QVector<double> late = probe.take();
    const Result r = compare(relay.stop(), got);
    const int blocks = output->document()->blockCount();
    say(describeResult(QStringLiteral("window's monitor"), r, seconds)
        + QStringLiteral("; this process's CPU %1 s").arg(cpu, 0, 'f', 2));
    const auto lateness = [](const QVector<double> &samples) {
        return QStringLiteral("median %1 ms, p99 %2 ms, max %3 ms (%4 samples)")
            .arg(percentile(samples, 50), 0, 'f', 2)
            .arg(percentile(samples, 99), 0, 'f', 2)
            .arg(percentile(samples, 100), 0, 'f', 2)
            .arg(samples.size());
    };
    say(QStringLiteral("  window's thread, 10 ms timer late by: while flooded %1; the same window unconnected "
                       "before %2")
            .arg(lateness(late), lateness(idle)));
    say(QStringLiteral("  lines the window keeps: %1 (at most %2)").arg(blocks).arg(monitor::TextFeed::ScrollBackLines));
    return r.passed() && blocks <= monitor::TextFeed::ScrollBackLines + 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    int seconds = options.smoke ? SmokeSeconds : DefaultSeconds;
    const int given = options.rest.indexOf(QStringLiteral("--seconds"));
    if (given >= 0)
        seconds = qMax(1, options.rest.value(given + 1).toInt());
    say(machineLine());

    SimProcess sim;
    if (!sim.start({"--ip", SimIp, "--board", "UNO", "--announce-ms", "0", "--app",
                    avrPath(QStringLiteral("serialflood.hex"))})) {
        say(QStringLiteral("cannot start the simulator: ") + sim.errorText());
        return 1;
    }
    const bool terminal = terminalMonitor(sim.dataPort(), seconds);
    const bool window = windowMonitor(sim.dataPort(), seconds);
    return terminal && window ? 0 : 1;
}
