// Discovery at scale: 50, 250 and 1,000 announce-only simulated modules against the real window
// (offscreen). Every row present and correct, rows of stopped modules gone, how late a 10 ms timer
// fires on the window's event loop, and the CPU the window takes.
// With --flood: N distinct announcements in S seconds, each from a loopback address of its own
// (127.64.0.0 and up), against the window: the longest stall of its event loop, and its memory
// before, at the peak and after the flood's rows have left.
//
//   bench_discovery [--sizes 50,250,1000] [--steady-s S] [--smoke]
//   bench_discovery --flood [--count N] [--flood-s S]
// The window binds UDP 3333: nothing else may listen there during the run.
#include "benchutil.h"
#include "devicecolumns.h"
#include "discoveryconstants.h"
#include "simprocess.h"
#include "widget.h"
#include "widgetinspector.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace bench;

namespace {

const int AnnounceMs = 2000;
const int PollMs = 100;        // how often the harness looks at the table
const int FillLimitMs = 15000; // every row should be there after one announcement round
const int GoneLimitMs = 20000; // waited for departed rows, well past the 8 s they may take
const int SimStartMs = 60000;  // a thousand modules take a moment to open their ports
const quint32 FirstIp = (127u << 24) | (2u << 8) | 2u; // 127.0.2.2
const quint16 DataPort = 8000;
const quint32 FloodFirstIp = (127u << 24) | (64u << 16); // 127.64.0.0
const int FloodGoneLimitMs = 120000; // waited for the flood's rows to leave
const int SettleMs = 2000;           // after the last row left, for deferred deletions

// Runs the event loop until `done` holds (checked every PollMs) or limitMs pass; the time taken
// in ms, or -1.
qint64 runUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= limitMs)
            loop.quit();
    });
    poll.start(PollMs);
    if (!done())
        loop.exec();
    return done() ? clock.elapsed() : -1;
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

struct Expected
{
    QString name;
    QString atPort;
};

struct Phase
{
    QString name;
    QVector<double> late;
    double seconds = 0;
    double cpuSeconds = 0;
};

QString describePhase(const Phase &p)
{
    return QStringLiteral("%1: timer late by median %2 ms, p99 %3 ms, max %4 ms (%5 samples); window CPU %6 %")
        .arg(p.name, -10)
        .arg(percentile(p.late, 50), 0, 'f', 2)
        .arg(percentile(p.late, 99), 0, 'f', 2)
        .arg(percentile(p.late, 100), 0, 'f', 2)
        .arg(p.late.size())
        .arg(p.seconds > 0 ? 100.0 * p.cpuSeconds / p.seconds : 0.0, 0, 'f', 1);
}

bool startModules(SimProcess &sim, quint32 firstIp, int count, const QString &name)
{
    if (sim.start({"--board", "none", "--ip", QHostAddress(firstIp).toString(), "--count", QString::number(count),
                   "--name", name, "--announce-ms", QString::number(AnnounceMs), "--data-port",
                   QString::number(DataPort)},
                  SimStartMs))
        return true;
    std::fprintf(stderr, "quarnel-sim: %s\n", qPrintable(sim.errorText()));
    return false;
}

void expectModules(const SimProcess &sim, int count, const QString &name, QHash<QString, Expected> *expected)
{
    for (int i = 0; i < count; ++i)
        expected->insert(sim.ip(i).toString(),
                         {count == 1 ? name : QStringLiteral("%1-%2").arg(name).arg(i + 1), QString::number(sim.atPort())});
}

QString cellText(QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

// Rows that match `expected` exactly, each once; mismatches and repeats go to *wrong. Rows of
// other modules (another program's simulator announcing to this machine) are counted in *foreign.
int matchingRows(QTableWidget *table, const QHash<QString, Expected> &expected, QStringList *wrong,
                 int *foreign = nullptr)
{
    QSet<QString> seen;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString ip = cellText(table, row, discovery::ColumnIp);
        const auto it = expected.find(ip);
        if (it == expected.end()) {
            if (foreign)
                ++*foreign;
            continue;
        }
        if (seen.contains(ip)) {
            if (wrong)
                *wrong << QStringLiteral("repeated row %1").arg(ip);
            continue;
        }
        const bool right = cellText(table, row, discovery::ColumnName) == it->name
                           && cellText(table, row, discovery::ColumnDataPort) == QString::number(DataPort)
                           && cellText(table, row, discovery::ColumnAtPort) == it->atPort;
        if (right)
            seen.insert(ip);
        else if (wrong)
            *wrong << QStringLiteral("row %1 reads %2 / %3 / %4")
                          .arg(ip, cellText(table, row, discovery::ColumnName),
                               cellText(table, row, discovery::ColumnDataPort),
                               cellText(table, row, discovery::ColumnAtPort));
    }
    return seen.size();
}

// Sockets bound to the announcement port on this machine (from /proc/net/udp and udp6); more than
// the window's one means another program may be taking announcements meant for the window.
int announcementPortSockets()
{
    const QByteArray port = QByteArray::number(discovery::AnnouncementPort, 16).toUpper().rightJustified(4, '0');
    int sockets = 0;
    for (const char *table : {"/proc/net/udp", "/proc/net/udp6"}) {
        for (const QByteArray &line : readFile(QLatin1String(table)).split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 1 && fields.at(1).endsWith(":" + port))
                ++sockets;
        }
    }
    return sockets;
}

int rowsOf(QTableWidget *table, const QHash<QString, Expected> &modules)
{
    int n = 0;
    for (int row = 0; row < table->rowCount(); ++row)
        n += modules.contains(cellText(table, row, discovery::ColumnIp)) ? 1 : 0;
    return n;
}

struct SizeResult
{
    int modules = 0;
    bool allRows = false;
    bool stayersKept = false;
    double fillSeconds = -1;
    double goneSeconds = -1;
    Phase steady;
};

bool runSize(int modules, int steadyMs, SizeResult *result)
{
    result->modules = modules;
    const int leaving = qMax(5, modules / 10);
    const int staying = modules - leaving;

    Widget window;
    window.show();
    WidgetInspector inspect{window};
    QTableWidget *table = inspect.table();
    LatencyProbe probe;

    SimProcess stayers;
    SimProcess leavers;
    if (!startModules(stayers, FirstIp, staying, QStringLiteral("stay"))
        || !startModules(leavers, FirstIp + quint32(staying), leaving, QStringLiteral("leave")))
        return false;
    QHash<QString, Expected> stay;
    QHash<QString, Expected> leave;
    expectModules(stayers, staying, QStringLiteral("stay"), &stay);
    expectModules(leavers, leaving, QStringLiteral("leave"), &leave);
    QHash<QString, Expected> all = stay;
    all.insert(leave);

    Phase fill{QStringLiteral("filling"), {}, 0, 0};
    const double cpu0 = ownCpuSeconds();
    probe.record(true);
    int sharers = 0;
    const qint64 fillMs = runUntil([&] {
        sharers = qMax(sharers, announcementPortSockets() - 1);
        return matchingRows(table, all, nullptr) >= modules;
    }, FillLimitMs);
    fill.late = probe.take();
    fill.cpuSeconds = ownCpuSeconds() - cpu0;
    fill.seconds = fillMs >= 0 ? double(fillMs) / 1000.0 : FillLimitMs / 1000.0;
    result->fillSeconds = fillMs >= 0 ? double(fillMs) / 1000.0 : -1;

    // Steady: every module announces every 2 s; the table must stay whole and right.
    int fewest = rowsOf(table, all);
    QElapsedTimer clock;
    clock.start();
    const double cpu1 = ownCpuSeconds();
    runUntil([&] {
        fewest = qMin(fewest, rowsOf(table, all));
        return false;
    }, steadyMs);
    sharers = qMax(sharers, announcementPortSockets() - 1);
    result->steady = {QStringLiteral("steady"), probe.take(), double(clock.nsecsElapsed()) / 1e9,
                      ownCpuSeconds() - cpu1};
    QStringList wrong;
    int foreign = 0;
    const int matching = matchingRows(table, all, &wrong, &foreign);
    result->allRows = matching == modules && wrong.isEmpty() && fewest == modules;

    // Departure: one module in ten stops; its rows go, the others stay.
    if (!leavers.stop())
        std::fprintf(stderr, "the leaving modules did not stop cleanly\n");
    clock.restart();
    const double cpu2 = ownCpuSeconds();
    int fewestStaying = staying;
    const qint64 goneMs = runUntil([&] {
        fewestStaying = qMin(fewestStaying, rowsOf(table, stay));
        return rowsOf(table, leave) == 0;
    }, GoneLimitMs);
    Phase departure{QStringLiteral("departure"), probe.take(), double(clock.nsecsElapsed()) / 1e9,
                    ownCpuSeconds() - cpu2};
    probe.record(false);
    result->goneSeconds = goneMs >= 0 ? double(goneMs) / 1000.0 : -1;
    result->stayersKept = fewestStaying == staying && matchingRows(table, stay, nullptr) == staying;
    sharers = qMax(sharers, announcementPortSockets() - 1);

    say(QStringLiteral("%1 modules (%2 stay, %3 stop):").arg(modules).arg(staying).arg(leaving));
    say(QStringLiteral("  all %1 rows in %2 s (-1: not within the limit); %3 of %4 rows right after %5 s of steady announcements%6")
            .arg(modules)
            .arg(result->fillSeconds, 0, 'f', 2)
            .arg(matching)
            .arg(modules)
            .arg(steadyMs / 1000)
            .arg(fewest < modules ? QStringLiteral(" (the table fell to %1 rows meanwhile)").arg(fewest) : QString()));
    for (const QString &w : wrong.mid(0, 5))
        say(QStringLiteral("  wrong: %1").arg(w));
    if (foreign > 0)
        say(QStringLiteral("  (and %1 rows of modules this benchmark did not start: other programs announce to this "
                           "machine too)").arg(foreign));
    if (sharers > 0)
        say(QStringLiteral("  WARNING: %1 other socket(s) listened on UDP %2 during this run and may have taken "
                           "announcements meant for the window").arg(sharers).arg(discovery::AnnouncementPort));
    say(QStringLiteral("  rows of the %1 stopped modules gone %2 s after the stop (-1: not within the limit); the other %3 rows %4")
            .arg(leaving)
            .arg(result->goneSeconds, 0, 'f', 2)
            .arg(staying)
            .arg(result->stayersKept ? QStringLiteral("all stayed") : QStringLiteral("did NOT all stay")));
    for (const Phase &p : {fill, result->steady, departure})
        say(QStringLiteral("  ") + describePhase(p));
    if (!stayers.stop())
        std::fprintf(stderr, "the staying modules did not stop cleanly\n");
    return true;
}


// Resident and peak resident memory of this process from /proc/self/status, in MiB.
double statusMiB(const char *field)
{
    for (const QByteArray &line : readFile(QStringLiteral("/proc/self/status")).split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).simplified().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Sends `count` distinct announcements to 127.0.0.1:3333, evenly over `ms`, each from a socket
// bound to a loopback address of its own, on a thread of its own; stops by itself.
class Flood
{
public:
    Flood(int count, int ms)
        : worker([this, count, ms] { run(count, ms); })
    {
    }
    ~Flood() { worker.join(); }
    bool finished() const { return done; }
    int failures() const { return failed; }

private:
    void run(int count, int ms)
    {
        const auto start = std::chrono::steady_clock::now();
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(discovery::AnnouncementPort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(qint64(ms) * 1000 * i / count));
            const quint32 ip = FloodFirstIp + quint32(i) + 1;
            const QByteArray ipText = QHostAddress(ip).toString().toLatin1();
            const QByteArray payload = "{\"host ip\":\"" + ipText + "\",\"atcomd port\":8001,\"data port\":8000,"
                                       "\"hostname\":\"flood-" + QByteArray::number(i) + "\"}";
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl(ip);
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            const bool sent = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0
                              && ::sendto(fd, payload.constData(), size_t(payload.size()), 0,
                                          reinterpret_cast<sockaddr *>(&to), sizeof to) == payload.size();
            if (!sent)
                ++failed;
            if (fd >= 0)
                ::close(fd);
        }
        done = true;
    }

    std::atomic<bool> done{false};
    std::atomic<int> failed{0};
    std::thread worker;
};

int floodRows(QTableWidget *table)
{
    int n = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        bool isIpv4 = false;
        const quint32 ip = QHostAddress(cellText(table, row, discovery::ColumnIp)).toIPv4Address(&isIpv4);
        n += isIpv4 && (ip >> 16) == (FloodFirstIp >> 16) ? 1 : 0;
    }
    return n;
}

bool runFlood(int count, int floodMs)
{
    Widget window;
    window.show();
    WidgetInspector inspect{window};
    QTableWidget *table = inspect.table();
    LatencyProbe probe;
    runFor(1000);
    const double before = statusMiB("VmRSS:");
    // Resets the peak (VmHWM) to the resident size now.
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    const bool peakReset = clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
    clearRefs.close();

    QElapsedTimer clock;
    clock.start();
    probe.record(true);
    int mostRows = 0;
    double floodSeconds = 0;
    {
        Flood flood(count, floodMs);
        runUntil([&] {
            mostRows = qMax(mostRows, floodRows(table));
            return flood.finished();
        }, floodMs * 10);
        floodSeconds = double(clock.elapsed()) / 1000.0;
        if (flood.failures() > 0)
            say(QStringLiteral("  WARNING: %1 announcements could not be sent").arg(flood.failures()));
    }
    const qint64 goneMs = runUntil([&] {
        mostRows = qMax(mostRows, floodRows(table));
        return floodRows(table) == 0;
    }, FloodGoneLimitMs);
    const double goneSeconds = double(clock.elapsed()) / 1000.0;
    runFor(SettleMs);
    probe.record(false);
    const QVector<double> late = probe.take();
    const double peak = statusMiB("VmHWM:");
    const double after = statusMiB("VmRSS:");

    say(QStringLiteral("%1 distinct announcements in %2 s (sent over %3 s):").arg(count).arg(floodMs / 1000).arg(floodSeconds, 0, 'f', 1));
    say(QStringLiteral("  at most %1 flood rows at once; all gone %2 s after the flood began%3")
            .arg(mostRows)
            .arg(goneSeconds, 0, 'f', 1)
            .arg(goneMs < 0 ? QStringLiteral(" (NOT all gone within the limit)") : QString()));
    say(QStringLiteral("  longest event-loop stall (10 ms timer late by) %1 ms; p99 %2 ms; median %3 ms (%4 samples)")
            .arg(percentile(late, 100), 0, 'f', 0)
            .arg(percentile(late, 99), 0, 'f', 1)
            .arg(percentile(late, 50), 0, 'f', 2)
            .arg(late.size()));
    say(QStringLiteral("  memory (resident): before %1 MiB, peak %2 MiB%3, after %4 MiB")
            .arg(before, 0, 'f', 1)
            .arg(peak, 0, 'f', 1)
            .arg(peakReset ? QString() : QStringLiteral(" (process peak: could not reset)"))
            .arg(after, 0, 'f', 1));
    return goneMs >= 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The window refreshes its default firmware file every 2 s from the Temp directory and traces
    // the listings into ./log.txt: give it an empty Temp directory and a working directory of its own.
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    enterWindowSandbox(work.path());

    QApplication app(argc, argv);
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    QList<int> sizes{50, 250, 1000};
    int steadyMs = 20000;
    int floodCount = 20000;
    int floodMs = 10000;
    const bool flood = options.rest.contains(QStringLiteral("--flood"));
    for (int i = 0; i + 1 < options.rest.size(); ++i) {
        if (options.rest.at(i) == QLatin1String("--sizes")) {
            sizes.clear();
            for (int n : intList(options.rest.at(i + 1)))
                sizes << qBound(1, n, 4000);
        } else if (options.rest.at(i) == QLatin1String("--steady-s")) {
            steadyMs = qBound(1, options.rest.at(i + 1).toInt(), 600) * 1000;
        } else if (options.rest.at(i) == QLatin1String("--count")) {
            floodCount = qBound(1, options.rest.at(i + 1).toInt(), 100000);
        } else if (options.rest.at(i) == QLatin1String("--flood-s")) {
            floodMs = qBound(1, options.rest.at(i + 1).toInt(), 60) * 1000;
        }
    }
    if (options.smoke) {
        sizes = {50};
        steadyMs = 2000;
    }

    if (announcementPortSockets() > 0)
        say(QStringLiteral("# WARNING: another program listens on UDP %1; it may take announcements meant for the "
                           "window").arg(discovery::AnnouncementPort));
    if (flood) {
        say(QStringLiteral("# Discovery flood against the window, offscreen; %1").arg(machineLine()));
        return runFlood(floodCount, floodMs) ? 0 : 2;
    }
    say(QStringLiteral("# Discovery: announce-only modules every %1 ms against the window, offscreen").arg(AnnounceMs));
    say(QStringLiteral("# %1").arg(machineLine()));
    QList<SizeResult> results;
    for (int n : sizes) {
        SizeResult r;
        if (!runSize(n, steadyMs, &r))
            return 1;
        results << r;
        runFor(500); // the sockets of the last size close before the next binds
    }
    say(QStringLiteral("# Results (steady phase)"));
    bool ok = true;
    for (const SizeResult &r : results) {
        say(QStringLiteral("%1 modules: rows %2, departed rows gone in %3 s, stayers %4, timer late p50 %5 ms p99 %6 ms, "
                           "window CPU %7 %")
                .arg(r.modules, 4)
                .arg(r.allRows ? QStringLiteral("all present and right") : QStringLiteral("MISSING OR WRONG"))
                .arg(r.goneSeconds, 0, 'f', 2)
                .arg(r.stayersKept ? QStringLiteral("kept") : QStringLiteral("LOST"))
                .arg(percentile(r.steady.late, 50), 0, 'f', 2)
                .arg(percentile(r.steady.late, 99), 0, 'f', 2)
                .arg(100.0 * r.steady.cpuSeconds / r.steady.seconds, 0, 'f', 1));
        ok = ok && r.allRows && r.stayersKept && r.goneSeconds >= 0;
    }
    // A benchmark reports; the exit code says only whether the run itself worked.
    return ok ? 0 : 2;
}
