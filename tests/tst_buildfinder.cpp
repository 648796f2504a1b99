#include "buildfinder.h"
#include "platform.h"
#include "sketchbuilds.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A command interpreter's session as the finder captures it: banner, prompts, then the listing.
QString session(const QString &listing)
{
    return QStringLiteral("Microsoft Windows [Version 10.0.19045.3693]\r\n"
                          "(c) Microsoft Corporation. All rights reserved.\r\n\r\n"
                          "C:\\Users\\u\\AppData\\Local\\Temp>c:\r\n\r\n"
                          "C:\\Users\\u\\AppData\\Local\\Temp>cd \\Users\\u\\AppData\\Local\\Temp\r\n\r\n"
                          "C:\\Users\\u\\AppData\\Local\\Temp>dir D build* /o-d/tw\r\n"
                          " Volume in drive C has no label.\r\n"
                          " Volume Serial Number is 5A2B-1C3D\r\n\r\n"
                          " Directory of C:\\Users\\u\\AppData\\Local\\Temp\r\n\r\n"
                          "File Not Found\r\n")
           + listing + QStringLiteral("\r\nC:\\Users\\u\\AppData\\Local\\Temp>");
}

QString dirLine(const QString &when, const QString &name)
{
    return when + QStringLiteral("    <DIR>          ") + name + QStringLiteral("\r\n");
}

QString fileLine(const QString &when, const QString &name)
{
    return when + QStringLiteral("             2,461 ") + name + QStringLiteral("\r\n");
}

const QString Mar07 = QStringLiteral("03/07/2015  09:05 PM");
const QString Mar06 = QStringLiteral("03/06/2015  10:12 AM");

// The fixed moment that the ages of populate() count back from.
const QDateTime Base(QDate(2021, 6, 1), QTime(12, 0), Qt::UTC);

// Sets a file's or directory's last-write time, `age` seconds before Base.
bool setAge(const QString &path, int age)
{
    const qint64 base = Base.toSecsSinceEpoch();
    timespec times[2] = {{time_t(base - age), 0}, {time_t(base - age), 0}};
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// Builds entries "relative/path:dir|file:age" under `root`, then sets every time (files first,
// since adding a file to a directory changes the directory's time).
bool populate(const QString &root, const QStringList &entries)
{
    QList<QPair<QString, int>> files, dirs;
    for (const QString &e : entries) {
        const QStringList p = e.split(QLatin1Char(':'));
        const QString path = root + QLatin1Char('/') + p.at(0);
        if (p.at(1) == QLatin1String("dir")) {
            if (!QDir().mkpath(path))
                return false;
            dirs << qMakePair(path, p.at(2).toInt());
        } else {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(":00000001FF\n") < 0)
                return false;
            files << qMakePair(path, p.at(2).toInt());
        }
    }
    for (const auto &e : files + dirs)
        if (!setAge(e.first, e.second))
            return false;
    return true;
}

// Sets an environment variable (unsets it for a null value) for as long as it lives.
class EnvOverride
{
public:
    EnvOverride(const char *name, const QByteArray &value)
        : name_(name)
        , saved_(qgetenv(name))
        , had_(qEnvironmentVariableIsSet(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvOverride()
    {
        if (had_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }

private:
    const char *name_;
    QByteArray saved_;
    bool had_;
};

// Points the platform's temporary directory somewhere else for as long as it lives.
class TempDirOverride : public EnvOverride
{
public:
    explicit TempDirOverride(const QString &path)
        : EnvOverride("TMPDIR", QFile::encodeName(path))
    {
    }
};

const QString Hash = QStringLiteral("0123456789abcdef0123456789ABCDEF");

// A build directory in each place of the current tools, under "temp/" and "cache/".
const QStringList Layouts{"temp/arduino_build_64775", "temp/arduino-sketch-" + Hash,
                          "temp/arduino/arduino-sketch-" + Hash, "temp/arduino/sketches/" + Hash,
                          "cache/arduino/sketches/" + Hash};

} // namespace

// The finder's search rules, on interpreter listings and on the listings our own layer makes.
class tst_BuildFinder : public QObject
{
    Q_OBJECT

private slots:
    void buildDirName_data();
    void buildDirName();
    void hexFileName_data();
    void hexFileName();
    void generateTimeText_data();
    void generateTimeText();
    void listingFromDirectories_data();
    void listingFromDirectories();
    void listingOrder_data();
    void listingOrder();
    void appendTrace();
    void traceMovedAside();
    void cacheDirectory_data();
    void cacheDirectory();
    void sketchBuilds_data();
    void sketchBuilds();
    void writeSettle_data();
    void writeSettle();
    void fileBeingWrittenWaits();
    void buildMadeWhileLooking_data();
    void buildMadeWhileLooking();
    void namesReadAgainWhenChanged();
    void endsAtPrompt_data();
    void endsAtPrompt();
};

void tst_BuildFinder::buildDirName_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("name");
    QTest::newRow("first directory")
        << session(dirLine(Mar07, "build5b3c1d2e9f.tmp")) << "build5b3c1d2e9f.tmp";
    QTest::newRow("newest of two, listed first")
        << session(dirLine(Mar07, "build77.tmp") + dirLine(Mar06, "build12.tmp")) << "build77.tmp";
    QTest::newRow("file line before the directory")
        << session(fileLine(Mar07, "buildlog.txt") + dirLine(Mar06, "build12.tmp")) << "build12.tmp";
    QTest::newRow("no build directory") << session(fileLine(Mar07, "buildlog.txt")) << "Micr";
    QTest::newRow("directory but no build after it") << QStringLiteral("xx <DIR> other\r\n") << "xx <";
    QTest::newRow("build without .tmp after it") << QStringLiteral("x <DIR> buildcache\r\n") << "x <D";
    QTest::newRow("name runs to the next .tmp")
        << QStringLiteral("x <DIR> buildcache\r\ny <DIR> build1.tmp\r\n")
        << "buildcache\r\ny <DIR> build1.tmp";
    QTest::newRow("<DIR> at the very start") << QStringLiteral("<DIR> build1.tmp x") << "<DIR";
    QTest::newRow("<DIR> as the last text") << QStringLiteral("build1.tmp <DIR>") << "buil";
    QTest::newRow("short text") << QStringLiteral("abc") << "abc";
    QTest::newRow("empty") << QString() << QString();
    const QString longName = QStringLiteral("build") + QString(150, QLatin1Char('a')) + QStringLiteral(".tmp");
    QTest::newRow("name of 159 characters") << session(dirLine(Mar07, longName)) << longName;
    QTest::newRow("directory beyond 64 Ki characters")
        << session(QString(70000, QLatin1Char('-')) + QStringLiteral("\r\n") + dirLine(Mar07, "build9.tmp"))
        << "build9.tmp";
    QTest::newRow("non-ASCII name") << session(dirLine(Mar07, QString::fromUtf8("build\xc3\xa9t\xc3\xa9.tmp")))
                                    << QString::fromUtf8("build\xc3\xa9t\xc3\xa9.tmp");
}

void tst_BuildFinder::buildDirName()
{
    QFETCH(QString, listing);
    QFETCH(QString, name);
    QCOMPARE(firmware::buildDirName(listing), name);
}

void tst_BuildFinder::hexFileName_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<QString>("name");
    const QString builds = session(dirLine(Mar07, "build1.tmp"));
    QTest::newRow("ino.hex") << builds + fileLine(Mar07, "Blink.ino.hex") << "Blink.ino.hex";
    QTest::newRow("with_bootloader not taken")
        << builds + fileLine(Mar07, "Blink.ino.with_bootloader.hex") + fileLine(Mar07, "Blink.ino.hex")
        << "Blink.ino.hex";
    QTest::newRow("older tool's cpp.hex") << builds + fileLine(Mar07, "Blink.cpp.hex") << "Blink.cpp.hex";
    QTest::newRow("newest listed first")
        << builds + fileLine(Mar07, "New.ino.hex") + fileLine(Mar06, "Old.ino.hex") << "New.ino.hex";
    QTest::newRow("earlier cpp.hex before a later ino.hex")
        << builds + fileLine(Mar07, "A.cpp.hex") + fileLine(Mar06, "B.ino.hex") << "A.cpp.hex";
    QTest::newRow("cut at the last blank") << builds + fileLine(Mar07, "My Sketch.ino.hex") << "Sketch.ino.hex";
    QTest::newRow("no hex file") << builds + fileLine(Mar07, "Blink.elf") << QString();
    QTest::newRow("upper-case ending not taken") << builds + fileLine(Mar07, "BLINK.INO.HEX") << QString();
    QTest::newRow("ending as the last text") << QStringLiteral("12 Blink.ino.hex") << QString();
    QTest::newRow("ending at the very start") << QStringLiteral(".ino.hex and more") << QString();
    QTest::newRow("no blank before the name") << QStringLiteral("Blink.ino.hex\r\n") << "link.ino.hex";
    QTest::newRow("short text") << QStringLiteral(".ino.he") << QString();
    const QString longName = QString(120, QLatin1Char('b')) + QStringLiteral(".ino.hex");
    QTest::newRow("name of 128 characters") << builds + fileLine(Mar07, longName) << longName;
    QTest::newRow("non-ASCII name") << builds + fileLine(Mar07, QString::fromUtf8("Bl\xc3\xafnk.ino.hex"))
                                    << QString::fromUtf8("Bl\xc3\xafnk.ino.hex");
}

void tst_BuildFinder::hexFileName()
{
    QFETCH(QString, listing);
    QFETCH(QString, name);
    QCOMPARE(firmware::hexFileName(listing), name);
}

void tst_BuildFinder::generateTimeText_data()
{
    QTest::addColumn<QDateTime>("lastWrite");
    QTest::addColumn<QString>("text");
    QTest::newRow("same day") << QDateTime(QDate(2015, 3, 7), QTime(13, 5, 9), Qt::UTC) << "2015-03-07 21:05:09";
    QTest::newRow("date carried, hour without zero")
        << QDateTime(QDate(2015, 3, 7), QTime(20, 30, 0), Qt::UTC) << "2015-03-08 4:30:00";
    QTest::newRow("year carried") << QDateTime(QDate(2015, 12, 31), QTime(20, 0, 0), Qt::UTC) << "2016-01-01 4:00:00";
    QTest::newRow("leap day") << QDateTime(QDate(2016, 2, 28), QTime(16, 0, 0), Qt::UTC) << "2016-02-29 0:00:00";
    QTest::newRow("milliseconds dropped")
        << QDateTime(QDate(2015, 3, 7), QTime(1, 2, 3, 999), Qt::UTC) << "2015-03-07 9:02:03";
    QTest::newRow("late evening") << QDateTime(QDate(2020, 1, 9), QTime(15, 59, 59), Qt::UTC) << "2020-01-09 23:59:59";
    QTest::newRow("time given with an offset")
        << QDateTime(QDate(2015, 3, 7), QTime(15, 5, 9), Qt::OffsetFromUTC, 2 * 3600) << "2015-03-07 21:05:09";
}

void tst_BuildFinder::generateTimeText()
{
    QFETCH(QDateTime, lastWrite);
    QFETCH(QString, text);
    QCOMPARE(firmware::generateTimeText(lastWrite), text);
}

void tst_BuildFinder::listingFromDirectories_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("file");
    QTest::newRow("newest build directory")
        << QStringList{"build1.tmp:dir:100", "build1.tmp/Old.ino.hex:file:100", "build2.tmp:dir:10",
                       "build2.tmp/Blink.ino.hex:file:10"}
        << "build2.tmp" << "Blink.ino.hex";
    QTest::newRow("with_bootloader file newer")
        << QStringList{"build1.tmp:dir:1", "build1.tmp/Blink.ino.with_bootloader.hex:file:5",
                       "build1.tmp/Blink.ino.hex:file:10"}
        << "build1.tmp" << "Blink.ino.hex";
    QTest::newRow("newest hex first")
        << QStringList{"build1.tmp:dir:1", "build1.tmp/Old.ino.hex:file:100", "build1.tmp/New.ino.hex:file:3"}
        << "build1.tmp" << "New.ino.hex";
    QTest::newRow("older tool's cpp.hex")
        << QStringList{"build1.tmp:dir:1", "build1.tmp/Blink.cpp.hex:file:3", "build1.tmp/Blink.cpp.elf:file:3"}
        << "build1.tmp" << "Blink.cpp.hex";
    QTest::newRow("sketch name with a blank")
        << QStringList{"build1.tmp:dir:1", "build1.tmp/My Sketch.ino.hex:file:3"} << "build1.tmp" << "Sketch.ino.hex";
    QTest::newRow("newer file named like a build directory")
        << QStringList{"build9.tmp:file:1", "build1.tmp:dir:50", "build1.tmp/A.ino.hex:file:50"}
        << "build1.tmp" << "A.ino.hex";
    QTest::newRow("no build directory: Temp itself is listed")
        << QStringList{"other:dir:1", "Stray.ino.hex:file:2"} << " Dir" << "Stray.ino.hex";
    QTest::newRow("nothing at all") << QStringList() << " Dir" << QString();
    const QString longDir = QStringLiteral("build") + QString(110, QLatin1Char('d')) + QStringLiteral(".tmp");
    const QString longFile = QString(70, QLatin1Char('f')) + QStringLiteral(".ino.hex");
    QTest::newRow("long names")
        << QStringList{longDir + ":dir:1", longDir + "/" + longFile + ":file:1"} << longDir << longFile;
}

void tst_BuildFinder::listingFromDirectories()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, dir);
    QFETCH(QString, file);
    QTemporaryDir temp;
    QVERIFY(populate(temp.path(), entries));
    TempDirOverride override(temp.path());
    const QString user = platform::currentUserName();
    QCOMPARE(firmware::buildDirName(platform::buildDirListing(user)), dir);
    const QString hexListing = platform::hexFileListing(user, dir);
    QVERIFY(hexListing.startsWith(platform::buildDirListing(user)));
    QCOMPARE(firmware::hexFileName(hexListing), file);
    QCOMPARE(platform::buildOutputPath(user, dir, file), temp.path() + "/" + dir + "/" + file);
}

void tst_BuildFinder::listingOrder_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("newest first, directories marked")
        << QStringList{"build1.tmp:dir:30", "build2.tmp:dir:10", "buildlog:file:20", "other.tmp:dir:1"} << "build*"
        << QStringList{"<DIR> build2.tmp", "file buildlog", "<DIR> build1.tmp"};
    QTest::newRow("equal times by name")
        << QStringList{"b.hex:file:5", "a.hex:file:5", "c.txt:file:1"} << "*.hex"
        << QStringList{"file a.hex", "file b.hex"};
    QTest::newRow("pattern ignores case") << QStringList{"Build3.tmp:dir:1", "x:dir:1"} << "build*"
                                          << QStringList{"<DIR> Build3.tmp"};
}

void tst_BuildFinder::listingOrder()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, pattern);
    QFETCH(QStringList, listed);
    QTemporaryDir temp;
    QVERIFY(populate(temp.path(), entries));
    const QString text = platform::formatListing(temp.path(), pattern);
    QVERIFY(text.startsWith(QStringLiteral(" Directory of ") + temp.path() + "\n"));
    static const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d  \\d\\d:\\d\\d +(<DIR>|\\d+) +(.+)$"),
                                         QRegularExpression::MultilineOption);
    QStringList seen;
    for (auto it = line.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        seen << (m.captured(1) == QLatin1String("<DIR>") ? "<DIR> " : "file ") + m.captured(2);
    }
    QCOMPARE(seen, listed);
}

void tst_BuildFinder::appendTrace()
{
    QTemporaryDir temp;
    const QString path = temp.filePath(QStringLiteral("log.txt"));
    QVERIFY(firmware::appendTrace(path, "first listing\n"));
    QVERIFY(firmware::appendTrace(path, "second"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("first listing\nsecond"));
    QVERIFY(QDir(temp.path()).mkdir(QStringLiteral("dir.txt")));
    QVERIFY(!firmware::appendTrace(temp.filePath(QStringLiteral("dir.txt")), "x"));
}

// Past the limit the file moves to "<path>.1", replacing the older one; when it cannot move, the
// file starts anew.
void tst_BuildFinder::traceMovedAside()
{
    QTemporaryDir temp;
    const QString path = temp.filePath(QStringLiteral("log.txt"));
    QVERIFY(firmware::appendTrace(path, "0123456789", 16));
    QVERIFY(firmware::appendTrace(path, "abcde", 16));
    QVERIFY(firmware::appendTrace(path, "fghij", 16));
    QCOMPARE(readFile(path), QByteArray("fghij"));
    QCOMPARE(readFile(path + ".1"), QByteArray("0123456789abcde"));
    QVERIFY(firmware::appendTrace(path, "0123456789ABCDEF", 16));
    QCOMPARE(readFile(path), QByteArray("0123456789ABCDEF"));
    QCOMPARE(readFile(path + ".1"), QByteArray("fghij"));
    QVERIFY(QFile::remove(path + ".1") && QDir(temp.path()).mkdir(QStringLiteral("log.txt.1")));
    QVERIFY(firmware::appendTrace(path, "x", 16));
    QCOMPARE(readFile(path), QByteArray("x"));
}

void tst_BuildFinder::cacheDirectory_data()
{
    QTest::addColumn<QByteArray>("xdg");
    QTest::addColumn<QString>("cache");
    QTest::newRow("XDG_CACHE_HOME") << QByteArray("/var/cache/u") << "/var/cache/u";
    QTest::newRow("unset") << QByteArray() << QDir::homePath() + "/.cache";
    QTest::newRow("relative, ignored") << QByteArray("rel/cache") << QDir::homePath() + "/.cache";
}

void tst_BuildFinder::cacheDirectory()
{
    QFETCH(QByteArray, xdg);
    QFETCH(QString, cache);
    EnvOverride override("XDG_CACHE_HOME", xdg);
    QCOMPARE(platform::cacheDirectory(), cache);
}

void tst_BuildFinder::sketchBuilds_data()
{
    // Entries under "temp/" and "cache/" as for populate(); the legacy file is given as found
    // in the listings; the chosen file relative to the root, or empty.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("legacy");
    QTest::addColumn<QString>("chosen");
    const QString ideBuild = Layouts[0];
    const QStringList &layouts = Layouts;
    for (const QString &dir : layouts)
        QTest::newRow(qPrintable(dir.section('/', 0, -2) + " layout"))
            << QStringList{dir + ":dir:9", dir + "/Blink.ino.hex:file:9", dir + "/Blink.ino.elf:file:2"} << QString()
            << dir + "/Blink.ino.hex";
    QTest::newRow("newest across places")
        << QStringList{layouts[0] + ":dir:1", layouts[0] + "/A.ino.hex:file:30", layouts[3] + ":dir:1",
                       layouts[3] + "/B.ino.hex:file:20", layouts[4] + ":dir:1", layouts[4] + "/C.ino.hex:file:10",
                       layouts[1] + ":dir:1", layouts[1] + "/D.ino.hex:file:40"}
        << QString() << layouts[4] + "/C.ino.hex";
    QTest::newRow("the file's time, not the directory's")
        << QStringList{"temp/arduino_build_1:dir:1", "temp/arduino_build_1/Old.ino.hex:file:50",
                       "temp/arduino_build_2:dir:60", "temp/arduino_build_2/New.ino.hex:file:5"}
        << QString() << "temp/arduino_build_2/New.ino.hex";
    QTest::newRow("newer with_bootloader ignored")
        << QStringList{ideBuild + ":dir:1", ideBuild + "/Blink.ino.with_bootloader.hex:file:3",
                       ideBuild + "/Blink.ino.hex:file:4"}
        << QString() << ideBuild + "/Blink.ino.hex";
    QTest::newRow("older tool's cpp.hex")
        << QStringList{ideBuild + ":dir:1", ideBuild + "/Blink.cpp.hex:file:4"} << QString()
        << ideBuild + "/Blink.cpp.hex";
    QTest::newRow("name with blanks kept whole")
        << QStringList{ideBuild + ":dir:1", ideBuild + "/My Sketch.ino.hex:file:4"} << QString()
        << ideBuild + "/My Sketch.ino.hex";
    QTest::newRow("no HEX of another name")
        << QStringList{ideBuild + ":dir:1", ideBuild + "/Blink.hex:file:1", ideBuild + "/.ino.hex:file:1",
                       ideBuild + "/Blink.INO.HEX:file:1", ideBuild + "/Blink.ino.hex.tmp:file:1",
                       ideBuild + "/Dir.ino.hex:dir:1", ideBuild + "/sketch:dir:1",
                       ideBuild + "/sketch/Deep.ino.hex:file:1"}
        << QString() << QString();
    QTest::newRow("not a build directory's name")
        << QStringList{"temp/arduino_build_12a:dir:1", "temp/arduino_build_12a/A.ino.hex:file:1",
                       "temp/arduino_build_:dir:1", "temp/arduino_build_/B.ino.hex:file:1",
                       "temp/arduino-sketch-" + Hash.left(31) + ":dir:1",
                       "temp/arduino-sketch-" + Hash.left(31) + "/C.ino.hex:file:1",
                       "temp/arduino/sketches/" + Hash.left(31) + "g:dir:1",
                       "temp/arduino/sketches/" + Hash.left(31) + "g/D.ino.hex:file:1",
                       "temp/sketches/" + Hash + ":dir:1", "temp/sketches/" + Hash + "/E.ino.hex:file:1",
                       "cache/arduino-sketch-" + Hash + ":dir:1", "cache/arduino-sketch-" + Hash + "/F.ino.hex:file:1",
                       "temp/arduino_build_7:file:1"}
        << QString() << QString();
    QTest::newRow("build.tmp file newer")
        << QStringList{"temp/build1.tmp:dir:1", "temp/build1.tmp/Old.ino.hex:file:5", ideBuild + ":dir:1",
                       ideBuild + "/New.ino.hex:file:20"}
        << "temp/build1.tmp/Old.ino.hex" << "temp/build1.tmp/Old.ino.hex";
    QTest::newRow("current tool's file newer")
        << QStringList{"temp/build1.tmp:dir:1", "temp/build1.tmp/Old.ino.hex:file:20", ideBuild + ":dir:1",
                       ideBuild + "/New.ino.hex:file:5"}
        << "temp/build1.tmp/Old.ino.hex" << ideBuild + "/New.ino.hex";
    QTest::newRow("build.tmp name that names no file")
        << QStringList{"temp/build1.tmp:dir:1", "temp/build1.tmp/My Sketch.ino.hex:file:5"}
        << "temp/build1.tmp/Sketch.ino.hex" << "temp/build1.tmp/Sketch.ino.hex";
}

void tst_BuildFinder::sketchBuilds()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, legacy);
    QFETCH(QString, chosen);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("temp") && QDir(root.path()).mkpath("cache"));
    QVERIFY(populate(root.path(), entries));
    const auto places = firmware::currentToolPlaces(root.filePath("temp"), root.filePath("cache"));
    QCOMPARE(places.size(), 5);
    firmware::BuildOutputSearch search;
    QByteArray trace("listing");
    const firmware::BuildOutputChoice choice =
        search.look(legacy.isEmpty() ? QString() : root.filePath(legacy), places, Base, &trace);
    QCOMPARE(choice.path, chosen.isEmpty() ? QString() : root.filePath(chosen));
    QVERIFY(!choice.stillWritten);
    QVERIFY(trace.startsWith("listing\n Sketch build directories\n"));
    if (!chosen.isEmpty() && legacy != chosen)
        QVERIFY(trace.contains(" chosen ") && trace.contains(QFile::encodeName(root.filePath(chosen))));
    // A place that is not given is not looked at.
    QCOMPARE(firmware::currentToolPlaces(QString(), root.filePath("cache")).size(), 1);
}

void tst_BuildFinder::writeSettle_data()
{
    // Looks at one file, each "age ms/size" (another path: "other"); whether each is settled.
    QTest::addColumn<QStringList>("looks");
    QTest::addColumn<QString>("settled");
    QTest::newRow("finished file") << QStringList{"5000/100"} << "1";
    QTest::newRow("younger than a second") << QStringList{"500/100", "2500/100"} << "01";
    QTest::newRow("size changes between looks") << QStringList{"3000/100", "5000/200", "7000/200"} << "101";
    QTest::newRow("another file between looks") << QStringList{"3000/100", "other", "7000/200"} << "111";
    QTest::newRow("time ahead of the clock: size judged") << QStringList{"-9000/100", "-7000/300", "-5000/300"}
                                                          << "101";
}

void tst_BuildFinder::writeSettle()
{
    QFETCH(QStringList, looks);
    QFETCH(QString, settled);
    firmware::WriteSettleCheck check;
    QString seen;
    for (const QString &look : looks) {
        const bool other = look == QLatin1String("other");
        const firmware::HexCandidate file{other ? QStringLiteral("/t/arduino_build_2/b.ino.hex")
                                                : QStringLiteral("/t/arduino_build_1/a.ino.hex"),
                                          Base.addMSecs(other ? -5000 : -look.section('/', 0, 0).toLongLong()),
                                          other ? 50 : look.section('/', 1).toLongLong()};
        seen += check.settled(file, Base) ? '1' : '0';
    }
    QCOMPARE(seen, settled);
}

// A file being written is not taken, and neither is an older one in its place: the file in use
// stays until the next look.
void tst_BuildFinder::fileBeingWrittenWaits()
{
    QTemporaryDir root;
    QVERIFY(populate(root.path(), {"arduino_build_1:dir:1", "arduino_build_1/Old.ino.hex:file:60",
                                   "arduino_build_2:dir:1", "arduino_build_2/New.ino.hex:file:0"}));
    const auto places = firmware::currentToolPlaces(root.path(), QString());
    firmware::BuildOutputSearch search;
    QByteArray trace;
    firmware::BuildOutputChoice choice = search.look(QString(), places, Base.addMSecs(300), &trace);
    QCOMPARE(choice.path, QString());
    QVERIFY(choice.stillWritten);
    QVERIFY(trace.contains(" being written, next look "));
    choice = search.look(QString(), places, Base.addMSecs(2300), &trace);
    QCOMPARE(choice.path, root.filePath("arduino_build_2/New.ino.hex"));
    QVERIFY(!choice.stillWritten);
}

void tst_BuildFinder::buildMadeWhileLooking_data()
{
    QTest::addColumn<QString>("dir");
    for (const QString &dir : Layouts)
        QTest::newRow(qPrintable(dir)) << dir;
}

// The user's order: a look; the tool makes its build directory; a look while the parent's time is
// too recent to trust, then one after it settled; the HEX file comes; the next look takes it.
void tst_BuildFinder::buildMadeWhileLooking()
{
    QFETCH(QString, dir);
    QTemporaryDir root;
    const QString parent = dir.section('/', 0, -2);
    QVERIFY(populate(root.path(), {"temp:dir:100", "cache:dir:100", parent + ":dir:100"}));
    const auto places = firmware::currentToolPlaces(root.filePath("temp"), root.filePath("cache"));
    firmware::BuildOutputSearch search;
    QByteArray trace;
    const auto lookAt = [&](int secondsAgo) {
        trace.clear();
        return search.look(QString(), places, Base.addSecs(-secondsAgo), &trace).path;
    };
    QCOMPARE(lookAt(20), QString());
    QVERIFY(populate(root.path(), {dir + ":dir:10", parent + ":dir:10"}));
    QCOMPARE(lookAt(9), QString());
    QCOMPARE(lookAt(7), QString());
    QVERIFY(populate(root.path(), {dir + "/Blink.ino.hex:file:5", dir + ":dir:5"}));
    QCOMPARE(lookAt(3), root.filePath(dir + "/Blink.ino.hex"));
    QCOMPARE(trace.count(": 1 build directories"), 1); // only the place it belongs to
}

// A directory is read again when its time changed, or when its time was too recent to trust.
void tst_BuildFinder::namesReadAgainWhenChanged()
{
    QTemporaryDir root;
    const QString dir = root.filePath("arduino_build_1");
    const auto sorted = [](QStringList l) { l.sort(); return l; };
    const qint64 now = Base.toMSecsSinceEpoch();
    firmware::DirectoryNames names;
    QVERIFY(populate(root.path(), {"arduino_build_1:dir:100", "arduino_build_1/A.ino.hex:file:100"}));
    QCOMPARE(names.hexFiles(dir, now), QStringList{"A.ino.hex"});
    QVERIFY(populate(root.path(), {"arduino_build_1/B.ino.hex:file:100", "arduino_build_1:dir:100"}));
    QCOMPARE(names.hexFiles(dir, now), QStringList{"A.ino.hex"}); // unchanged time: not read
    QVERIFY(setAge(dir, 50));
    QCOMPARE(sorted(names.hexFiles(dir, now)), (QStringList{"A.ino.hex", "B.ino.hex"}));
    QVERIFY(setAge(dir, 1));
    QCOMPARE(names.hexFiles(dir, now).size(), 2);
    QVERIFY(populate(root.path(), {"arduino_build_1/C.cpp.hex:file:100", "arduino_build_1:dir:1"}));
    QCOMPARE(names.hexFiles(dir, now).size(), 3); // a time within the racy span is not trusted
    QVERIFY(QDir(dir).removeRecursively());
    QCOMPARE(names.hexFiles(dir, now), QStringList());
    // A directory that is no longer read is forgotten: made again with the same time, it is read.
    names.forgetUnread();
    QVERIFY(populate(root.path(), {"arduino_build_1:dir:100", "arduino_build_1/A.ino.hex:file:100"}));
    QCOMPARE(names.hexFiles(dir, now), QStringList{"A.ino.hex"});
    QVERIFY(populate(root.path(), {"arduino_build_1/B.ino.hex:file:100", "arduino_build_1:dir:100"}));
    names.forgetUnread();
    names.forgetUnread();
    QCOMPARE(names.hexFiles(dir, now).size(), 2);
}

// The command interpreter gets its next line only once it shows its prompt.
void tst_BuildFinder::endsAtPrompt_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("prompt");

    QTest::newRow("after the banner") << QByteArray("Microsoft Windows [Version 10.0]\r\n\r\nC:\\Users\\ann>") << true;
    QTest::newRow("after a listing") << QByteArray("  1 Dir(s)\r\n\r\nC:\\Users\\ann\\AppData\\Local\\Temp>") << true;
    QTest::newRow("the drive's root") << QByteArray("C:\\>") << true;
    QTest::newRow("a command echoed after it") << QByteArray("C:\\Users\\ann>dir *.hex") << false;
    QTest::newRow("listing still coming") << QByteArray("2015-03-07  21:05    <DIR>") << false;
    QTest::newRow("a line ending in > that is no path") << QByteArray("\r\nx>") << false;
    QTest::newRow("nothing yet") << QByteArray() << false;
}

void tst_BuildFinder::endsAtPrompt()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, prompt);
    QCOMPARE(platform::endsAtPrompt(output), prompt);
}

QTEST_GUILESS_MAIN(tst_BuildFinder)
#include "tst_buildfinder.moc"
