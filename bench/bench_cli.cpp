// quarnel-cli on a bench of 8 simulated UNO boards: one `quarnel-cli upload --all` against one
// command with 8 --ip, 8 quarnel-cli processes and 8 avrdude processes started together (wall
// time and the CPU the uploading processes took); then one board whose link drops half-way: the
// time --retries 1 loses against a clean upload, and what a failed run and a new one lose.
//
//   bench_cli [--smoke]
#include "benchutil.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>

using namespace bench;

namespace {

const int Boards = 8;
const int RunMs = 300000;  // the longest one command is waited for
const int ListenSeconds = 1; // --all listens this long; the modules announce every 200 ms
const int UnoPageSize = 128; // bytes
const char BenchIp[] = "127.0.1.40";
const char DropIp[] = "127.0.1.60";

struct Measured
{
    double wall = 0;
    double cpu = 0;    // of the uploading processes, user + system
    double simCpu = 0; // of the simulator meanwhile
};

double childrenCpuSeconds()
{
    struct rusage usage = {};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

QString cli()
{
    return QStringLiteral(QUARNEL_BIN_DIR "/quarnel-cli");
}

QStringList ports(const SimProcess &sim)
{
    return {"--data-port", QString::number(sim.dataPort()), "--at-port", QString::number(sim.atPort())};
}

// Runs the programs together; false when one fails or outlasts RunMs. The simulator's CPU and
// the CPU of the waited-for children are measured around them.
bool runTogether(SimProcess &sim, const QList<QPair<QString, QStringList>> &programs, Measured *m,
                 const std::function<bool()> &before = {})
{
    const double simBefore = processCpuSeconds(sim.qprocess().processId());
    const double cpuBefore = childrenCpuSeconds() + ownCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    if (before && !before())
        return false;
    std::vector<std::unique_ptr<QProcess>> running;
    for (const auto &p : programs) {
        running.push_back(std::make_unique<QProcess>());
        running.back()->setProcessChannelMode(QProcess::MergedChannels);
        running.back()->start(p.first, p.second);
    }
    bool ok = true;
    for (size_t i = 0; i < running.size(); ++i) {
        QProcess &p = *running.at(i);
        p.waitForFinished(int(qMax<qint64>(1, RunMs - clock.elapsed())));
        if (p.state() != QProcess::NotRunning || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(programs.at(int(i)).first),
                         p.readAll().right(2000).constData());
            ok = false;
        }
    }
    m->wall = double(clock.nsecsElapsed()) / 1e9;
    m->cpu = childrenCpuSeconds() + ownCpuSeconds() - cpuBefore;
    m->simCpu = processCpuSeconds(sim.qprocess().processId()) - simBefore;
    return ok;
}

// The mode switch avrdude cannot make, for every board at once, each on a thread of its own.
bool modeSwitchAll(const SimProcess &sim)
{
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<int> ok(Boards, 0);
    for (int i = 0; i < Boards; ++i) {
        threads.emplace_back(QThread::create([&sim, &ok, i] {
            QTcpSocket at;
            at.connectToHost(sim.ip(i), sim.atPort());
            ok[size_t(i)] = at.waitForConnected(3000) && atModeSwitch(at, true);
        }));
        threads.back()->start();
    }
    bool all = true;
    for (int i = 0; i < Boards; ++i) {
        threads.at(size_t(i))->wait();
        all = all && ok[size_t(i)];
    }
    return all;
}

// Runs one program to its end, its output dropped; its exit code, or -1.
int runQuietly(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, arguments);
    if (!p.waitForFinished(RunMs) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

bool flashHolds(SimProcess &sim, int module, const QByteArray &image)
{
    if (sim.flash(module).left(image.size()) == image)
        return true;
    std::fprintf(stderr, "the flash of %s does not hold its image\n", qPrintable(sim.ip(module).toString()));
    return false;
}

QString figure(const Measured &m)
{
    return QStringLiteral("wall %1 s, CPU %2 s (simulator %3 s)")
        .arg(m.wall, 0, 'f', 2)
        .arg(m.cpu, 0, 'f', 2)
        .arg(m.simCpu, 0, 'f', 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    const int imageSize = options.smoke ? 4096 : 32256;
    const QString avrdude = QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    if (avrdude.isEmpty()) {
        std::fprintf(stderr, "avrdude is not installed (scripts/install-deps installs it)\n");
        return 1;
    }

    // An image per run, so that a run that wrote nothing cannot pass.
    QTemporaryDir dir;
    QList<QByteArray> images;
    QStringList hexes;
    for (int i = 0; i < 6; ++i) {
        images << sleepingImage(imageSize, quint32(2000 + i));
        const QString bin = dir.filePath(QStringLiteral("image-%1.bin").arg(i));
        hexes << dir.filePath(QStringLiteral("image-%1.hex").arg(i));
        if (!writeFile(bin, images.last()) || !objcopy({"-I", "binary", "-O", "ihex", bin, hexes.last()}))
            return 1;
    }

    SimProcess sim;
    if (!sim.start({"--ip", BenchIp, "--board", "UNO", "--count", QString::number(Boards), "--name", "bench-uno",
                    "--announce-ms", "200"})) {
        std::fprintf(stderr, "quarnel-sim: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    say(QStringLiteral("# quarnel-cli on %1 simulated UNO boards, %2-byte image, 115200 baud, one run each")
            .arg(Boards)
            .arg(imageSize));
    say(QStringLiteral("# %1").arg(machineLine()));

    QStringList ips;
    for (int i = 0; i < Boards; ++i)
        ips << "--ip" << sim.ip(i).toString();
    QList<QPair<QString, QStringList>> separate;
    QList<QPair<QString, QStringList>> avrdudes;
    for (int i = 0; i < Boards; ++i) {
        separate.append({cli(), QStringList{"upload", "--ip", sim.ip(i).toString(), "--board", "UNO"} + ports(sim)
                                    + QStringList{hexes.at(2)}});
        avrdudes.append({avrdude, {"-c", "arduino", "-p", "atmega328p", "-P",
                                   QStringLiteral("net:%1:%2").arg(sim.ip(i).toString()).arg(sim.dataPort()), "-V",
                                   "-q", "-q", "-U", QStringLiteral("flash:w:%1:i").arg(hexes.at(3))}});
    }
    struct Variant
    {
        QString name;
        QList<QPair<QString, QStringList>> programs;
        std::function<bool()> before;
        Measured measured;
    };
    QVector<Variant> variants{
        {QStringLiteral("quarnel-cli upload --all (listens %1 s first)").arg(ListenSeconds),
         {{cli(), {"upload", "--all", "--name", "bench-uno-*", "--seconds", QString::number(ListenSeconds), "--board",
                   "UNO", hexes.at(0)}}},
         {},
         {}},
        {QStringLiteral("quarnel-cli upload with %1 --ip").arg(Boards),
         {{cli(), QStringList{"upload", "--board", "UNO"} + ips + ports(sim) + QStringList{hexes.at(1)}}},
         {},
         {}},
        {QStringLiteral("%1 quarnel-cli processes").arg(Boards), separate, {}, {}},
        {QStringLiteral("%1 avrdude -V processes (mode switch included)").arg(Boards), avrdudes,
         [&sim] { return modeSwitchAll(sim); }, {}},
    };
    for (int v = 0; v < variants.size(); ++v) {
        Variant &variant = variants[v];
        if (!runTogether(sim, variant.programs, &variant.measured, variant.before))
            return 1;
        for (int i = 0; i < Boards; ++i) {
            if (!flashHolds(sim, i, images.at(v)))
                return 1;
        }
        say(QStringLiteral("%1: %2").arg(variant.name, figure(variant.measured)));
    }
    if (!sim.stop())
        std::fprintf(stderr, "quarnel-sim did not stop cleanly: %s\n", qPrintable(sim.errorText()));

    // One board, its link dropped once as the middle page is written.
    const int dropAfter = (imageSize / UnoPageSize) / 2;
    const auto dropRun = [&](const QStringList &extra, int image, int runs, Measured *m) {
        SimProcess dropping;
        if (!dropping.start({"--ip", DropIp, "--board", "UNO", "--announce-ms", "0", "--drop-after-pages",
                             QString::number(dropAfter), "--drops", "1"})) {
            std::fprintf(stderr, "quarnel-sim: %s\n", qPrintable(dropping.errorText()));
            return false;
        }
        const QStringList upload = QStringList{"upload", "--ip", DropIp, "--board", "UNO"} + ports(dropping) + extra
                                   + QStringList{hexes.at(image)};
        QElapsedTimer clock;
        clock.start();
        // A run without retries fails at the drop; the next one, started at once, writes it all.
        for (int run = 0; run < runs; ++run)
            runQuietly(cli(), upload);
        m->wall = double(clock.nsecsElapsed()) / 1e9;
        return flashHolds(dropping, 0, images.at(image)) && dropping.stop();
    };
    Measured clean, resumed, restarted;
    // The clean run: the same board without the drop.
    {
        SimProcess one;
        if (!one.start({"--ip", DropIp, "--board", "UNO", "--announce-ms", "0"}))
            return 1;
        QElapsedTimer clock;
        clock.start();
        if (runQuietly(cli(), QStringList{"upload", "--ip", DropIp, "--board", "UNO"} + ports(one)
                                  + QStringList{hexes.at(4)})
            != 0)
            return 1;
        clean.wall = double(clock.nsecsElapsed()) / 1e9;
        if (!flashHolds(one, 0, images.at(4)) || !one.stop())
            return 1;
    }
    if (!dropRun({"--retries", "1"}, 5, 1, &resumed) || !dropRun({}, 4, 2, &restarted))
        return 1;
    say(QStringLiteral("one board, link dropped at page %1 of %2: clean upload %3 s; with --retries 1 %4 s; "
                       "failed run and a new one %5 s")
            .arg(dropAfter)
            .arg(imageSize / UnoPageSize)
            .arg(clean.wall, 0, 'f', 2)
            .arg(resumed.wall, 0, 'f', 2)
            .arg(restarted.wall, 0, 'f', 2));

    const Measured &all = variants.at(0).measured;
    say(QStringLiteral("# Ratios (wall, CPU) against one quarnel-cli upload --all"));
    for (const Variant &v : variants)
        say(QStringLiteral("%1: wall %2, CPU %3")
                .arg(v.name)
                .arg(v.measured.wall / all.wall, 0, 'f', 3)
                .arg(v.measured.cpu / all.cpu, 0, 'f', 3));
    say(QStringLiteral("time lost to one dropped link: with --retries 1 %1 s, by a failed run and a new one %2 s")
            .arg(resumed.wall - clean.wall, 0, 'f', 2)
            .arg(restarted.wall - clean.wall, 0, 'f', 2));
    return 0;
}
