// The whole tool in the real window: Upload presses program simulated boards running their real
// bootloaders through simulated modules; renames reach the module; failures show as the window
// shows them.
#include "addmoduledialog.h"
#include "devicecolumns.h"
#include "simprocess.h"
#include "stderrcapture.h"
#include "thread.h"
#include "widgetinspector.h"
#include "windowharness.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <sys/stat.h>
#include <sys/time.h>

using namespace upload;

using harness::ModalDriver;
using harness::Sandbox;

namespace {

const int UploadMs = 90000; // a near-full image at 115200 baud takes well under this
const int IdeBuildMs = 120000; // the IDE builds Blink in about 6 s on an idle machine
const QString ConnectFailBox =
    QStringLiteral("connect server fail / connect server fail \n the server does not exist or has been occupied");

// Texts written into one row's Progress cell, in order.
class ProgressLog : public QObject
{
public:
    ProgressLog(QTableWidget *table, const QString &ip)
        : table_(table), ip_(ip)
    {
        connect(table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
            if (item->column() != discovery::ColumnProgress)
                return;
            const QTableWidgetItem *ipItem = table_->item(item->row(), discovery::ColumnIp);
            if (ipItem && ipItem->text() == ip_ && (texts.isEmpty() || texts.last() != item->text()))
                texts << item->text();
        });
    }
    QStringList texts;

private:
    QTableWidget *table_;
    QString ip_;
};

QString progressOf(QTableWidget *table, const QString &ip)
{
    const int row = rowWithIp(table, ip);
    const QTableWidgetItem *item = row < 0 ? nullptr : table->item(row, discovery::ColumnProgress);
    return item ? item->text() : QString();
}

QPushButton *buttonOf(QTableWidget *table, const QString &ip)
{
    const int row = rowWithIp(table, ip);
    return row < 0 ? nullptr : qobject_cast<QPushButton *>(table->cellWidget(row, discovery::ColumnSend));
}

// A row for a module, as the listener adds it, with the board chosen in its Device box.
void addModule(WidgetInspector &in, const QString &ip, quint16 dataPort, quint16 atPort, const QString &board,
               const QString &name = QStringLiteral("quarnel"))
{
    in.addDeviceRow(ip, QString::number(dataPort), QString::number(atPort), name);
    in.lockNonNameCells();
    auto *box = qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), ip), discovery::ColumnDevice));
    box->setCurrentText(board);
}

// The action of `menu` with this text, or null.
QAction *actionOf(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// Percentages rise to 100%, then the verdict.
bool risingTo(const QStringList &texts, const QString &verdict)
{
    if (texts.size() < 2 || texts.last() != verdict || texts[texts.size() - 2] != QLatin1String("100%"))
        return false;
    int previous = -1;
    for (int i = 0; i + 1 < texts.size(); ++i) {
        const int percent = texts[i].chopped(1).toInt();
        if (!texts[i].endsWith('%') || percent < previous)
            return false;
        previous = percent;
    }
    return true;
}

bool setDirectoryTime(const QString &path, qint64 secondsAgo)
{
    struct timeval times[2];
    gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= secondsAgo;
    times[1] = times[0];
    return utimes(QFile::encodeName(path).constData(), times) == 0;
}

} // namespace

class tst_UploadWindow : public QObject
{
    Q_OBJECT

private slots:
    void uploadToBoard_data();
    void uploadToBoard();
    void announcedModuleUpload();
    void ideBuildUpload();
    void twoRowsAtOnce();
    void unreachableModule();
    void modeSwitchRefused();
    void lowerRowOfScrolledTable();
    void failedConversionSendsNothing_data();
    void failedConversionSendsNothing();
    void noFileInUse();
    void rowRemovedDuringUpload();
    void closingWindowDuringUpload();
    void renameSendsCommand_data();
    void renameSendsCommand();
    void renameReachesAnnouncements();
    void renameUnreachableShowsBoxPerEdit();
    void noRenameForOtherChanges();
    void moduleAddedByAddress();
    void selectedRowsThenRetry();
};

void tst_UploadWindow::uploadToBoard_data()
{
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("ip");
    QTest::newRow("default source, UNO") << false << "UNO" << "blink_uno" << "127.0.0.71";
    QTest::newRow("default source, MEGA2560") << false << "MEGA2560" << "blink_mega" << "127.0.0.72";
    QTest::newRow("manual source, UNO") << true << "UNO" << "full_uno" << "127.0.0.73";
    QTest::newRow("manual source, MEGA2560") << true << "MEGA2560" << "blink_mega" << "127.0.0.74";
}

void tst_UploadWindow::uploadToBoard()
{
    QFETCH(bool, manual);
    QFETCH(QString, board);
    QFETCH(QString, program);
    QFETCH(QString, ip);
    Sandbox box;
    const QByteArray hex = readFile(avrPath(program + ".hex"));
    const QByteArray image = readFile(avrPath(program + ".bin"));
    QVERIFY(!hex.isEmpty() && !image.isEmpty());

    QVERIFY(QDir().mkdir("fw"));
    const QString manualFile = QDir::current().absoluteFilePath("fw/" + program + ".ino.hex");
    QVERIFY(writeFile(manualFile, hex));

    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    if (manual) {
        ModalDriver picker(manualFile);
        in.ui()->radioButton->click();
        in.ui()->pushButton_4->click();
        QCOMPARE(picker.boxes, QStringList{"tip / open file successful"});
    } else {
        QVERIFY(!box.makeBuild("build1.tmp", program + ".ino.hex", hex).isEmpty());
    }
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", board, "--announce-ms", "0"}), qPrintable(sim.errorText()));
    addModule(in, ip, sim.dataPort(), sim.atPort(), board);
    ProgressLog log(in.table(), ip);
    ModalDriver modal;

    QPushButton *button = buttonOf(in.table(), ip);
    button->click();
    QVERIFY(!button->isEnabled());
    QCOMPARE(in.ui()->lineEdit_3->text(), in.source().currentFileName());
    QCOMPARE(in.source().currentFileName(), program + ".ino.hex");
    QTRY_VERIFY_WITH_TIMEOUT(!log.texts.isEmpty() && !log.texts.last().endsWith('%'), UploadMs);

    QVERIFY2(risingTo(log.texts, "Successful"), qPrintable(log.texts.join(' ')));
    QVERIFY(button->isEnabled());
    QVERIFY(modal.boxes.isEmpty());
    QCOMPARE(sim.flash().left(image.size()), image);
    // The finished worker is released.
    QTRY_COMPARE(in.uploadThread(), static_cast<Thread *>(nullptr));
}

// The main job as a user sees it: a module announces itself, its row appears, Upload programs it.
void tst_UploadWindow::announcedModuleUpload()
{
    Sandbox box;
    const QString ip = QStringLiteral("127.0.0.75");
    QVERIFY(!box.makeBuild("build9.tmp", "blink.ino.hex", readFile(avrPath("blink_uno.hex"))).isEmpty());
    Widget w;
    WidgetInspector in{w};
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", "UNO", "--name", "bench-7", "--announce-ms", "300"}),
             qPrintable(sim.errorText()));
    QTRY_VERIFY_WITH_TIMEOUT(rowWithIp(in.table(), ip) >= 0, 5000);
    const int row = rowWithIp(in.table(), ip);
    QCOMPARE(in.table()->item(row, discovery::ColumnName)->text(), QStringLiteral("bench-7"));
    QCOMPARE(in.table()->item(row, discovery::ColumnDataPort)->text(), QString::number(sim.dataPort()));
    QCOMPARE(in.table()->item(row, discovery::ColumnAtPort)->text(), QString::number(sim.atPort()));
    qobject_cast<QComboBox *>(in.table()->cellWidget(row, discovery::ColumnDevice))->setCurrentText("UNO");

    buttonOf(in.table(), ip)->click();
    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), ip), QStringLiteral("Successful"), UploadMs);
    const QByteArray image = readFile(avrPath("blink_uno.bin"));
    QCOMPARE(sim.flash().left(image.size()), image);
}

// A user's main road: with the window open and looking, the sketch build tool that Debian ships
// (scripts/test installs it) builds a sketch; the window's default source finds its output and an
// Upload press puts exactly that image into a simulated UNO.
void tst_UploadWindow::ideBuildUpload()
{
    const QString ide = QStandardPaths::findExecutable(QStringLiteral("arduino"));
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (ide.isEmpty() || xvfb.isEmpty())
        QSKIP("needs Debian's arduino and xvfb-run (scripts/test installs them)");
    Sandbox box;
    QVERIFY(QDir().mkpath("Blink") && QDir().mkpath("home"));
    QVERIFY(writeFile("Blink/Blink.ino", "void setup() { pinMode(LED_BUILTIN, OUTPUT); }\n"
                                         "void loop() { digitalWrite(LED_BUILTIN, !digitalRead(LED_BUILTIN)); "
                                         "delay(250); }\n"));
    QProcess build;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = QDir::current().absoluteFilePath("home"); // the IDE's preferences stay here
    env.insert("HOME", home);
    env.insert("JAVA_TOOL_OPTIONS", "-Djava.io.tmpdir=" + box.temp.path() + " -Duser.home=" + home);
    // The compiler's scratch files go elsewhere: the temporary directory then changes only when the
    // build directory is made, and has settled long before the HEX file comes.
    env.insert("TMPDIR", home);
    build.setProcessEnvironment(env);
    build.setProcessChannelMode(QProcess::MergedChannels);
    // The temporary directory has settled before the window's first look.
    QVERIFY(setDirectoryTime(box.temp.path(), 10));
    Widget w;
    WidgetInspector in{w};
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists("log.txt"), 5000);
    QElapsedTimer clock;
    clock.start();
    QSignalSpy built(&build, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    build.start(xvfb, {"-a", ide, "--board", "arduino:avr:uno", "--verify", "--preserve-temp-files", "--pref",
                       "build.extra_flags=-DDECIMAL_DIG=17", QDir::current().absoluteFilePath("Blink/Blink.ino")});
    QVERIFY(built.wait(IdeBuildMs)); // the window goes on looking meanwhile
    const QByteArray said = build.readAll();
    QVERIFY2(build.exitStatus() == QProcess::NormalExit && build.exitCode() == 0, said.constData());
    qDebug("the IDE built the sketch in %lld ms", clock.elapsed());
    const QStringList dirs = QDir(box.temp.path()).entryList({"arduino_build_*"}, QDir::Dirs);
    QCOMPARE(dirs.size(), 1);
    const QString dir = box.temp.path() + "/" + dirs.first();
    const QString hex = dir + "/Blink.ino.hex";
    // The IDE writes the image with the bootloader after the plain one: it must not be taken.
    QVERIFY(QFileInfo(dir + "/Blink.ino.with_bootloader.hex").lastModified() >= QFileInfo(hex).lastModified());
    QProcess objcopy;
    objcopy.start("avr-objcopy", {"-I", "ihex", "-O", "binary", hex, "expected.bin"});
    QVERIFY(objcopy.waitForFinished() && objcopy.exitCode() == 0);
    const QByteArray image = readFile("expected.bin");
    QVERIFY(image.size() > 400);

    QTRY_COMPARE_WITH_TIMEOUT(in.ui()->lineEdit_2->text(), hex, 5000);
    QCOMPARE(in.ui()->lineEdit_3->text(), QStringLiteral("Blink.ino.hex"));
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.88", "--board", "UNO", "--announce-ms", "0"}), qPrintable(sim.errorText()));
    addModule(in, "127.0.0.88", sim.dataPort(), sim.atPort(), "UNO");
    buttonOf(in.table(), "127.0.0.88")->click();
    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.88"), QStringLiteral("Successful"), UploadMs);
    QCOMPARE(readFile("./update.bin"), image);
    QCOMPARE(sim.flash().left(image.size()), image);
}

// Each press converts the default file of its moment; an upload already running keeps the image
// it started with while the next press rewrites ./update.bin.
void tst_UploadWindow::twoRowsAtOnce()
{
    Sandbox box;
    SimProcess uno;
    SimProcess mega;
    QVERIFY2(uno.start({"--ip", "127.0.0.76", "--board", "UNO", "--announce-ms", "0"}), qPrintable(uno.errorText()));
    QVERIFY2(mega.start({"--ip", "127.0.0.77", "--board", "MEGA2560", "--announce-ms", "0"}),
             qPrintable(mega.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    addModule(in, "127.0.0.76", uno.dataPort(), uno.atPort(), "UNO");
    addModule(in, "127.0.0.77", mega.dataPort(), mega.atPort(), "MEGA2560");

    const QString first = box.makeBuild("build1.tmp", "uno.ino.hex", readFile(avrPath("full_uno.hex")));
    QVERIFY(setDirectoryTime(QFileInfo(first).path(), 60));
    buttonOf(in.table(), "127.0.0.76")->click();
    QTRY_VERIFY2_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.76").endsWith('%'),
                              qPrintable(progressOf(in.table(), "127.0.0.76")), 20000);

    QVERIFY(!box.makeBuild("build2.tmp", "mega.ino.hex", readFile(avrPath("big_mega.hex"))).isEmpty());
    buttonOf(in.table(), "127.0.0.77")->click();
    QCOMPARE(in.source().currentFileName(), QStringLiteral("mega.ino.hex"));
    QVERIFY2(progressOf(in.table(), "127.0.0.76").endsWith('%'), qPrintable(progressOf(in.table(), "127.0.0.76")));

    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.76"), QStringLiteral("Successful"), UploadMs);
    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.77"), QStringLiteral("Successful"), UploadMs);
    const QByteArray unoImage = readFile(avrPath("full_uno.bin"));
    const QByteArray megaImage = readFile(avrPath("big_mega.bin"));
    QCOMPARE(uno.flash().left(unoImage.size()), unoImage);
    QCOMPARE(mega.flash().left(megaImage.size()), megaImage);
}

void tst_UploadWindow::unreachableModule()
{
    Sandbox box;
    QVERIFY(writeFile("./update.bin", readFile(avrPath("blink_uno.bin"))));
    QTcpServer closed; // a port that was free a moment ago refuses connections
    QVERIFY(closed.listen(QHostAddress("127.0.0.78")));
    const quint16 port = closed.serverPort();
    closed.close();

    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.ui()->radioButton->click();
    in.pickManualFile("blink.hex");
    addModule(in, "127.0.0.78", port, port, "UNO");
    const int row = rowWithIp(in.table(), "127.0.0.78");
    in.table()->setItem(row, discovery::ColumnProgress, new QTableWidgetItem("Successful"));
    in.lockNonNameCells();

    ModalDriver modal;
    QPushButton *button = buttonOf(in.table(), "127.0.0.78");
    button->click();
    QTRY_COMPARE_WITH_TIMEOUT(modal.boxes, QStringList{ConnectFailBox}, 10000);
    QTRY_VERIFY(button->isEnabled());
    QTRY_COMPARE(in.uploadThread(), static_cast<Thread *>(nullptr));
    QTest::qWait(200); // nothing else follows an unreachable module
    QCOMPARE(modal.boxes.size(), 1);
    QCOMPARE(progressOf(in.table(), "127.0.0.78"), QStringLiteral("Successful"));
}

void tst_UploadWindow::modeSwitchRefused()
{
    Sandbox box;
    QVERIFY(writeFile("./update.bin", readFile(avrPath("blink_uno.bin"))));
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.79", "--board", "UNO", "--announce-ms", "0", "--at-reply", "one"}),
             qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.ui()->radioButton->click();
    in.pickManualFile("blink.hex");
    addModule(in, "127.0.0.79", sim.dataPort(), sim.atPort(), "UNO");

    ModalDriver modal;
    QPushButton *button = buttonOf(in.table(), "127.0.0.79");
    button->click();
    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.79"), QStringLiteral("Fail"), 10000);
    QTRY_COMPARE(modal.boxes, QStringList{ConnectFailBox});
    QVERIFY(button->isEnabled());
    QCOMPARE(sim.pagesWritten(), 0);
    // The reason stays with the "Fail", once the worker has ended.
    QTRY_COMPARE(in.table()->item(rowWithIp(in.table(), "127.0.0.79"), discovery::ColumnProgress)->toolTip(),
                 QStringLiteral("module refused the upload mode at AT command 1"));
}

// The row is found from the pressed button's place in the scrolled table.
void tst_UploadWindow::lowerRowOfScrolledTable()
{
    Sandbox box;
    QVERIFY(writeFile("./update.bin", readFile(avrPath("blink_uno.bin"))));
    const QString target = QStringLiteral("127.0.0.80");
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", target, "--board", "UNO", "--announce-ms", "0"}), qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    in.ui()->radioButton->click();
    in.pickManualFile("blink.hex");
    addModule(in, target, sim.dataPort(), sim.atPort(), "UNO"); // ends up at the bottom
    for (int i = 1; i <= 30; ++i)
        addModule(in, QStringLiteral("10.9.9.%1").arg(i), 1, 1, "UNO");
    QCOMPARE(rowWithIp(in.table(), target), 30);
    in.table()->scrollToBottom();
    QVERIFY(in.table()->verticalScrollBar()->value() > 0);

    QPushButton *button = buttonOf(in.table(), target);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), target), QStringLiteral("Successful"), UploadMs);
    for (int row = 0; row < 30; ++row) {
        QVERIFY(qobject_cast<QPushButton *>(in.table()->cellWidget(row, discovery::ColumnSend))->isEnabled());
        QCOMPARE(in.table()->item(row, discovery::ColumnProgress)->text(), QString());
    }
}

void tst_UploadWindow::noFileInUse()
{
    Sandbox box;
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    addModule(in, "127.0.0.81", 1, 1, "UNO");
    ModalDriver modal;
    QPushButton *button = buttonOf(in.table(), "127.0.0.81");
    button->click();
    QCOMPARE(modal.boxes, QStringList{"Waring / Please Selcet File"});
    QVERIFY(button->isEnabled());
    QCOMPARE(in.uploadThread(), static_cast<Thread *>(nullptr));
    QVERIFY(!QFile::exists("./update.bin"));
}

// The sweep takes the row away while its upload runs: the reports find no row and change nothing.
void tst_UploadWindow::rowRemovedDuringUpload()
{
    Sandbox box;
    const QByteArray image = readFile(avrPath("full_uno.bin"));
    QVERIFY(writeFile("./update.bin", image));
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.82", "--board", "UNO", "--announce-ms", "0"}), qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.ui()->radioButton->click();
    in.pickManualFile("full.hex");
    addModule(in, "127.0.0.82", sim.dataPort(), sim.atPort(), "UNO");
    in.presence().refreshPresence("127.0.0.82");

    ModalDriver modal;
    buttonOf(in.table(), "127.0.0.82")->click();
    QPointer<Thread> worker = in.uploadThread();
    QVERIFY(worker);
    QTRY_VERIFY_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.82").endsWith('%'), UploadMs);
    in.presence().setHeld(false); // the sweeps of a default-mode tick, while the manual image goes out
    for (int sweep = 0; sweep < 4; ++sweep)
        in.presence().sweepPresence();
    // Other programs may announce to this machine: only this test's row is looked at.
    QCOMPARE(rowWithIp(in.table(), "127.0.0.82"), -1);

    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), UploadMs);
    QCOMPARE(rowWithIp(in.table(), "127.0.0.82"), -1);
    QVERIFY(modal.boxes.isEmpty());
    QCOMPARE(sim.flash().left(image.size()), image);
}

// Closing the window stops its running uploads; nothing crashes and the worker goes.
void tst_UploadWindow::closingWindowDuringUpload()
{
    Sandbox box;
    QVERIFY(writeFile("./update.bin", readFile(avrPath("full_uno.bin"))));
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.83", "--board", "UNO", "--announce-ms", "0"}), qPrintable(sim.errorText()));
    QPointer<Thread> worker;
    {
        Widget w;
        WidgetInspector in{w};
        in.timer()->stop();
        in.ui()->radioButton->click();
        in.pickManualFile("full.hex");
        addModule(in, "127.0.0.83", sim.dataPort(), sim.atPort(), "UNO");
        buttonOf(in.table(), "127.0.0.83")->click();
        worker = in.uploadThread();
        QTRY_VERIFY_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.83").endsWith('%'), UploadMs);
    }
    QVERIFY(worker.isNull());
}

void tst_UploadWindow::failedConversionSendsNothing_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("why");
    QTest::newRow("cut short") << "cut short" << false << "no end record";
    QTest::newRow("cut short, picked with Open File") << "cut short" << true << "no end record";
    QTest::newRow("data byte changed") << "checksum" << false << "checksum 0x";
    QTest::newRow("a directory") << "directory" << false << "not a regular file";
    QTest::newRow("a link to /dev/zero") << "device" << false << "not a regular file";
    QTest::newRow("a FIFO, picked with Open File") << "fifo" << true << "not a regular file";
}

// A HEX file that does not convert ends the press as a failed upload: no worker, no connection,
// the old ./update.bin untouched, and standard error says why.
void tst_UploadWindow::failedConversionSendsNothing()
{
    QFETCH(QString, fault);
    QFETCH(bool, manual);
    QFETCH(QString, why);
    Sandbox box;
    const QByteArray oldImage("the image of an earlier file");
    QVERIFY(writeFile("./update.bin", oldImage));
    QByteArray hex = readFile(avrPath("blink_uno.hex"));
    const QString path = box.makeBuild("build1.tmp", "blink.ino.hex", hex);
    QVERIFY(!path.isEmpty() && QFile::remove(path));
    if (fault == "cut short") {
        QCOMPARE(box.makeBuild("build1.tmp", "blink.ino.hex", hex.left(hex.indexOf('\n', hex.size() / 2) + 1)), path);
    } else if (fault == "checksum") {
        hex[10] = hex[10] == '0' ? '1' : '0';
        QCOMPARE(box.makeBuild("build1.tmp", "blink.ino.hex", hex), path);
    } else if (fault == "directory") {
        QVERIFY(QDir().mkdir(path));
    } else if (fault == "device") {
        QVERIFY(QFile::link("/dev/zero", path));
    } else {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    QTcpServer module;
    QVERIFY(module.listen(QHostAddress("127.0.0.88")));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    StderrCapture err;
    if (manual) {
        ModalDriver picker(path);
        in.ui()->radioButton->click();
        in.ui()->pushButton_4->click();
        QCOMPARE(picker.boxes, QStringList{"tip / open file successful"});
    }
    addModule(in, "127.0.0.88", module.serverPort(), module.serverPort(), "UNO");
    ModalDriver modal;

    buttonOf(in.table(), "127.0.0.88")->click();
    QCOMPARE(progressOf(in.table(), "127.0.0.88"), QStringLiteral("Fail"));
    QVERIFY(buttonOf(in.table(), "127.0.0.88")->isEnabled());
    QVERIFY(!in.uploadThread());
    QVERIFY(!module.waitForNewConnection(300));
    QCOMPARE(readFile("./update.bin"), oldImage);
    QVERIFY(modal.boxes.isEmpty());
    const QByteArray said = err.text();
    QVERIFY2(said.contains(why.toLatin1()) && said.contains("nothing sent to 127.0.0.88"), said.constData());
}

void tst_UploadWindow::renameSendsCommand_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("sent"); // empty: refused, nothing sent
    QTest::addColumn<QString>("why");
    QTest::newRow("five characters") << "bench" << QByteArray("AT+HOSTNAME=bench") << "";
    QTest::newRow("Latin-1") << QString::fromUtf8("caf\xC3\xA9") << QByteArray("AT+HOSTNAME=caf\xE9") << "";
    QTest::newRow("outside Latin-1") << QString::fromUtf8("\xE6\x9D\xBF") << QByteArray("AT+HOSTNAME=?") << "";
    QTest::newRow("32 characters") << QString(32, 'n') << "AT+HOSTNAME=" + QByteArray(32, 'n') << "";
    QTest::newRow("empty") << "" << QByteArray() << "the name is empty";
    QTest::newRow("a second command") << "x\r\nAT+MCUUPDATE=UNO" << QByteArray() << "control character (0x0d)";
    QTest::newRow("33 characters") << QString(33, 'n') << QByteArray() << "longer than 32 bytes";
}

// Exactly "AT+HOSTNAME=" and the name, no line end, on a connection of its own; a name the module
// cannot take is not sent, a box says why, and the cell shows the module's name again.
void tst_UploadWindow::renameSendsCommand()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, sent);
    QFETCH(QString, why);
    QTcpServer module;
    QVERIFY(module.listen(QHostAddress("127.0.0.84")));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    addModule(in, "127.0.0.84", 1, module.serverPort(), "UNO", "before");
    ModalDriver modal;

    QTableWidgetItem *cell = in.table()->item(rowWithIp(in.table(), "127.0.0.84"), discovery::ColumnName);
    cell->setText(name);
    if (sent.isEmpty()) {
        QCOMPARE(modal.boxes.size(), 1);
        QVERIFY2(modal.boxes.first().startsWith("rename fail / ") && modal.boxes.first().contains(why),
                 qPrintable(modal.boxes.first()));
        QCOMPARE(cell->text(), QStringLiteral("before"));
        QVERIFY(!module.waitForNewConnection(300));
        return;
    }
    QTRY_VERIFY(module.hasPendingConnections());
    QTcpSocket *client = module.nextPendingConnection();
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(client->readAll(), sent);
    QVERIFY(!module.hasPendingConnections());
    QCOMPARE(cell->text(), name);
    QVERIFY(modal.boxes.isEmpty());
    // What was sent is the module's name now: a refused name brings it back.
    cell->setText(QString());
    QCOMPARE(cell->text(), name);
}

// The module takes the new name into its announcements; the row keeps the text the user typed.
void tst_UploadWindow::renameReachesAnnouncements()
{
    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress(QHostAddress::LocalHost), 0));
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.85", "--board", "none", "--name", "old-name", "--announce-ms", "200",
                        "--target", QStringLiteral("127.0.0.1:%1").arg(listener.localPort())}),
             qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    addModule(in, "127.0.0.85", sim.dataPort(), sim.atPort(), "UNO", "old-name");
    QTableWidgetItem *cell = in.table()->item(rowWithIp(in.table(), "127.0.0.85"), discovery::ColumnName);
    cell->setText("new-name");

    bool renamed = false;
    for (int i = 0; i < 20 && !renamed; ++i) {
        if (!listener.hasPendingDatagrams())
            listener.waitForReadyRead(500);
        while (listener.hasPendingDatagrams())
            renamed = listener.receiveDatagram().data().contains("\"new-name\"");
    }
    QVERIFY(renamed);
    QCOMPARE(cell->text(), QStringLiteral("new-name"));
}

void tst_UploadWindow::renameUnreachableShowsBoxPerEdit()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress("127.0.0.86")));
    const quint16 port = closed.serverPort();
    closed.close();
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    addModule(in, "127.0.0.86", port, port, "UNO", "m");
    ModalDriver modal;
    QTableWidgetItem *cell = in.table()->item(rowWithIp(in.table(), "127.0.0.86"), discovery::ColumnName);
    cell->setText("first");
    cell->setText("second");
    QCOMPARE(modal.boxes, (QStringList{ConnectFailBox, ConnectFailBox}));
    QCOMPARE(cell->text(), QStringLiteral("second"));
}

// Changes the table makes itself, and changes outside the Name column, send nothing.
void tst_UploadWindow::noRenameForOtherChanges()
{
    QTcpServer module;
    QVERIFY(module.listen(QHostAddress("127.0.0.87")));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    addModule(in, "127.0.0.87", 1, module.serverPort(), "UNO", "m");
    for (int column : {discovery::ColumnDataPort, discovery::ColumnProgress})
        in.table()->item(rowWithIp(in.table(), "127.0.0.87"), column)->setText("changed");
    QTest::qWait(300);
    QVERIFY(!module.hasPendingConnections());
}

// A module on a network that drops broadcasts (it never announces): added in the dialog of the
// table's menu, it gets a row and is uploaded; it leaves when it stops answering, comes back when
// it answers again, and is forgotten from its row's menu.
void tst_UploadWindow::moduleAddedByAddress()
{
    Sandbox box;
    QVERIFY(!box.makeBuild("build9.tmp", "blink.ino.hex", readFile(avrPath("blink_uno.hex"))).isEmpty());
    const QString ip = QStringLiteral("127.0.0.76");
    const QStringList simArguments{"--ip", ip, "--board", "UNO", "--announce-ms", "0", "--data-port", "8000", "--at-port", "8001"};
    SimProcess sim;
    QVERIFY2(sim.start(simArguments), qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    QVERIFY(!actionOf(in.tableMenu(-1), "Forget module"));

    // The user types an address that is none, is told so, and mends it; the ports keep their defaults.
    QString refused;
    QTimer typist;
    connect(&typist, &QTimer::timeout, &w, [&] {
        auto *dialog = qobject_cast<AddModuleDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->findChild<QLineEdit *>("ipEdit")->setText(refused.isEmpty() ? "127.0.0" : ip);
        dialog->findChild<QLineEdit *>("nameEdit")->setText("shelf");
        dialog->accept();
        refused = dialog->findChild<QLabel *>("problemLabel")->text();
    });
    typist.start(20);
    actionOf(in.tableMenu(-1), QStringLiteral("Add module by address\u2026"))->trigger();
    typist.stop();
    QCOMPARE(refused, QStringLiteral("\"127.0.0\" is not a module's IPv4 address (four numbers 0..255, as 192.168.1.20)"));
    const int row = rowWithIp(in.table(), ip);
    QVERIFY(row >= 0);
    QCOMPARE(in.table()->item(row, discovery::ColumnName)->text(), QStringLiteral("shelf"));
    QCOMPARE(in.table()->item(row, discovery::ColumnAtPort)->text(), QStringLiteral("8001"));

    qobject_cast<QComboBox *>(in.table()->cellWidget(row, discovery::ColumnDevice))->setCurrentText("UNO");
    buttonOf(in.table(), ip)->click();
    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), ip), QStringLiteral("Successful"), UploadMs);
    const QByteArray image = readFile(avrPath("blink_uno.bin"));
    QCOMPARE(sim.flash().left(image.size()), image);

    QVERIFY(sim.stop());
    QTRY_VERIFY_WITH_TIMEOUT(rowWithIp(in.table(), ip) < 0, 15000);
    QVERIFY2(sim.start(simArguments), qPrintable(sim.errorText()));
    QTRY_VERIFY_WITH_TIMEOUT(rowWithIp(in.table(), ip) >= 0, 5000);

    actionOf(in.tableMenu(rowWithIp(in.table(), ip)), "Forget module")->trigger();
    QCOMPARE(rowWithIp(in.table(), ip), -1);
    discovery::KnownModules kept;
    QCOMPARE(kept.load(), QStringList());
    QVERIFY(kept.modules().isEmpty());
}

// Seven rows selected, UNO and MEGA2560 mixed, one module refusing connections; one press of
// "Upload to selected rows": six written, one "Fail" with its reason and one box for it. Once the
// module is back, "Retry failed rows" writes that board alone.
void tst_UploadWindow::selectedRowsThenRetry()
{
    Sandbox box;
    QVERIFY(writeFile("./update.bin", readFile(avrPath("blink_uno.bin"))));
    const QByteArray image = readFile(avrPath("blink_uno.bin"));
    SimProcess unos;
    SimProcess megas;
    SimProcess late;
    QVERIFY2(unos.start({"--ip", "127.0.0.120", "--count", "3", "--board", "UNO", "--announce-ms", "0"}),
             qPrintable(unos.errorText()));
    QVERIFY2(megas.start({"--ip", "127.0.0.123", "--count", "3", "--board", "MEGA2560", "--announce-ms", "0"}),
             qPrintable(megas.errorText()));
    QVERIFY2(late.start({"--ip", "127.0.0.126", "--board", "UNO", "--announce-ms", "0"}), qPrintable(late.errorText()));
    const QStringList latePorts{"--data-port", QString::number(late.dataPort()), "--at-port",
                                QString::number(late.atPort())};
    QVERIFY(late.stop()); // its ports now refuse connections

    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.ui()->radioButton->click();
    in.pickManualFile("blink.hex");
    QStringList ips;
    for (int i = 0; i < 3; ++i) {
        ips << unos.ip(i).toString() << megas.ip(i).toString();
        addModule(in, unos.ip(i).toString(), unos.dataPort(), unos.atPort(), "UNO", QStringLiteral("uno-%1").arg(i));
        addModule(in, megas.ip(i).toString(), megas.dataPort(), megas.atPort(), "MEGA2560");
    }
    addModule(in, "127.0.0.126", late.dataPort(), late.atPort(), "UNO", "late");
    ProgressLog unoLog(in.table(), ips.first());
    in.table()->selectAll();

    ModalDriver modal;
    actionOf(in.tableMenu(0), "Upload to selected rows")->trigger();
    const auto allEnded = [&] {
        for (const QString &ip : qAsConst(ips)) {
            if (progressOf(in.table(), ip) != QLatin1String("Successful"))
                return false;
        }
        return progressOf(in.table(), "127.0.0.126") == QLatin1String("Fail");
    };
    QTRY_VERIFY_WITH_TIMEOUT(allEnded(), UploadMs);
    QTRY_COMPARE(modal.boxes, QStringList{"Upload to selected rows / These rows failed:\n"
                                          "late (127.0.0.126): module data port unreachable"});
    const int lateRow = rowWithIp(in.table(), "127.0.0.126");
    QCOMPARE(in.table()->item(lateRow, discovery::ColumnProgress)->toolTip(), QStringLiteral("module data port unreachable"));
    QVERIFY(risingTo(unoLog.texts, "Successful"));
    QVector<int> pages;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(unos.flash(i).left(image.size()), image);
        QCOMPARE(megas.flash(i).left(image.size()), image);
        pages << unos.pagesWritten(i) << megas.pagesWritten(i);
    }

    QVERIFY2(late.start(QStringList{"--ip", "127.0.0.126", "--board", "UNO", "--announce-ms", "0"} + latePorts),
             qPrintable(late.errorText()));
    QMenu *menu = in.tableMenu(lateRow);
    QVERIFY(actionOf(menu, "Retry failed rows"));
    actionOf(menu, "Retry failed rows")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(progressOf(in.table(), "127.0.0.126"), QStringLiteral("Successful"), UploadMs);
    QCOMPARE(late.flash().left(image.size()), image);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(unos.pagesWritten(i), pages.at(2 * i));
        QCOMPARE(megas.pagesWritten(i), pages.at(2 * i + 1));
    }
    QTRY_VERIFY(in.uploadSelectedAction()->isEnabled());
    QCOMPARE(modal.boxes.size(), 1);
}

QTEST_MAIN(tst_UploadWindow)
#include "tst_uploadwindow.moc"
