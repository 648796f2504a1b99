#include "benchutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSysInfo>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace bench {

namespace {
const int AtReplyMs = 5000;
const int ObjcopyMs = 60000;
const unsigned char SleepProgram[] = {0x01, 0xE0, 0x03, 0xBF, 0x78, 0x94, 0x88, 0x95, 0xFE, 0xCF};
} // namespace

Stats statsOf(QVector<double> values)
{
    Stats s;
    s.count = values.size();
    if (values.isEmpty())
        return s;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    s.median = n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
    s.min = values.first();
    s.max = values.last();
    return s;
}

double percentile(QVector<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int rank = int(std::ceil(p / 100.0 * values.size()));
    return values.at(qBound(0, rank - 1, values.size() - 1));
}

QString describe(const Stats &s, int decimals)
{
    return QStringLiteral("%1 (%2..%3, n=%4)")
        .arg(s.median, 0, 'f', decimals)
        .arg(s.min, 0, 'f', decimals)
        .arg(s.max, 0, 'f', decimals)
        .arg(s.count);
}

QByteArray sleepingImage(int size, quint32 seed)
{
    QByteArray image(size, '\0');
    quint32 x = seed ? seed : 1;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13; // xorshift32: the same bytes on every machine
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = char(x >> 24);
    }
    for (int i = 0; i < int(sizeof SleepProgram) && i < size; ++i)
        image[i] = char(SleepProgram[i]);
    return image;
}

bool objcopy(const QStringList &arguments)
{
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("avr-objcopy"), arguments);
    if (!run.waitForFinished(ObjcopyMs) || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0) {
        std::fprintf(stderr, "avr-objcopy %s failed: %s %s\n", qPrintable(arguments.join(QLatin1Char(' '))),
                     qPrintable(run.errorString()), run.readAll().constData());
        return false;
    }
    return true;
}

bool atModeSwitch(QTcpSocket &at, bool uno)
{
    for (const QByteArray &command :
         {QByteArray("AT+U2W=CLIENT\r\n"), QByteArray(uno ? "AT+MCUUPDATE=UNO" : "AT+MCUUPDATE=MEGA")}) {
        at.write(command);
        QByteArray reply;
        while (reply.size() < 2 && at.waitForReadyRead(AtReplyMs))
            reply += at.readAll();
        if (reply.size() < 2)
            return false;
    }
    return true;
}

double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The command name may hold blanks and parentheses; the fields follow the last ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const int utime = 11, stime = 12; // fields 14 and 15, counted from the state field (3)
    if (fields.size() <= stime)
        return -1;
    return double(fields.at(utime).toLongLong() + fields.at(stime).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void enterWindowSandbox(const QString &dir)
{
    qputenv("TMPDIR", QFile::encodeName(dir));
    QDir::setCurrent(dir);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

QString machineLine()
{
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    return QStringLiteral("%1, %2 CPUs, load average %3 %4 %5, %6")
        .arg(QSysInfo::prettyProductName())
        .arg(QThread::idealThreadCount())
        .arg(load[0], 0, 'f', 2)
        .arg(load[1], 0, 'f', 2)
        .arg(load[2], 0, 'f', 2)
        .arg(QDateTime::currentDateTime().toString(Qt::ISODate));
}

CommonOptions parseCommon(const QStringList &arguments)
{
    CommonOptions options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--smoke"))
            options.smoke = true;
        else if (a == QLatin1String("--reps") && i + 1 < arguments.size())
            options.reps = qBound(1, arguments.at(++i).toInt(), 100);
        else
            options.rest << a;
    }
    return options;
}

QList<int> intList(const QString &text)
{
    QList<int> out;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        out << part.toInt();
    return out;
}

QList<int> boardCounts(const CommonOptions &options, const QList<int> &fallback, const QList<int> &smoke)
{
    if (options.smoke)
        return smoke;
    QList<int> counts = fallback;
    for (int i = 0; i + 1 < options.rest.size(); ++i) {
        if (options.rest.at(i) == QLatin1String("--boards")) {
            counts.clear();
            for (int n : intList(options.rest.at(i + 1)))
                counts << qBound(1, n, 64);
        }
    }
    return counts;
}

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

LatencyProbe::LatencyProbe()
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] {
        const double late = double(armed.nsecsElapsed()) / 1e6 - ProbeMs;
        if (recording)
            samples << qMax(0.0, late);
        arm();
    });
    arm();
}

QVector<double> LatencyProbe::take()
{
    QVector<double> out;
    out.swap(samples);
    return out;
}

void LatencyProbe::arm()
{
    armed.start();
    timer.start(ProbeMs);
}

} // namespace bench
