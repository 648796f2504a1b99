#include "widgetinspector.h"
#include "windowharness.h"

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTest>

using harness::ModalDriver;
using harness::BlinkHex;
using harness::BlinkImage;
using harness::OldImage;
using harness::Sandbox;
using harness::timeTextOf;

// The window's side of the firmware source: the two radio buttons, Open File and its boxes, and
// the periodic refresh showing what the source found (its logic: tst_firmwaresource).
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
    in.pickManualFile(QStringLiteral("/m/blink.ino.hex"));
    in.ui()->lineEdit->setText(QStringLiteral("/m/other.hex"));
    for (const QChar c : clicks)
        (c == QLatin1Char('M') ? in.ui()->radioButton : in.ui()->radioButton_2)->click();
    QCOMPARE(in.ui()->pushButton_4->isEnabled(), openFileEnabled);
    QCOMPARE(in.source().manualMode(), manualMode);
    QCOMPARE(in.ui()->radioButton->isChecked(), manualMode);
    QCOMPARE(in.ui()->radioButton_2->isChecked(), !manualMode);
    QCOMPARE(in.source().currentFileName(), QStringLiteral("blink.ino.hex"));
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
    const QString file = box.makeManualFile();
    QVERIFY(!file.isEmpty());

    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.ui()->radioButton->click();
    in.ui()->lineEdit->setText(QStringLiteral("earlier.hex"));
    in.ui()->lineEdit_3->setText(QStringLiteral("earlier.hex"));
    in.pickManualFile(QStringLiteral("earlier.hex"));

    ModalDriver driver(pick ? file : QString());
    in.ui()->pushButton_4->click();

    QCOMPARE(driver.dialogs, QStringList{"Open hex / hex(*.hex) / " + QDir::current().canonicalPath()});
    if (!pick) {
        QCOMPARE(driver.boxes, QStringList{"waring / open file fail"});
        QCOMPARE(in.source().manualFilePath(), QString());
        QCOMPARE(in.ui()->lineEdit->text(), QStringLiteral("earlier.hex"));
        QCOMPARE(in.ui()->lineEdit_3->text(), QStringLiteral("earlier.hex"));
        QCOMPARE(in.source().currentFileName(), QStringLiteral("earlier.hex"));
        QCOMPARE(in.ui()->label_2->text(), QStringLiteral("0:0:0"));
        QCOMPARE(readFile(QStringLiteral("./update.bin")), OldImage);
        return;
    }
    QCOMPARE(driver.boxes, QStringList{"tip / open file successful"});
    // The box comes before the conversion.
    QCOMPARE(driver.imageAtBox, QList<QByteArray>{OldImage});
    QCOMPARE(in.source().manualFilePath(), file);
    QCOMPARE(in.ui()->lineEdit->text(), file);
    QCOMPARE(in.source().currentFileName(), QStringLiteral("blink.ino.hex"));
    QCOMPARE(in.ui()->lineEdit_3->text(), QStringLiteral("blink.ino.hex"));
    QCOMPARE(in.source().generateTime(), timeTextOf(file));
    QCOMPARE(in.ui()->label_2->text(), timeTextOf(file));
    QCOMPARE(readFile(QStringLiteral("./update.bin")), BlinkImage);
}

void tst_SourceSelection::refresh_data()
{
    QTest::addColumn<QStringList>("builds"); // "dir/file" under the temporary directory
    QTest::addColumn<QString>("found");      // relative to the temporary directory, or empty
    QTest::newRow("build directory with a sketch") << QStringList{"build1.tmp/blink.ino.hex"}
                                                   << "build1.tmp/blink.ino.hex";
    QTest::newRow("no build directory") << QStringList() << QString();
}

// One timer tick in default mode: the finder runs and the fields show its result.
void tst_SourceSelection::refresh()
{
    QFETCH(QStringList, builds);
    QFETCH(QString, found);
    Sandbox box;
    for (const QString &b : builds)
        QVERIFY(!box.makeBuild(b.section('/', 0, 0), b.section('/', 1), BlinkHex).isEmpty());
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    QVERIFY(in.invoke("update_hex_file"));

    const QString path = found.isEmpty() ? QString() : box.temp.path() + "/" + found;
    const QString name = found.section('/', -1);
    const QString time = found.isEmpty() ? QString() : timeTextOf(path);
    QCOMPARE(in.ui()->lineEdit_2->text(), path);
    QCOMPARE(in.ui()->lineEdit_3->text(), name);
    QCOMPARE(in.ui()->label_2->text(), time);
    QCOMPARE(in.source().currentFileName(), name);
}

// The presence sweep runs from the default-mode tick only.
void tst_SourceSelection::manualModeSkipsPresenceSweep()
{
    Sandbox box;
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.presence().refreshPresence(QStringLiteral("127.0.0.9"));
    QCOMPARE(in.presence().lifeCount(QStringLiteral("127.0.0.9")), 5);
    in.ui()->radioButton->click();
    QVERIFY(in.invoke("update_hex_file"));
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.presence().lifeCount(QStringLiteral("127.0.0.9")), 5);
    QCOMPARE(in.ui()->label_2->text(), QStringLiteral("0:0:0"));
    QVERIFY(!QFile::exists(QStringLiteral("./log.txt")));
    in.ui()->radioButton_2->click();
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.presence().lifeCount(QStringLiteral("127.0.0.9")), 4);
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
