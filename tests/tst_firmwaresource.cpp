#include "buildfinder.h"
#include "firmwaresource.h"
#include "platform.h"
#include "sandbox.h"
#include "stderrcapture.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using firmware::FirmwareSource;
using harness::BlinkHex;
using harness::BlinkImage;
using harness::OldImage;
using harness::Sandbox;
using harness::timeTextOf;

// The firmware source without a window: default and manual file, the finder's results, the
// file in use and its conversion.
class tst_FirmwareSource : public QObject
{
    Q_OBJECT

private slots:
    void initialState();
    void modeTouchesNothingElse();
    void chooseManualFile_data();
    void chooseManualFile();
    void refresh_data();
    void refresh();
    void traceGrowsPerRefresh();
    void foundValuesKeptWhenBuildGoes();
    void unwritableTrace_data();
    void unwritableTrace();
    void fileNameOf_data();
    void fileNameOf();
};

void tst_FirmwareSource::initialState()
{
    const FirmwareSource source;
    QVERIFY(!source.manualMode());
    QVERIFY(source.defaultFilePath().isEmpty());
    QVERIFY(!source.defaultFilePath().isNull());
    QVERIFY(source.currentFileName().isNull());
    QVERIFY(source.manualFilePath().isNull());
    QVERIFY(source.generateTime().isNull());
}

// Switching the source changes the mode only: paths, file in use, time and image stay.
void tst_FirmwareSource::modeTouchesNothingElse()
{
    Sandbox box;
    const QString build = box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("blink.ino.hex"), BlinkHex);
    FirmwareSource source;
    source.refreshDefaultFile();
    source.useDefaultFile();
    QVERIFY(source.chooseManualFile(build));
    const QString time = source.generateTime();
    for (bool manual : {true, false, true}) {
        source.setManualMode(manual);
        QCOMPARE(source.manualMode(), manual);
        QCOMPARE(source.defaultFilePath(), build);
        QCOMPARE(source.manualFilePath(), build);
        QCOMPARE(source.currentFileName(), QStringLiteral("blink.ino.hex"));
        QCOMPARE(source.generateTime(), time);
    }
    QVERIFY(!QFile::exists(QStringLiteral("./update.bin")));
}

void tst_FirmwareSource::chooseManualFile_data()
{
    QTest::addColumn<bool>("pick");
    QTest::newRow("cancelled") << false;
    QTest::newRow("picked") << true;
}

void tst_FirmwareSource::chooseManualFile()
{
    QFETCH(bool, pick);
    Sandbox box;
    const QString file = box.makeManualFile();
    QVERIFY(!file.isEmpty());
    const QString build = box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("earlier.ino.hex"), BlinkHex);
    FirmwareSource source;
    source.refreshDefaultFile();
    source.useDefaultFile();
    const QString earlierTime = source.generateTime();
    source.setManualMode(true);

    if (!pick) {
        QVERIFY(!source.chooseManualFile(QString()));
        QCOMPARE(source.manualFilePath(), QString());
        QCOMPARE(source.currentFileName(), QStringLiteral("earlier.ino.hex"));
        QCOMPARE(source.generateTime(), earlierTime);
        QCOMPARE(readFile(QStringLiteral("./update.bin")), OldImage);
        return;
    }
    QVERIFY(source.chooseManualFile(file));
    QCOMPARE(source.manualFilePath(), file);
    QCOMPARE(source.generateTime(), timeTextOf(file));
    QCOMPARE(source.currentFileName(), QStringLiteral("earlier.ino.hex")); // until it is used
    QCOMPARE(readFile(QStringLiteral("./update.bin")), OldImage);
    source.useManualFile();
    QCOMPARE(source.currentFileName(), QStringLiteral("blink.ino.hex"));
    QVERIFY(source.convertManualFile());
    QCOMPARE(readFile(QStringLiteral("./update.bin")), BlinkImage);
    QCOMPARE(source.defaultFilePath(), build);
}

void tst_FirmwareSource::refresh_data()
{
    // "dir/file" under the temporary directory, or under the cache directory with "cache:"
    QTest::addColumn<QStringList>("builds");
    QTest::addColumn<QString>("found"); // as in builds, or empty
    QTest::newRow("build directory with a sketch") << QStringList{"build1.tmp/blink.ino.hex"}
                                                   << "build1.tmp/blink.ino.hex";
    QTest::newRow("IDE 1.8 build directory, newer")
        << QStringList{"build1.tmp/old.ino.hex", "arduino_build_64775/blink.ino.hex"}
        << "arduino_build_64775/blink.ino.hex";
    QTest::newRow("cache directory")
        << QStringList{"cache:arduino/sketches/0123456789ABCDEF0123456789ABCDEF/blink.ino.hex"}
        << "cache:arduino/sketches/0123456789ABCDEF0123456789ABCDEF/blink.ino.hex";
    QTest::newRow("no build directory") << QStringList() << QString();
    QTest::newRow("build directory without hex") << QStringList{"build1.tmp/blink.ino.elf"} << QString();
}

// The finder's result becomes the default file, and with useDefaultFile the file in use.
void tst_FirmwareSource::refresh()
{
    QFETCH(QStringList, builds);
    QFETCH(QString, found);
    Sandbox box;
    const auto place = [&box](const QString &build) {
        return build.startsWith("cache:") ? qMakePair(box.cache.path(), build.mid(6)) : qMakePair(box.temp.path(), build);
    };
    for (const QString &b : builds) {
        const auto p = place(b);
        QVERIFY(!box.makeBuild(p.second.section('/', 0, -2), p.second.section('/', -1), BlinkHex, p.first).isEmpty());
        QTest::qWait(20); // the later file is the newer one
    }
    FirmwareSource source;
    source.refreshDefaultFile();
    source.useDefaultFile();

    const QString path = found.isEmpty() ? QString() : place(found).first + "/" + place(found).second;
    QCOMPARE(source.defaultFilePath(), path);
    QCOMPARE(source.currentFileName(), found.section('/', -1));
    QCOMPARE(source.generateTime(), found.isEmpty() ? QString() : timeTextOf(path));
    const QByteArray trace = readFile(QStringLiteral("./log.txt"));
    const QString listing = platform::hexFileListing(platform::currentUserName(), firmware::buildDirName(
                                          platform::buildDirListing(platform::currentUserName())));
    QVERIFY(QString::fromLocal8Bit(trace).startsWith(listing + "\n Sketch build directories\n"));
    QVERIFY(trace.contains(QFile::encodeName(box.cache.path() + "/arduino/sketches ^")));
    if (!found.isEmpty()) {
        QVERIFY(source.convertDefaultFile());
        QCOMPARE(readFile(QStringLiteral("./update.bin")), BlinkImage);
    }
}

void tst_FirmwareSource::traceGrowsPerRefresh()
{
    Sandbox box;
    box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("blink.ino.hex"), BlinkHex);
    FirmwareSource source;
    source.refreshDefaultFile();
    const QByteArray once = readFile(QStringLiteral("./log.txt"));
    QVERIFY(once.contains("blink.ino.hex"));
    source.refreshDefaultFile();
    source.refreshDefaultFile();
    QCOMPARE(readFile(QStringLiteral("./log.txt")), once + once + once);
}

// Nothing found later keeps what was found before.
void tst_FirmwareSource::foundValuesKeptWhenBuildGoes()
{
    Sandbox box;
    const QString path = box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("blink.ino.hex"), BlinkHex);
    FirmwareSource source;
    source.refreshDefaultFile();
    QCOMPARE(source.defaultFilePath(), path);
    const QString time = source.generateTime();
    QVERIFY(!time.isEmpty());
    QVERIFY(QDir(box.temp.path() + "/build1.tmp").removeRecursively());
    source.refreshDefaultFile();
    source.useDefaultFile();
    QCOMPARE(source.defaultFilePath(), path);
    QCOMPARE(source.currentFileName(), QStringLiteral("blink.ino.hex"));
    QCOMPARE(source.generateTime(), time);
}

void tst_FirmwareSource::unwritableTrace_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("fromStart"); // else after a first look
    QTest::newRow("log.txt a directory from the start") << "directory" << true;
    QTest::newRow("log.txt made a directory between looks") << "directory" << false;
    if (geteuid() != 0) // the superuser writes into read-only directories
        QTest::newRow("read-only working directory") << "read-only" << true;
}

// A trace file that cannot be written changes nothing of what is found, a newer build included,
// and is named once on standard error.
void tst_FirmwareSource::unwritableTrace()
{
    QFETCH(QString, how);
    QFETCH(bool, fromStart);
    Sandbox box;
    const QString older = box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("old.ino.hex"), BlinkHex);
    QFile file(older);
    QVERIFY(file.open(QIODevice::ReadWrite)
            && file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-60), QFileDevice::FileModificationTime));
    FirmwareSource source;
    if (!fromStart) {
        source.refreshDefaultFile();
        QCOMPARE(source.defaultFilePath(), older);
        QVERIFY(QFile::remove(QStringLiteral("log.txt")));
    }
    QString expected = QStringLiteral("open file error: ./log.txt cannot be written: Is a directory\n");
    if (how == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(QStringLiteral("log.txt")));
    } else {
        QVERIFY(chmod(".", 0555) == 0);
        expected.replace(QStringLiteral("Is a directory"), QStringLiteral("Permission denied"));
    }
    const QString newer = box.makeBuild(QStringLiteral("arduino_build_2"), QStringLiteral("new.ino.hex"), BlinkHex);
    StderrCapture err;
    source.refreshDefaultFile();
    source.refreshDefaultFile();
    const QString said = QString::fromLocal8Bit(err.text());
    chmod(".", 0755);
    QCOMPARE(said, expected);
    QCOMPARE(source.defaultFilePath(), newer);
}

void tst_FirmwareSource::fileNameOf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("slashes") << "/tmp/build1.tmp/blink.ino.hex" << "blink.ino.hex";
    QTest::newRow("native separators") << QDir::toNativeSeparators("/t/build1.tmp/b.ino.hex") << "b.ino.hex";
    QTest::newRow("no separator") << "blink.hex" << "blink.hex";
    QTest::newRow("empty") << "" << "";
}

void tst_FirmwareSource::fileNameOf()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(FirmwareSource::fileNameOf(path), name);
}

QTEST_GUILESS_MAIN(tst_FirmwareSource)
#include "tst_firmwaresource.moc"
