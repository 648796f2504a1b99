// Upload speed: the window's upload worker against avrdude (with and without read-back), through
// the same simulated module into the same real bootloader, with the same image, side by side in
// one run; and both against the serial line's floor for that image. Each upload goes into a quiet
// board and into one whose application prints without a pause until the reset.
//
//   bench_upload [--reps N] [--boards UNO,MEGA2560] [--delays 0,5] [--running quiet,flooding]
//                [--quiet-ms Q] [--no-read-back] [--smoke]
// --quiet-ms is the simulated module's packing of board replies (how long the serial line must be
// quiet before what came goes to the host); without it the simulator's default holds.
// --no-read-back leaves out avrdude with its read-back, the slowest of the three, for long runs.
#include "benchutil.h"
#include "byterelay.h"
#include "simprocess.h"
#include "thread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>

using namespace upload;

using namespace bench;

namespace {

const int Baud = 115200;
const int BitsPerByte = 10; // 8N1
// The simulated board's self-programming times (sim/avrboard.cpp): each page is erased, then
// written, 4 ms each.
const double PageEraseMs = 4.0;
const double PageWriteMs = 4.0;
const int RunMs = 600000; // the longest single upload waited for
const int DefaultReps = 3;
// Untimed, before each run: the module listens again only a moment after its last client left
// (the simulator's default, 100 ms); a person's next upload comes later than that.
const int RelistenPauseMs = 300;

struct BoardCase
{
    QString board;
    int imageSize;
    int pageBytes;
    QString ip;
    QStringList avrdudePart;
    int erasedBelow; // the bootloader erases the pages it writes below this address
    QString floodProgram; // build/avr/<name>.hex and .bin: prints without a pause
    bool uno() const { return board == QLatin1String("UNO"); }
};

struct Tool
{
    QString name;
    QVector<double> seconds;
};

// What the board runs before each upload. A flooding board starts with the serial flood program,
// and the images uploaded into it begin with that program too, so that the next upload finds it
// flooding again; a quiet board's images begin with a program that sleeps.
enum class Running { Quiet, Flooding };

QString nameOf(Running running)
{
    return running == Running::Quiet ? QStringLiteral("quiet") : QStringLiteral("flooding");
}

// One upload's images: two different ones, used in turn, so that every run must really write.
// The MEGA2560's bootloader erases a page before writing it only below 0x3C000 (it reckons with a
// 16 KiB boot section; its own is 8 KiB), and above that a write can only clear bits of what is
// there; so the two images differ only below `distinct`.
struct Images
{
    QString bin[2];
    QString hex[2];
    QByteArray bytes[2];
};

bool makeImages(const QString &dir, const BoardCase &c, Running running, Images *images)
{
    const int distinct = qMin(c.imageSize, c.erasedBelow);
    const QByteArray flood = readFile(avrPath(c.floodProgram + QStringLiteral(".bin")));
    if (running == Running::Flooding && (flood.isEmpty() || flood.size() >= distinct / 2)) {
        std::fprintf(stderr, "no serial flood program to begin the images with: %s.bin\n", qPrintable(c.floodProgram));
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        images->bytes[i] = sleepingImage(c.imageSize, quint32(c.imageSize * 7 + 1));
        const QByteArray own = sleepingImage(distinct, quint32(c.imageSize * 7 + i + 2));
        images->bytes[i].replace(0, distinct, own);
        if (running == Running::Flooding)
            images->bytes[i].replace(0, flood.size(), flood);
        const QString name = QStringLiteral("%1/%2-%3-%4").arg(dir, c.board, nameOf(running)).arg(i);
        images->bin[i] = name + QStringLiteral(".bin");
        images->hex[i] = name + QStringLiteral(".hex");
        if (!writeFile(images->bin[i], images->bytes[i])
            || !objcopy({"-I", "binary", "-O", "ihex", images->bin[i], images->hex[i]}))
            return false;
    }
    return true;
}

// Our upload: the worker the window starts, on its own thread, from start to its verdict.
bool runOurs(const QString &ip, quint16 dataPort, quint16 atPort, const BoardCase &c, const QString &bin,
             double *seconds)
{
    Thread worker(QString::number(atPort), QString::number(dataPort), ip, c.board);
    worker.setImagePath(bin);
    QElapsedTimer clock;
    clock.start();
    worker.start();
    if (!worker.wait(RunMs)) {
        std::fprintf(stderr, "our upload did not finish within %d ms\n", RunMs);
        worker.requestInterruption();
        worker.wait();
        return false;
    }
    *seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!worker.outcome().succeeded()) {
        std::fprintf(stderr, "our upload failed: %s\n", qPrintable(worker.outcome().text()));
        return false;
    }
    return true;
}

// avrdude, timed from the AT-command connection (the mode switch is part of every upload) to its
// exit; the AT connection is held while it runs, as the bootloaders wait only about a second.
bool runAvrdude(SimProcess &sim, const BoardCase &c, const QString &hex, bool readBack, double *seconds)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    if (program.isEmpty()) {
        std::fprintf(stderr, "avrdude is not installed (scripts/install-deps installs it)\n");
        return false;
    }
    QStringList arguments = c.avrdudePart;
    arguments << QStringLiteral("-P") << QStringLiteral("net:%1:%2").arg(sim.ip().toString()).arg(sim.dataPort())
              << QStringLiteral("-U") << QStringLiteral("flash:w:%1:i").arg(hex);
    if (!readBack)
        arguments << QStringLiteral("-V");

    QElapsedTimer clock;
    clock.start();
    QTcpSocket at;
    at.connectToHost(sim.ip(), sim.atPort());
    if (!at.waitForConnected(5000) || !atModeSwitch(at, c.uno())) {
        std::fprintf(stderr, "the module's AT port did not answer\n");
        return false;
    }
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(program, arguments);
    const bool finished = run.waitForFinished(RunMs);
    *seconds = double(clock.nsecsElapsed()) / 1e9;
    const QByteArray log = run.readAll();
    if (!finished || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0) {
        std::fprintf(stderr, "avrdude failed:\n%s\n", log.constData());
        return false;
    }
    return true;
}

bool flashHolds(SimProcess &sim, const QByteArray &image, const QString &who)
{
    const QByteArray flash = sim.flash();
    if (flash.left(image.size()) == image)
        return true;
    int at = 0;
    while (at < image.size() && at < flash.size() && flash.at(at) == image.at(at))
        ++at;
    std::fprintf(stderr, "after %s the simulated flash differs from the image at 0x%x (flash %d bytes) %s\n",
                 qPrintable(who), at, int(flash.size()), qPrintable(sim.errorText()));
    return false;
}

// Our upload once more, through a relay that counts the bytes crossing the data connection (the
// module passes them unchanged to and from the serial line). Not timed.
bool countSerialBytes(SimProcess &sim, const BoardCase &c, const QString &bin, RelayCounts *counts)
{
    ByteRelay data(sim.ip(), sim.dataPort());
    ByteRelay at(sim.ip(), sim.atPort());
    if (!data.listen() || !at.listen())
        return false;
    Thread worker(QString::number(at.port()), QString::number(data.port()), ByteRelay::Address.toString(), c.board);
    worker.setImagePath(bin);
    QEventLoop loop;
    QObject::connect(&worker, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    QTimer::singleShot(RunMs, &loop, &QEventLoop::quit);
    worker.start();
    loop.exec();
    worker.wait();
    *counts = data.counts();
    if (!worker.outcome().succeeded()) {
        std::fprintf(stderr, "the counted upload failed: %s\n", qPrintable(worker.outcome().text()));
        return false;
    }
    return true;
}

QList<Running> runningList(const QString &text)
{
    QList<Running> list;
    for (const Running running : {Running::Quiet, Running::Flooding}) {
        if (text.split(QLatin1Char(',')).contains(nameOf(running)))
            list << running;
    }
    return list;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    const int reps = options.repetitions(DefaultReps);
    QStringList boards{QStringLiteral("UNO"), QStringLiteral("MEGA2560")};
    QList<int> delays{0, 5};
    QString quietMs;
    bool readBack = true;
    QList<Running> runnings{Running::Quiet, Running::Flooding};
    for (int i = 0; i < options.rest.size(); ++i) {
        if (options.rest.at(i) == QLatin1String("--boards") && i + 1 < options.rest.size())
            boards = options.rest.at(++i).split(QLatin1Char(','), Qt::SkipEmptyParts);
        else if (options.rest.at(i) == QLatin1String("--delays") && i + 1 < options.rest.size())
            delays = intList(options.rest.at(++i));
        else if (options.rest.at(i) == QLatin1String("--quiet-ms") && i + 1 < options.rest.size())
            quietMs = options.rest.at(++i);
        else if (options.rest.at(i) == QLatin1String("--no-read-back"))
            readBack = false;
        else if (options.rest.at(i) == QLatin1String("--running") && i + 1 < options.rest.size())
            runnings = runningList(options.rest.at(++i));
    }
    if (options.smoke)
        delays = {0};

    // The smoke keeps every path (both protocols, all three uploaders, the count) on small images.
    const QList<BoardCase> cases = {
        {QStringLiteral("UNO"), options.smoke ? 4096 : 32256, 128, QStringLiteral("127.0.1.2"),
         {"-c", "arduino", "-p", "atmega328p"}, 0x8000, QStringLiteral("serialflood")},
        {QStringLiteral("MEGA2560"), options.smoke ? 8192 : 253952, 256, QStringLiteral("127.0.1.3"),
         {"-c", "wiring", "-p", "atmega2560", "-D"}, 0x3C000, QStringLiteral("serialflood_mega")},
    };

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    say(QStringLiteral("# Upload speed through quarnel-sim at %1 baud, module packing quiet time %2, %3 repetition(s)")
            .arg(Baud)
            .arg(quietMs.isEmpty() ? QStringLiteral("the simulator's default") : quietMs + QStringLiteral(" ms"))
            .arg(reps));
    say(QStringLiteral("# %1").arg(machineLine()));

    QStringList ratios;
    QStringList floodCosts;
    for (const BoardCase &c : cases) {
        if (!boards.contains(c.board))
            continue;
        Images images[2];
        for (const Running running : runnings) {
            if (!makeImages(dir.path(), c, running, &images[int(running)]))
                return 1;
        }
        const int pages = (c.imageSize + c.pageBytes - 1) / c.pageBytes;
        double floorSeconds = 0;
        qint64 bursts = 0;
        for (int delay : delays) {
            double oursQuiet = 0;
            double avrdudeQuiet = 0;
            for (const Running running : runnings) {
                const Images &image = images[int(running)];
                SimProcess sim;
                QStringList simArguments{"--ip", c.ip, "--board", c.board, "--announce-ms", "0", "--baud",
                                         QString::number(Baud), "--delay-ms", QString::number(delay)};
                if (!quietMs.isEmpty())
                    simArguments << QStringLiteral("--quiet-ms") << quietMs;
                if (running == Running::Flooding)
                    simArguments << QStringLiteral("--app") << avrPath(c.floodProgram + QStringLiteral(".hex"));
                if (!sim.start(simArguments)) {
                    std::fprintf(stderr, "quarnel-sim: %s\n", qPrintable(sim.errorText()));
                    return 1;
                }
                // The line's floor counts the upload's own bytes: on a quiet board only.
                if (floorSeconds == 0 && running == Running::Quiet) {
                    RelayCounts counts;
                    if (!countSerialBytes(sim, c, image.bin[1], &counts)
                        || !flashHolds(sim, image.bytes[1], QStringLiteral("the counted upload")))
                        return 1;
                    const double lineSeconds = double(counts.toTarget + counts.fromTarget) * BitsPerByte / Baud;
                    floorSeconds = lineSeconds + pages * (PageEraseMs + PageWriteMs) / 1000.0;
                    bursts = counts.bursts;
                    say(QStringLiteral("%1: %2-byte image, %3 pages of %4 bytes; serial line: %5 bytes to the board, "
                                       "%6 from it, %7 request bursts")
                            .arg(c.board)
                            .arg(c.imageSize)
                            .arg(pages)
                            .arg(c.pageBytes)
                            .arg(counts.toTarget)
                            .arg(counts.fromTarget)
                            .arg(counts.bursts));
                    say(QStringLiteral("%1: floor %2 s = %3 s of line time (10 bits a byte) + %4 pages x %5 ms erase and write")
                            .arg(c.board)
                            .arg(floorSeconds, 0, 'f', 3)
                            .arg(lineSeconds, 0, 'f', 3)
                            .arg(pages)
                            .arg(PageEraseMs + PageWriteMs, 0, 'f', 0));
                }

                QVector<Tool> tools{{QStringLiteral("ours"), {}}, {QStringLiteral("avrdude -V"), {}}};
                if (readBack)
                    tools.append({QStringLiteral("avrdude (read-back)"), {}});
                int run = 0;
                for (int rep = 0; rep < reps; ++rep) {
                    for (int t = 0; t < tools.size(); ++t, ++run) {
                        const int which = run % 2;
                        double seconds = 0;
                        QThread::msleep(RelistenPauseMs);
                        const bool ok = t == 0 ? runOurs(c.ip, sim.dataPort(), sim.atPort(), c, image.bin[which], &seconds)
                                               : runAvrdude(sim, c, image.hex[which], t == 2, &seconds);
                        if (!ok || !flashHolds(sim, image.bytes[which], tools[t].name))
                            return 1;
                        tools[t].seconds << seconds;
                    }
                }
                if (!sim.stop())
                    std::fprintf(stderr, "quarnel-sim did not stop cleanly: %s\n", qPrintable(sim.errorText()));

                const QString where = QStringLiteral("%1, delay %2 ms, %3 board").arg(c.board).arg(delay).arg(nameOf(running));
                for (const Tool &tool : tools)
                    say(QStringLiteral("%1, %2: %3 s").arg(where).arg(tool.name, -20).arg(describe(statsOf(tool.seconds))));
                const double ours = statsOf(tools[0].seconds).median;
                const double avrdude = statsOf(tools[1].seconds).median;
                // With added latency every request waits a round trip before its answer can start.
                const double roundTrips = double(bursts) * 2 * delay / 1000.0;
                ratios << QStringLiteral("%1: ours / avrdude -V %2%3%4%5")
                              .arg(where, -33)
                              .arg(ours / avrdude, 0, 'f', 3)
                              .arg(readBack ? QStringLiteral("   ours / avrdude %1")
                                                  .arg(ours / statsOf(tools[2].seconds).median, 0, 'f', 3)
                                            : QString())
                              .arg(floorSeconds > 0 ? QStringLiteral("   ours / floor %1").arg(ours / floorSeconds, 0, 'f', 3)
                                                    : QString())
                              .arg(delay > 0 && floorSeconds > 0
                                       ? QStringLiteral("   ours / (floor + %1 round trips) %2")
                                             .arg(bursts)
                                             .arg(ours / (floorSeconds + roundTrips), 0, 'f', 3)
                                       : QString());
                if (running == Running::Quiet) {
                    oursQuiet = ours;
                    avrdudeQuiet = avrdude;
                } else if (oursQuiet > 0) {
                    floodCosts << QStringLiteral("%1, delay %2 ms: ours %3 s   avrdude -V %4 s")
                                      .arg(c.board, -8)
                                      .arg(delay)
                                      .arg(ours - oursQuiet, 0, 'f', 2)
                                      .arg(avrdude - avrdudeQuiet, 0, 'f', 2);
                }
            }
        }
    }
    say(QStringLiteral("# Ratios (medians; below 1 means ours is faster)"));
    for (const QString &line : ratios)
        say(line);
    if (!floodCosts.isEmpty()) {
        say(QStringLiteral("# What a flooding board costs over a quiet one (medians)"));
        for (const QString &line : floodCosts)
            say(line);
    }
    return 0;
}
