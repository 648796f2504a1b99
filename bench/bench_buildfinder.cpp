// Build-output finder: one look of the window's default source (the build….tmp listings, the
// current tools' build directories, the trace append) with many build directories left behind by
// the tools: N of each kind, each holding what the tools leave (HEX files, ELF, EEPROM image,
// caches, sub-directories). The window looks every 2 s on its GUI thread.
//
//   bench_buildfinder [--dirs N] [--reps N] [--smoke]
#include "benchutil.h"
#include "buildfinder.h"
#include "firmwaresource.h"
#include "platform.h"
#include "sketchbuilds.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace bench;

namespace {

const int DefaultDirs = 500;
const int SmokeDirs = 10;
const int DefaultReps = 50;
const double BudgetMs = 20; // a look must not stall the window

// One build directory as a tool leaves it; the HEX files get the given age in seconds.
bool makeBuildDir(const QString &path, const QString &ending, qint64 age)
{
    if (!QDir().mkpath(path))
        return false;
    for (const char *sub : {"core", "libraries", "preproc", "sketch"}) {
        if (!QDir(path).mkdir(QLatin1String(sub)))
            return false;
    }
    const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(-age);
    for (const QString &name : {"Blink" + ending + ".hex", "Blink" + ending + ".with_bootloader.hex",
                                "Blink" + ending + ".elf", "Blink" + ending + ".eep",
                                QStringLiteral("build.options.json"), QStringLiteral("includes.cache")}) {
        QFile f(path + QLatin1Char('/') + name);
        // Flushed first: a later flush would set the time to now.
        if (!f.open(QIODevice::WriteOnly) || f.write(":00000001FF\n") < 0 || !f.flush()
            || !f.setFileTime(when, QFileDevice::FileModificationTime))
            return false;
    }
    return true;
}

QString hash(int i, int kind)
{
    return QStringLiteral("%1%2").arg(kind, 8, 16, QLatin1Char('0')).arg(i, 24, 16, QLatin1Char('0')).toUpper();
}

// N build directories of every kind; the newest HEX file lies in the cache directory. Its path.
QString populate(const QString &temp, const QString &cache, int n)
{
    QString newest;
    for (int i = 0; i < n; ++i) {
        const qint64 age = 100 + qint64(i) * 5;
        const QString cached = cache + "/arduino/sketches/" + hash(i, 5);
        if (!makeBuildDir(temp + QStringLiteral("/build%1.tmp").arg(i), ".cpp", age + 1)
            || !makeBuildDir(temp + QStringLiteral("/arduino_build_%1").arg(i), ".ino", age + 2)
            || !makeBuildDir(temp + "/arduino-sketch-" + hash(i, 1), ".ino", age + 3)
            || !makeBuildDir(temp + "/arduino/arduino-sketch-" + hash(i, 2), ".ino", age + 4)
            || !makeBuildDir(temp + "/arduino/sketches/" + hash(i, 3), ".ino", age + 5)
            || !makeBuildDir(cached, ".ino", age))
            return QString();
        if (i == 0)
            newest = cached + "/Blink.ino.hex";
    }
    return newest;
}

QString ms(const Stats &s)
{
    return describe(s, 2) + QStringLiteral(" ms");
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir temp, cache, work;
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    QCoreApplication app(argc, argv);
    const CommonOptions options = parseCommon(app.arguments().mid(1));
    int dirs = options.smoke ? SmokeDirs : DefaultDirs;
    const int at = options.rest.indexOf(QStringLiteral("--dirs"));
    if (at >= 0 && at + 1 < options.rest.size())
        dirs = options.rest.at(at + 1).toInt();
    const int reps = options.repetitions(DefaultReps);
    if (dirs <= 0 || !temp.isValid() || !cache.isValid() || !work.isValid())
        return 2;
    QDir::setCurrent(work.path());

    say(QStringLiteral("# Build-output finder: %1 build directories of each of 6 kinds (%2 in all), %3 look(s)")
            .arg(dirs)
            .arg(dirs * 6)
            .arg(reps));
    say(QStringLiteral("# %1").arg(machineLine()));
    const QString newest = populate(temp.path(), cache.path(), dirs);
    if (newest.isEmpty()) {
        say(QStringLiteral("cannot create the build directories"));
        return 1;
    }

    firmware::FirmwareSource source; // what the window's 2-second tick runs
    QVector<double> whole, current, listings;
    double firstLook = 0;
    QElapsedTimer clock;
    const QString user = platform::currentUserName();
    const auto places = firmware::currentToolPlaces(platform::tempDirectory(user), platform::cacheDirectory());
    firmware::BuildOutputSearch search;
    for (int i = 0; i < reps; ++i) {
        clock.start();
        source.refreshDefaultFile();
        const double took = double(clock.nsecsElapsed()) / 1e6;
        // The window keeps what it read of the directories; its first look reads them all.
        if (i == 0)
            firstLook = took;
        else
            whole << took;

        clock.start();
        QByteArray trace;
        search.look(QString(), places, QDateTime::currentDateTimeUtc(), &trace);
        current << double(clock.nsecsElapsed()) / 1e6;

        clock.start();
        platform::hexFileListing(user, firmware::buildDirName(platform::buildDirListing(user)));
        listings << double(clock.nsecsElapsed()) / 1e6;
    }
    if (source.defaultFilePath() != newest) {
        say(QStringLiteral("wrong file chosen: %1 (expected %2)").arg(source.defaultFilePath(), newest));
        return 1;
    }
    if (whole.isEmpty())
        whole << firstLook;
    const Stats look = statsOf(whole);
    say(QStringLiteral("first look of the window (every directory read): %1 ms").arg(firstLook, 0, 'f', 2));
    say(QStringLiteral("one look (refreshDefaultFile, with the trace append): %1").arg(ms(look)));
    say(QStringLiteral("  current tools' build directories (5 places):   %1").arg(ms(statsOf(current))));
    say(QStringLiteral("  build….tmp listings (two directory listings): %1").arg(ms(statsOf(listings))));
    say(QStringLiteral("trace file after %1 look(s): log.txt %2 bytes, log.txt.1 %3 bytes")
            .arg(reps)
            .arg(QFileInfo(QStringLiteral("log.txt")).size())
            .arg(QFileInfo(QStringLiteral("log.txt.1")).size()));
    say(QStringLiteral("look / %1 ms budget: %2").arg(BudgetMs).arg(look.median / BudgetMs, 0, 'f', 3));
    return 0;
}
