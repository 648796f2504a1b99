// Image conversion: the whole MEGA2560 flash as an Intel HEX file (about 700 KB) converted into the
// raw image by our converter and by avr-objcopy, each as a process of its own, side by side:
// wall time and peak resident memory, and the two images compared.
//
//   bench_hexconvert [--reps N] [--smoke]
//   bench_hexconvert --convert IN.hex OUT.bin   (one conversion; used by the benchmark itself)
#include "benchutil.h"
#include "hexconvert.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <QProcess>

#include <cstdio>

using namespace firmware;

using namespace bench;

namespace {

const int FlashBytes = 256 * 1024; // the ATmega2560's whole flash
const int DefaultReps = 10;
const int RunMs = 60000;

struct Sample
{
    double seconds = 0;
    double peakMiB = 0;
    QByteArray output; // what the program wrote on stdout
};

// Runs a program to its end under /usr/bin/time; its wall time and peak resident set size. The
// peak comes from time(1), whose own small footprint is what a child inherits at exec, where a
// child of this (Qt) process would start its count from this process's size.
bool measure(const QString &timeOutput, const QStringList &command, Sample *sample)
{
    QProcess run;
    QElapsedTimer clock;
    clock.start();
    run.start(QStringLiteral("/usr/bin/time"), QStringList{"-f", "%M", "-o", timeOutput} + command);
    const bool finished = run.waitForFinished(RunMs);
    sample->seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!finished || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s %s\n", qPrintable(command.join(QLatin1Char(' '))),
                     qPrintable(run.errorString()), run.readAllStandardError().constData());
        return false;
    }
    sample->output = run.readAllStandardOutput();
    const QByteArray kilobytes = readFile(timeOutput).trimmed();
    sample->peakMiB = kilobytes.toDouble() / 1024.0;
    return !kilobytes.isEmpty();
}

int convertOnce(const QString &in, const QString &out)
{
    QElapsedTimer clock;
    clock.start();
    const bool ok = hexToBin(in, out);
    std::printf("%.3f\n", double(clock.nsecsElapsed()) / 1e6); // ms
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments.at(1) == QLatin1String("--convert"))
        return convertOnce(arguments.at(2), arguments.at(3));

    const CommonOptions options = parseCommon(arguments.mid(1));
    const int reps = options.repetitions(DefaultReps);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString source = dir.filePath(QStringLiteral("flash.bin"));
    const QString hex = dir.filePath(QStringLiteral("flash.hex"));
    const QString ours = dir.filePath(QStringLiteral("ours.bin"));
    const QString theirs = dir.filePath(QStringLiteral("objcopy.bin"));
    const QString timeOutput = dir.filePath(QStringLiteral("time.txt"));
    const QByteArray image = sleepingImage(FlashBytes, 2560);
    if (!writeFile(source, image) || !objcopy({"-I", "binary", "-O", "ihex", source, hex}))
        return 1;

    // The same program on a one-record file: what starting the process costs, without the work.
    const QString tiny = dir.filePath(QStringLiteral("tiny.hex"));
    if (!writeFile(tiny, ":0100000000FF\n:00000001FF\n"))
        return 1;

    say(QStringLiteral("# Image conversion: %1-byte HEX file (%2 bytes of flash), %3 repetition(s), each a process of its own")
            .arg(QFileInfo(hex).size())
            .arg(FlashBytes)
            .arg(reps));
    say(QStringLiteral("# %1").arg(machineLine()));
    QVector<double> ourMs, ourPeak, ourInside, baseMs, basePeak, theirMs, theirPeak;
    const QString self = QCoreApplication::applicationFilePath();
    // In turn, so that the machine's changing load falls on both alike.
    for (int rep = 0; rep < reps; ++rep) {
        Sample a;
        Sample b;
        Sample c;
        if (!measure(timeOutput, {self, "--convert", hex, ours}, &a)
            || !measure(timeOutput, {"avr-objcopy", "-I", "ihex", "-O", "binary", hex, theirs}, &b)
            || !measure(timeOutput, {self, "--convert", tiny, dir.filePath(QStringLiteral("tiny.bin"))}, &c))
            return 1;
        ourMs << a.seconds * 1000;
        ourPeak << a.peakMiB;
        ourInside << a.output.trimmed().toDouble();
        theirMs << b.seconds * 1000;
        theirPeak << b.peakMiB;
        baseMs << c.seconds * 1000;
        basePeak << c.peakMiB;
    }
    const QByteArray ourImage = readFile(ours);
    const QByteArray theirImage = readFile(theirs);
    const bool same = ourImage == theirImage && ourImage == image;
    say(QStringLiteral("images: ours %1 bytes, avr-objcopy %2 bytes, %3")
            .arg(ourImage.size())
            .arg(theirImage.size())
            .arg(same ? QStringLiteral("identical and equal to the source") : QStringLiteral("DIFFERENT")));
    say(QStringLiteral("ours           : %1 ms, peak %2 MiB; the conversion itself %3 ms")
            .arg(describe(statsOf(ourMs), 1), describe(statsOf(ourPeak), 1), describe(statsOf(ourInside), 1)));
    say(QStringLiteral("ours, 1 record : %1 ms, peak %2 MiB (the process without the work)")
            .arg(describe(statsOf(baseMs), 1), describe(statsOf(basePeak), 1)));
    say(QStringLiteral("avr-objcopy    : %1 ms, peak %2 MiB").arg(describe(statsOf(theirMs), 1), describe(statsOf(theirPeak), 1)));
    const double ourExtra = statsOf(ourPeak).median - statsOf(basePeak).median;
    say(QStringLiteral("# Ratios (medians; below 1 means ours is faster or smaller)"));
    say(QStringLiteral("time ours / avr-objcopy %1").arg(statsOf(ourMs).median / statsOf(theirMs).median, 0, 'f', 3));
    say(QStringLiteral("peak memory ours / avr-objcopy %1 (of which the conversion %2 MiB above our process's own %3 MiB)")
            .arg(statsOf(ourPeak).median / statsOf(theirPeak).median, 0, 'f', 3)
            .arg(ourExtra, 0, 'f', 1)
            .arg(statsOf(basePeak).median, 0, 'f', 1));
    return same ? 0 : 2;
}
