// Uploads of several rows in the real window (offscreen): 1, 8 and 30 simulated UNO boards
// selected and written with one "Upload to selected rows", each round timed from the press until
// every row reads "Successful", with the flash of each board checked against its image; how late
// a 10 ms timer fires on the window's thread meanwhile (and, side by side, in the same window with
// nothing to do); the CPU the simulator, the whole process and the window's thread took; and the
// largest count once more through the same queue without the window, for what the window adds.
//
//   bench_bulk [--reps N] [--boards 1,8,30] [--smoke]
#include "benchutil.h"
#include "devicecolumns.h"
#include "simprocess.h"
#include "uploadbatch.h"
#include "widget.h"
#include "widgetinspector.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

using namespace bench;

namespace {

const int RunMs = 600000; // the longest one round is waited for
const int PollMs = 20;    // how often the harness looks at the rows
const int DefaultReps = 3;
const char FirstIp[] = "127.0.3.10";

// CPU time of this process's main thread (the window's), in seconds; -1 when it cannot be read.
double windowThreadCpuSeconds()
{
    const QByteArray stat = readFile(QStringLiteral("/proc/self/task/%1/stat").arg(getpid()));
    // utime and stime are fields 14 and 15, counted after the command's closing parenthesis.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

QString progressOf(const QTableWidget *table, const QString &ip)
{
    const int row = rowWithIp(table, ip);
    const QTableWidgetItem *item = row < 0 ? nullptr : table->item(row, discovery::ColumnProgress);
    return item ? item->text() : QString();
}

// One press for the first `count` modules; the seconds until every row has its verdict, or -1
// when a row failed or the round took too long.
double uploadRound(WidgetInspector &in, const QStringList &ips, int count)
{
    QTableWidget *table = in.table();
    table->clearSelection();
    for (int i = 0; i < count; ++i) {
        table->selectionModel()->select(table->model()->index(rowWithIp(table, ips.at(i)), 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        // The previous round's verdict would count as this round's.
        table->setItem(rowWithIp(table, ips.at(i)), discovery::ColumnProgress, new QTableWidgetItem);
    }
    QElapsedTimer clock;
    clock.start();
    in.uploadSelectedAction()->trigger();
    QEventLoop loop;
    QTimer poll;
    bool failed = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // A failed row ends the round with one box: close it, and say so.
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "%s\n", qPrintable(box->text()));
            box->close();
            failed = true;
        }
        int ended = 0;
        for (int i = 0; i < count; ++i) {
            const QString text = progressOf(table, ips.at(i));
            ended += text == QLatin1String("Successful") || text == QLatin1String("Fail");
        }
        if ((ended == count && in.uploadSelectedAction()->isEnabled()) || failed || clock.elapsed() > RunMs)
            loop.quit();
    });
    poll.start(PollMs);
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    for (int i = 0; i < count; ++i) {
        if (progressOf(table, ips.at(i)) != QLatin1String("Successful")) {
            std::fprintf(stderr, "%s: \"%s\"\n", qPrintable(ips.at(i)), qPrintable(progressOf(table, ips.at(i))));
            return -1;
        }
    }
    return seconds;
}

// The same press without a window: the first `count` modules through the queue alone; the
// seconds until it finished, or -1 when a board failed.
double batchRound(const SimProcess &sim, int count)
{
    QVector<upload::BatchJob> jobs(count);
    for (int i = 0; i < count; ++i)
        jobs[i].target = {sim.ip(i).toString(), sim.dataPort(), sim.atPort(), QStringLiteral("UNO")};
    upload::UploadBatch::Settings settings;
    settings.imagePath = QStringLiteral("./update.bin");
    upload::UploadBatch batch(jobs, settings);
    QEventLoop loop;
    QObject::connect(&batch, &upload::UploadBatch::finished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    batch.start();
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    for (const upload::BatchJob &job : batch.jobs()) {
        if (job.state != upload::BatchJob::State::Done) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(job.target.ip), qPrintable(job.failure));
            return -1;
        }
    }
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    enterWindowSandbox(work.path());
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    const int reps = options.repetitions(DefaultReps);
    const QList<int> counts = boardCounts(options, {1, 8, 30}, {1, 2});
    if (counts.isEmpty())
        return 1;
    int most = 0;
    for (int n : counts)
        most = qMax(most, n);
    const int imageSize = options.smoke ? 2048 : 8192;
    const QByteArray images[2] = {sleepingImage(imageSize, 2000), sleepingImage(imageSize, 2001)};

    SimProcess sim;
    if (!sim.start({"--ip", FirstIp, "--board", "UNO", "--count", QString::number(most), "--announce-ms", "0"},
                   60000)) {
        std::fprintf(stderr, "quarnel-sim: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    if (in.listenPrivately() == 0)
        return 1;
    in.ui()->radioButton->click();
    in.pickManualFile(QStringLiteral("bench.hex"));
    QStringList ips;
    for (int i = 0; i < most; ++i) {
        ips << sim.ip(i).toString();
        in.addDeviceRow(ips.last(), QString::number(sim.dataPort()), QString::number(sim.atPort()),
                        QStringLiteral("bench-%1").arg(i));
        qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), ips.last()), discovery::ColumnDevice))
            ->setCurrentText(QStringLiteral("UNO"));
    }
    in.lockNonNameCells();

    say(QStringLiteral("# Upload to selected rows in the window: %1-byte images to simulated UNO boards at 115200 "
                       "baud, %2 repetition(s)")
            .arg(imageSize)
            .arg(reps));
    say(QStringLiteral("# %1").arg(machineLine()));
    struct Result
    {
        int boards;
        bool windowless;
        QVector<double> wall;
        QVector<double> late; // ms, every firing of the probe during this count's rounds
        QVector<double> simCpu, ownCpu, windowCpu; // CPU seconds per second of each round
    };
    QVector<Result> results;
    for (int n : counts)
        results.append({n, false, {}, {}, {}, {}, {}});
    results.append({most, true, {}, {}, {}, {}, {}});
    LatencyProbe probe;
    // The same window with nothing to do first: what the machine's load alone costs the timer.
    probe.record(true);
    {
        QEventLoop loop;
        QTimer::singleShot(options.smoke ? 200 : 3000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const QVector<double> idle = probe.take();
    int round = 0;
    // Rounds interleave the board counts, so that a change in the machine's load touches all alike.
    for (int rep = 0; rep < reps; ++rep) {
        for (Result &r : results) {
            const QByteArray &image = images[round++ % 2];
            if (!writeFile(QStringLiteral("./update.bin"), image))
                return 1;
            probe.take();
            probe.record(true);
            const double simBefore = processCpuSeconds(sim.qprocess().processId());
            const double ownBefore = ownCpuSeconds();
            const double windowBefore = windowThreadCpuSeconds();
            const double seconds = r.windowless ? batchRound(sim, r.boards) : uploadRound(in, ips, r.boards);
            probe.record(false);
            if (seconds < 0)
                return 1;
            r.wall << seconds;
            r.simCpu << (processCpuSeconds(sim.qprocess().processId()) - simBefore) / seconds;
            r.ownCpu << (ownCpuSeconds() - ownBefore) / seconds;
            r.windowCpu << (windowThreadCpuSeconds() - windowBefore) / seconds;
            r.late += probe.take();
            for (int i = 0; i < r.boards; ++i) {
                if (sim.flash(i).left(image.size()) != image) {
                    std::fprintf(stderr, "the flash of %s does not hold its image\n", qPrintable(ips.at(i)));
                    return 1;
                }
            }
        }
    }
    if (!sim.stop())
        std::fprintf(stderr, "quarnel-sim did not stop cleanly: %s\n", qPrintable(sim.errorText()));

    const auto lateness = [](const QVector<double> &samples) {
        return QStringLiteral("p50 %1 ms, p99 %2 ms, max %3 ms")
            .arg(percentile(samples, 50), 0, 'f', 2)
            .arg(percentile(samples, 99), 0, 'f', 2)
            .arg(percentile(samples, 100), 0, 'f', 2);
    };
    say(QStringLiteral("idle window: 10 ms timer late by %1").arg(lateness(idle)));
    for (const Result &r : results)
        say(QStringLiteral("%1 board(s)%2: wall %3 s; 10 ms timer late by %4; CPUs: simulator %5, this process %6, "
                           "window's thread %7")
                .arg(r.boards)
                .arg(r.windowless ? QStringLiteral(" without the window") : QString())
                .arg(describe(statsOf(r.wall)))
                .arg(lateness(r.late))
                .arg(statsOf(r.simCpu).median, 0, 'f', 2)
                .arg(statsOf(r.ownCpu).median, 0, 'f', 2)
                .arg(statsOf(r.windowCpu).median, 0, 'f', 3));
    const double one = statsOf(results.first().wall).median;
    say(QStringLiteral("# Ratios (median wall time relative to %1 board(s); goal for 30: at most 1.5; %2 CPUs on "
                       "this machine)")
            .arg(results.first().boards)
            .arg(QThread::idealThreadCount()));
    for (const Result &r : results)
        say(QStringLiteral("%1 board(s)%2 / %3: %4")
                .arg(r.boards)
                .arg(r.windowless ? QStringLiteral(" without the window") : QString())
                .arg(results.first().boards)
                .arg(statsOf(r.wall).median / one, 0, 'f', 3));
    return 0;
}
