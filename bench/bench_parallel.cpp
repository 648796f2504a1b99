// Parallel uploads: 1, 2, 4 and 8 simulated UNO boards written at once by the window's upload
// workers; wall time relative to one board, with the CPU the simulator and the workers took, so
// the figure can be read against what the machine had to give.
//
//   bench_parallel [--reps N] [--boards 1,2,4,8] [--smoke]
#include "benchutil.h"
#include "simprocess.h"
#include "thread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

using namespace upload;

using namespace bench;

namespace {

const int RunMs = 300000; // the longest one round of uploads is waited for
const int DefaultReps = 3;
const char FirstIp[] = "127.0.1.10";

struct Round
{
    double wallSeconds = 0;
    double simCpuSeconds = 0;
    double ownCpuSeconds = 0;
};

// Uploads `images[i]` to module i, for i < count, all workers started together.
bool uploadRound(SimProcess &sim, const QStringList &bins, const QList<QByteArray> &images, int count,
                 Round *round)
{
    std::vector<std::unique_ptr<Thread>> workers;
    for (int i = 0; i < count; ++i) {
        workers.push_back(std::make_unique<Thread>(QString::number(sim.atPort()), QString::number(sim.dataPort()),
                                                   sim.ip(i).toString(), QStringLiteral("UNO")));
        workers.back()->setImagePath(bins.at(i));
    }
    const double simBefore = processCpuSeconds(sim.qprocess().processId());
    const double ownBefore = ownCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    for (auto &worker : workers)
        worker->start();
    bool ok = true;
    for (auto &worker : workers) {
        if (!worker->wait(qMax<qint64>(1, RunMs - clock.elapsed()))) {
            std::fprintf(stderr, "an upload did not finish within %d ms\n", RunMs);
            worker->requestInterruption();
            worker->wait();
            ok = false;
        }
    }
    round->wallSeconds = double(clock.nsecsElapsed()) / 1e9;
    round->simCpuSeconds = processCpuSeconds(sim.qprocess().processId()) - simBefore;
    round->ownCpuSeconds = ownCpuSeconds() - ownBefore;
    for (int i = 0; i < count && ok; ++i) {
        if (!workers.at(size_t(i))->outcome().succeeded()) {
            std::fprintf(stderr, "upload to %s failed: %s\n", qPrintable(sim.ip(i).toString()),
                         qPrintable(workers.at(size_t(i))->outcome().text()));
            ok = false;
        } else if (sim.flash(i).left(images.at(i).size()) != images.at(i)) {
            std::fprintf(stderr, "the flash of %s does not hold its image\n", qPrintable(sim.ip(i).toString()));
            ok = false;
        }
    }
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    const int reps = options.repetitions(DefaultReps);
    const QList<int> counts = boardCounts(options, {1, 2, 4, 8}, {1, 2});
    int most = 0;
    for (int n : counts)
        most = qMax(most, n);
    const int imageSize = options.smoke ? 4096 : 32256;

    QTemporaryDir dir;
    if (!dir.isValid() || counts.isEmpty())
        return 1;
    // Each board gets an image of its own, a different one on every round.
    QList<QByteArray> images[2];
    QStringList bins[2];
    for (int set = 0; set < 2; ++set) {
        for (int i = 0; i < most; ++i) {
            images[set] << sleepingImage(imageSize, quint32(1000 + set * 100 + i));
            bins[set] << QStringLiteral("%1/uno-%2-%3.bin").arg(dir.path()).arg(set).arg(i);
            if (!writeFile(bins[set].last(), images[set].last()))
                return 1;
        }
    }

    SimProcess sim;
    if (!sim.start({"--ip", FirstIp, "--board", "UNO", "--count", QString::number(most), "--announce-ms", "0"})) {
        std::fprintf(stderr, "quarnel-sim: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    say(QStringLiteral("# Parallel uploads: %1-byte images to simulated UNO boards at 115200 baud, %2 repetition(s)")
            .arg(imageSize)
            .arg(reps));
    say(QStringLiteral("# %1").arg(machineLine()));

    struct Result
    {
        int boards;
        QVector<double> wall, simCpu, ownCpu;
    };
    QVector<Result> results;
    for (int n : counts)
        results.append({n, {}, {}, {}});
    int round = 0;
    // Rounds interleave the board counts, so that a change in the machine's load touches all alike.
    for (int rep = 0; rep < reps; ++rep) {
        for (Result &r : results) {
            Round measured;
            const int set = round++ % 2;
            if (!uploadRound(sim, bins[set], images[set], r.boards, &measured))
                return 1;
            r.wall << measured.wallSeconds;
            r.simCpu << measured.simCpuSeconds / measured.wallSeconds;
            r.ownCpu << measured.ownCpuSeconds / measured.wallSeconds;
        }
    }
    if (!sim.stop())
        std::fprintf(stderr, "quarnel-sim did not stop cleanly: %s\n", qPrintable(sim.errorText()));

    for (const Result &r : results)
        say(QStringLiteral("%1 board(s): wall %2 s; simulator %3 CPUs, workers %4 CPUs (CPU seconds per second)")
                .arg(r.boards)
                .arg(describe(statsOf(r.wall)))
                .arg(statsOf(r.simCpu).median, 0, 'f', 2)
                .arg(statsOf(r.ownCpu).median, 0, 'f', 2));
    const double one = statsOf(results.first().wall).median;
    say(QStringLiteral("# Ratios (median wall time relative to %1 board(s); %2 CPUs on this machine)")
            .arg(results.first().boards)
            .arg(QThread::idealThreadCount()));
    for (const Result &r : results)
        say(QStringLiteral("%1 board(s) / %2: %3").arg(r.boards).arg(results.first().boards).arg(statsOf(r.wall).median / one, 0, 'f', 3));
    return 0;
}
