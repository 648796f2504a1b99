#ifndef BENCHUTIL_H
#define BENCHUTIL_H

// Helpers the benchmarks share: statistics over repetitions, test images, avr-objcopy, the
// module's AT mode switch, a process's CPU time and the common options.

#include "testfiles.h" // readFile, writeFile

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

class QTcpSocket;

namespace bench {

// Median and extremes of a set of measurements.
struct Stats
{
    double median = 0;
    double min = 0;
    double max = 0;
    int count = 0;
};

Stats statsOf(QVector<double> values);
// The p-th percentile (0..100) by the nearest-rank method; 0 for no values.
double percentile(QVector<double> values, double p);
// "median (min..max, n=N)" with the given number of decimals.
QString describe(const Stats &s, int decimals = 2);

// A program that sleeps forever (ldi r16,1; out SMCR,r16; sei; 1: sleep; rjmp 1b) followed by
// pseudo-random bytes up to `size`: after the upload the board idles instead of running noise,
// so one benchmark run does not heat the simulator for the next.
QByteArray sleepingImage(int size, quint32 seed);


// avr-objcopy with the given arguments; false (with its output on stderr) if it fails.
bool objcopy(const QStringList &arguments);

// The two AT commands that reset the board into its bootloader, each answered with at least two
// bytes, on an open AT-command connection. False on a missing answer.
bool atModeSwitch(QTcpSocket &at, bool uno);

// utime + stime of a process (from /proc/PID/stat), in seconds; -1 when it cannot be read.
double processCpuSeconds(qint64 pid);
// CPU time of this process so far, user + system, in seconds.
double ownCpuSeconds();

// For a benchmark of the window: `dir` becomes the Temp directory (where the default firmware
// source looks) and the working directory (./log.txt, ./update.bin), Qt draws offscreen unless
// told otherwise, and the window's debug lines are not shown. Call before the QApplication is made.
void enterWindowSandbox(const QString &dir);

// The machine and the moment, for the head of a report.
QString machineLine();

// Options every benchmark takes: --smoke (one short iteration, for CTest) and --reps N.
struct CommonOptions
{
    bool smoke = false;
    int reps = 0; // 0: the benchmark's own default
    QStringList rest;

    // Repetitions to run: as asked, one for a smoke run, else the benchmark's default.
    int repetitions(int fallback) const { return reps ? reps : (smoke ? 1 : fallback); }
};
CommonOptions parseCommon(const QStringList &arguments);

// "1,2,4" as numbers; a part that is not a number gives 0.
QList<int> intList(const QString &text);
// The board counts of a run: `--boards N,N,...` (each 1..64) or `fallback`, and `smoke` in a smoke run.
QList<int> boardCounts(const CommonOptions &options, const QList<int> &fallback, const QList<int> &smoke);

// Prints a line at once (stdout is a pipe under CTest and in scripts).
void say(const QString &line);

// Measures how late a single-shot timer of ProbeMs fires, again and again, on the thread that
// created it: the stalls of its event loop.
class LatencyProbe : public QObject
{
public:
    static const int ProbeMs = 10;

    LatencyProbe();
    void record(bool on) { recording = on; }
    // The lateness of each firing while recording, in ms; the list starts again.
    QVector<double> take();

private:
    void arm();

    QTimer timer;
    QElapsedTimer armed;
    QVector<double> samples;
    bool recording = false;
};

} // namespace bench

#endif // BENCHUTIL_H
