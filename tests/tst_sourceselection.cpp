#include "buildfinder.h"
#include "platform.h"
#include "stderrcapture.h"
#include "widgetinspector.h"
#include "windowharness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using harness::ModalDriver;
using harness::Sandbox;

namespace {

const QByteArray OldImage("the old image");
const QByteArray BlinkHex(":0400000001020304F2\n:00000001FF\n");
const QByteArray BlinkImage("\x01\x02\x03\x04");

QString timeTextOf(const QString &path)
{
    return firmware::generateTimeText(QFileInfo(path).fileTime(QFileDevice::FileModificationTime));
}

} // namespace

// The firmware source: the two radio buttons, Open File, and the periodic refresh.
class tst_SourceSelection : public QObject
{
    Q_OBJECT

private slots:
    void toggles_data();
    void toggles();
    void openFile_data();
    void openFile();
    void refresh_data();
    void refresh();
    void traceGrowsPerRefresh();
    void foundValuesKeptWhenBuildGoes();
    void unwritableTrace_data();
    void unwritableTrace();
    void manualModeSkipsPresenceSweep();
    void timerShowsNewBuild();
};

void tst_SourceSelection::toggles_data()
{
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<bool>("openFileEnabled");
    QTest::addColumn<bool>("manualMode");
    QTest::newRow("start") << QString() << false << false;
    QTest::newRow("manual") << "M" << true << true;
    QTest::newRow("manual then default") << "MD" << false << false;
    QTest::newRow("default while default") << "D" << false << false;
    QTest::newRow("manual twice") << "MM" << true << true;
    QTest::newRow("back to manual") << "MDM" << true << true;
}

// The toggles switch Open File and the mode, and touch nothing else.
void tst_SourceSelection::toggles()
{
    QFETCH(QString, clicks);
    QFETCH(bool, openFileEnabled);
    QFETCH(bool, manualMode);
    Sandbox box;
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.setDefaultFilePath(QStringLiteral("/d/blink.ino.hex"));
    in.setManualFilePath(QStringLiteral("/m/other.hex"));
    in.setCurrentFileName(QStringLiteral("blink.ino.hex"));
    in.ui()->lineEdit->setText(QStringLiteral("/m/other.hex"));
    for (const QChar c : clicks)
        (c == QLatin1Char('M') ? in.ui()->radioButton : in.ui()->radioButton_2)->click();
    QCOMPARE(in.ui()->pushButton_4->isEnabled(), openFileEnabled);
    QCOMPARE(in.manualMode(), manualMode);
    QCOMPARE(in.ui()->radioButton->isChecked(), manualMode);
    QCOMPARE(in.ui()->radioButton_2->isChecked(), !manualMode);
    QCOMPARE(in.defaultFilePath(), QStringLiteral("/d/blink.ino.hex"));
    QCOMPARE(in.manualFilePath(), QStringLiteral("/m/other.hex"));
    QCOMPARE(in.currentFileName(), QStringLiteral("blink.ino.hex"));
    QCOMPARE(in.ui()->lineEdit->text(), QStringLiteral("/m/other.hex"));
    QCOMPARE(in.ui()->label_2->text(), QStringLiteral("0:0:0"));
    QVERIFY(!QFile::exists(QStringLiteral("./update.bin")));
}

void tst_SourceSelection::openFile_data()
{
    QTest::addColumn<bool>("pick");
    QTest::newRow("cancelled") << false;
    QTest::newRow("picked") << true;
}

void tst_SourceSelection::openFile()
{
    QFETCH(bool, pick);
    Sandbox box;
    QVERIFY(writeFile(QStringLiteral("./update.bin"), OldImage));
    QVERIFY(QDir().mkdir(QStringLiteral("fw")));
    const QString file = QDir::current().absoluteFilePath(QStringLiteral("fw/blink.ino.hex"));
    QVERIFY(writeFile(file, BlinkHex));

    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.ui()->radioButton->click();
    in.ui()->lineEdit->setText(QStringLiteral("earlier.hex"));
    in.ui()->lineEdit_3->setText(QStringLiteral("earlier.hex"));
    in.setCurrentFileName(QStringLiteral("earlier.hex"));

    ModalDriver driver(pick ? file : QString());
    in.ui()->pushButton_4->click();

    QCOMPARE(driver.dialogs, QStringList{"Open hex / hex(*.hex) / " + QDir::current().canonicalPath()});
    if (!pick) {
        QCOMPARE(driver.boxes, QStringList{"waring / open file fail"});
        QCOMPARE(in.manualFilePath(), QString());
        QCOMPARE(in.ui()->lineEdit->text(), QStringLiteral("earlier.hex"));
        QCOMPARE(in.ui()->lineEdit_3->text(), QStringLiteral("earlier.hex"));
        QCOMPARE(in.currentFileName(), QStringLiteral("earlier.hex"));
        QCOMPARE(in.ui()->label_2->text(), QStringLiteral("0:0:0"));
        QCOMPARE(readFile(QStringLiteral("./update.bin")), OldImage);
        return;
    }
    QCOMPARE(driver.boxes, QStringList{"tip / open file successful"});
    // The box comes before the conversion.
    QCOMPARE(driver.imageAtBox, QList<QByteArray>{OldImage});
    QCOMPARE(in.manualFilePath(), file);
    QCOMPARE(in.ui()->lineEdit->text(), file);
    QCOMPARE(in.currentFileName(), QStringLiteral("blink.ino.hex"));
    QCOMPARE(in.ui()->lineEdit_3->text(), QStringLiteral("blink.ino.hex"));
    QCOMPARE(in.generateTime(), timeTextOf(file));
    QCOMPARE(in.ui()->label_2->text(), timeTextOf(file));
    QCOMPARE(readFile(QStringLiteral("./update.bin")), BlinkImage);
}

void tst_SourceSelection::refresh_data()
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

// One timer tick in default mode: the finder runs and the fields show its result.
void tst_SourceSelection::refresh()
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
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    QVERIFY(in.invoke("update_hex_file"));

    const QString path = found.isEmpty() ? QString() : place(found).first + "/" + place(found).second;
    const QString name = found.section('/', -1);
    const QString time = found.isEmpty() ? QString() : timeTextOf(path);
    QCOMPARE(in.defaultFilePath(), path);
    QCOMPARE(in.ui()->lineEdit_2->text(), path);
    QCOMPARE(in.currentFileName(), name);
    QCOMPARE(in.ui()->lineEdit_3->text(), name);
    QCOMPARE(in.generateTime(), time);
    QCOMPARE(in.ui()->label_2->text(), time);
    const QByteArray trace = readFile(QStringLiteral("./log.txt"));
    const QString listing = platform::hexFileListing(platform::currentUserName(), firmware::buildDirName(
                                          platform::buildDirListing(platform::currentUserName())));
    QVERIFY(QString::fromLocal8Bit(trace).startsWith(listing + "\n Sketch build directories\n"));
    QVERIFY(trace.contains(QFile::encodeName(box.cache.path() + "/arduino/sketches ^")));
}

void tst_SourceSelection::traceGrowsPerRefresh()
{
    Sandbox box;
    box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("blink.ino.hex"), BlinkHex);
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    QVERIFY(in.invoke("update_hex_file"));
    const QByteArray once = readFile(QStringLiteral("./log.txt"));
    QVERIFY(once.contains("blink.ino.hex"));
    QVERIFY(in.invoke("update_hex_file"));
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(readFile(QStringLiteral("./log.txt")), once + once + once);
}

// Nothing found later keeps what was found before, on screen and in the members.
void tst_SourceSelection::foundValuesKeptWhenBuildGoes()
{
    Sandbox box;
    const QString path = box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("blink.ino.hex"), BlinkHex);
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.defaultFilePath(), path);
    const QString time = in.generateTime();
    QVERIFY(!time.isEmpty());
    QVERIFY(QDir(box.temp.path() + "/build1.tmp").removeRecursively());
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.defaultFilePath(), path);
    QCOMPARE(in.ui()->lineEdit_2->text(), path);
    QCOMPARE(in.ui()->lineEdit_3->text(), QStringLiteral("blink.ino.hex"));
    QCOMPARE(in.ui()->label_2->text(), time);
}

void tst_SourceSelection::unwritableTrace_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("log.txt is a directory") << "directory";
    if (geteuid() != 0) // the superuser writes into read-only directories
        QTest::newRow("read-only working directory") << "read-only";
}

// Without a trace file the finder searches nothing and never sets the default file.
void tst_SourceSelection::unwritableTrace()
{
    QFETCH(QString, how);
    Sandbox box;
    box.makeBuild(QStringLiteral("build1.tmp"), QStringLiteral("blink.ino.hex"), BlinkHex);
    QString expected;
    if (how == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(QStringLiteral("log.txt")));
        expected = QStringLiteral("open file error: Is a directory\n");
    } else {
        QVERIFY(chmod(".", 0555) == 0);
        expected = QStringLiteral("open file error: Permission denied\n");
    }
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    StderrCapture err;
    QVERIFY(in.invoke("update_hex_file"));
    const QString said = QString::fromLocal8Bit(err.text());
    chmod(".", 0755);
    QCOMPARE(said, expected);
    QCOMPARE(in.defaultFilePath(), QString());
    QCOMPARE(in.ui()->lineEdit_2->text(), QString());
    QCOMPARE(in.currentFileName(), QString());
}

// The presence sweep runs from the default-mode tick only.
void tst_SourceSelection::manualModeSkipsPresenceSweep()
{
    Sandbox box;
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.refreshPresence(QStringLiteral("127.0.0.9"));
    QCOMPARE(in.presenceMap().value(QStringLiteral("127.0.0.9")), 5);
    in.ui()->radioButton->click();
    QVERIFY(in.invoke("update_hex_file"));
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.presenceMap().value(QStringLiteral("127.0.0.9")), 5);
    QCOMPARE(in.ui()->label_2->text(), QStringLiteral("0:0:0"));
    QVERIFY(!QFile::exists(QStringLiteral("./log.txt")));
    in.ui()->radioButton_2->click();
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.presenceMap().value(QStringLiteral("127.0.0.9")), 4);
}

// The running window shows a fresh build within its 2000 ms tick.
void tst_SourceSelection::timerShowsNewBuild()
{
    Sandbox box;
    Widget w;
    WidgetInspector in{w};
    w.show();
    const QString path = box.makeBuild(QStringLiteral("build5b3c1d2e9f.tmp"), QStringLiteral("Blink.ino.hex"), BlinkHex);
    QTRY_COMPARE_WITH_TIMEOUT(in.ui()->lineEdit_2->text(), path, 4000);
    QCOMPARE(in.ui()->lineEdit_3->text(), QStringLiteral("Blink.ino.hex"));
    QCOMPARE(in.ui()->label_2->text(), timeTextOf(path));
}

QTEST_MAIN(tst_SourceSelection)
#include "tst_sourceselection.moc"
