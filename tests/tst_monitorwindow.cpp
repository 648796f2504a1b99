// The serial monitor in the window, as a user meets it: a right click on a row opens the
// module's monitor, which shows what the board prints and sends a typed line; an Upload of that
// row goes through while the monitor is open, and the monitor comes back after the verdict;
// a module that leaves the table leaves its monitor open and trying. Uploads one after the other
// hand the port over with a module that listens again only a moment after its client left.
#include "monitorwindow.h"
#include "simprocess.h"
#include "widgetinspector.h"
#include "windowharness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using harness::ModalDriver;
using harness::Sandbox;

namespace {

const int UploadMs = 90000;

QPushButton *buttonNamed(QWidget *window, const QString &text)
{
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// Right click on the row's Name cell, then the menu's "Serial monitor".
MonitorWindow *openFromMenu(WidgetInspector &in, const QString &ip)
{
    QTableWidget *table = in.table();
    const QPoint pos = table->visualItemRect(table->item(rowWithIp(table, ip), discovery::ColumnName)).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, pos, table->viewport()->mapToGlobal(pos));
    QCoreApplication::sendEvent(table->viewport(), &click);
    auto *menu = table->findChild<QMenu *>();
    QAction *monitor = menu ? menu->actions().value(0) : nullptr;
    if (!monitor || monitor->text() != QLatin1String("Serial monitor"))
        return nullptr;
    monitor->trigger();
    menu->close();
    for (MonitorWindow *window : in.w.findChildren<MonitorWindow *>()) {
        if (window->ip() == ip)
            return window;
    }
    return nullptr;
}

} // namespace

class tst_MonitorWindow : public QObject
{
    Q_OBJECT

private slots:
    void monitorAcrossUploadAndDeparture();
    void logAndSaveKeepWhatIsShown();
    void uploadsInARowWithMonitorOpen();
    void identifyBoardWhileMonitoring();
};

void tst_MonitorWindow::monitorAcrossUploadAndDeparture()
{
    qRegisterMetaType<monitor::MonitorConnection::State>();
    Sandbox box;
    const QString ip = QStringLiteral("127.0.0.211");
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", "UNO", "--announce-ms", "0", "--app", avrPath("serialecho.hex")}),
             qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    in.ui()->radioButton->click();
    // The upload writes a program that prints as well, so the monitor has something to show after.
    QVERIFY(writeFile("./update.bin", readFile(avrPath("serialecho.bin"))));
    in.pickManualFile(avrPath("serialecho.hex"));
    in.addDeviceRow(ip, QString::number(sim.dataPort()), QString::number(sim.atPort()), "echo-board");
    in.lockNonNameCells();
    qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), ip), discovery::ColumnDevice))
        ->setCurrentText("UNO");

    MonitorWindow *monitor = openFromMenu(in, ip);
    QVERIFY(monitor);
    QVERIFY(monitor->isVisible());
    QCOMPARE(monitor->windowTitle(), QStringLiteral("Serial monitor - echo-board (127.0.0.211)"));
    auto *output = monitor->findChild<QPlainTextEdit *>();
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains("tick"), 10000);
    monitor->findChild<QLineEdit *>()->setText("echo me");
    buttonNamed(monitor, "Send")->click();
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains("echo me\n"), 5000);
    QCOMPARE(openFromMenu(in, ip), monitor); // one monitor per module

    qobject_cast<QPushButton *>(in.table()->cellWidget(rowWithIp(in.table(), ip), discovery::ColumnSend))->click();
    QVERIFY(output->toPlainText().contains("[upload started: the monitor let go of the data port until it ends]"));
    QTRY_COMPARE_WITH_TIMEOUT(in.table()->item(rowWithIp(in.table(), ip), discovery::ColumnProgress)->text(),
                              QStringLiteral("Successful"), UploadMs);
    const QByteArray image = readFile(avrPath("serialecho.bin"));
    QCOMPARE(sim.flash().left(image.size()), image);
    // Connected again after the verdict, and the new program's lines come.
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().section("[upload started", 1).contains("tick"), 10000);
    QVERIFY(output->toPlainText().section("[upload started", 1).contains("[connected to"));
    output->clear();

    // The module leaves the table and goes silent: the monitor stays, says so, and keeps trying.
    QVERIFY(QMetaObject::invokeMethod(&w, "participantLeft", Qt::DirectConnection, Q_ARG(QString, ip)));
    QCOMPARE(rowWithIp(in.table(), ip), -1);
    QSignalSpy states(monitor->connection(), &monitor::MonitorConnection::stateChanged);
    QVERIFY(sim.stop());
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains("[disconnected from"), 5000);
    QVERIFY(monitor->isVisible());
    const auto attempts = [&states] {
        int n = 0;
        for (const QList<QVariant> &change : qAsConst(states))
            n += change.first().value<monitor::MonitorConnection::State>() == monitor::MonitorConnection::State::Connecting;
        return n;
    };
    QTRY_VERIFY_WITH_TIMEOUT(attempts() >= 2, 5000);
    QCOMPARE(output->toPlainText().count("[disconnected from"), 1); // one note, however many attempts
}

// Timestamps on, "Log to file…" while the board prints: the log gets every line as it comes, as
// shown; "Save…" then writes exactly what the window shows.
void tst_MonitorWindow::logAndSaveKeepWhatIsShown()
{
    Sandbox box;
    const QString ip = QStringLiteral("127.0.0.212");
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", "UNO", "--announce-ms", "0", "--app", avrPath("serialecho.hex")}),
             qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.addDeviceRow(ip, QString::number(sim.dataPort()), QString::number(sim.atPort()), "echo-board");
    MonitorWindow *monitor = openFromMenu(in, ip);
    QVERIFY(monitor);
    auto *output = monitor->findChild<QPlainTextEdit *>();
    for (QCheckBox *option : monitor->findChildren<QCheckBox *>()) {
        if (option->text() == QLatin1String("Show timestamp"))
            option->click();
    }
    QCheckBox *logBox = nullptr;
    for (QCheckBox *option : monitor->findChildren<QCheckBox *>()) {
        if (option->text() == QStringLiteral("Log to file\u2026"))
            logBox = option;
    }
    QVERIFY(logBox);
    const QString logPath = QDir::current().filePath("monitor.log");
    {
        harness::ModalDriver picker(logPath);
        logBox->click();
        QCOMPARE(picker.dialogs.size(), 1);
    }
    QVERIFY(logBox->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(readFile(logPath).count("tick") >= 3, 10000);
    const QString shown = output->toPlainText();
    const QByteArray logged = readFile(logPath);
    QVERIFY2(shown.toUtf8().endsWith(logged), logged.constData());
    QVERIFY2(QRegularExpression("(^|\n)\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d -> tick \\d+\n").match(QString::fromUtf8(logged)).hasMatch(),
             logged.constData());

    const QString savePath = QDir::current().filePath("shown.txt");
    harness::ModalDriver picker(savePath);
    buttonNamed(monitor, QStringLiteral("Save\u2026"))->click();
    QCOMPARE(readFile(savePath), output->toPlainText().toUtf8());
    QVERIFY(picker.boxes.isEmpty());
}

// A user trying one program after another on a board that prints, the monitor open all along,
// through a module that listens again 150 ms after the monitor or the upload let go of its data
// port: every press succeeds without a box, and the monitor shows each new program's output.
void tst_MonitorWindow::uploadsInARowWithMonitorOpen()
{
    Sandbox box;
    const QString ip = QStringLiteral("127.0.0.213");
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", "UNO", "--announce-ms", "0", "--relisten-ms", "150", "--app",
                        avrPath("serialecho.hex")}),
             qPrintable(sim.errorText()));
    Widget w;
    WidgetInspector in{w};
    in.timer()->stop();
    in.ui()->radioButton->click();
    in.addDeviceRow(ip, QString::number(sim.dataPort()), QString::number(sim.atPort()), "bench");
    in.lockNonNameCells();
    qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), ip), discovery::ColumnDevice))
        ->setCurrentText("UNO");
    MonitorWindow *monitor = openFromMenu(in, ip);
    QVERIFY(monitor);
    auto *output = monitor->findChild<QPlainTextEdit *>();
    QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains("tick"), 10000);

    // What each program prints and the other never does.
    const QList<QPair<QString, QString>> programs{{"serialflood", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ."},
                                                  {"serialecho", "tick"},
                                                  {"serialflood", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ."}};
    for (const auto &program : programs) {
        {
            ModalDriver picker(avrPath(program.first + ".hex"));
            in.ui()->pushButton_4->click();
            QCOMPARE(picker.boxes, QStringList{"tip / open file successful"});
        }
        ModalDriver modal;
        const int row = rowWithIp(in.table(), ip);
        in.table()->setItem(row, discovery::ColumnProgress, new QTableWidgetItem());
        output->clear();
        auto *button = qobject_cast<QPushButton *>(in.table()->cellWidget(row, discovery::ColumnSend));
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), UploadMs); // after the verdict, or after the box
        QCOMPARE(modal.boxes, QStringList());
        QCOMPARE(in.table()->item(row, discovery::ColumnProgress)->text(), QStringLiteral("Successful"));
        const QByteArray image = readFile(avrPath(program.first + ".bin"));
        QCOMPARE(sim.flash().left(image.size()), image);
        QTRY_VERIFY2_WITH_TIMEOUT(output->toPlainText().section("[upload started", 1).contains(program.second),
                                  qPrintable(output->toPlainText().right(2000)), 10000);
    }
}

// A user watching an UNO's monitor asks its row to identify the board: the monitor lets go, the
// Device box (showing the default, the board not being known) turns to "UNO", the monitor shows
// the application again, and the next window's row shows "UNO" at once.
void tst_MonitorWindow::identifyBoardWhileMonitoring()
{
    Sandbox box;
    const QString ip = QStringLiteral("127.0.0.214");
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", "UNO", "--announce-ms", "0", "--app", avrPath("serialecho.hex")}),
             qPrintable(sim.errorText()));
    const QByteArray flash = sim.flash();
    const auto boardBox = [ip](WidgetInspector &in) {
        return qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), ip), discovery::ColumnDevice));
    };
    {
        Widget w;
        WidgetInspector in{w};
        in.timer()->stop();
        in.addDeviceRow(ip, QString::number(sim.dataPort()), QString::number(sim.atPort()), "echo-board");
        QCOMPARE(boardBox(in)->currentText(), QStringLiteral("MEGA2560"));
        MonitorWindow *monitor = openFromMenu(in, ip);
        QVERIFY(monitor);
        auto *output = monitor->findChild<QPlainTextEdit *>();
        QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains("tick"), 10000);

        QMenu *menu = in.tableMenu(rowWithIp(in.table(), ip));
        QAction *identify = menu->actions().value(1);
        QCOMPARE(identify->text(), QStringLiteral("Identify board"));
        identify->trigger();
        delete menu;
        QTRY_COMPARE_WITH_TIMEOUT(boardBox(in)->currentText(), QStringLiteral("UNO"), 10000);
        QVERIFY(boardBox(in)->toolTip().startsWith("UNO (ATmega328P, signature 1e950f, stk500v1)"));
        output->clear();
        QTRY_VERIFY_WITH_TIMEOUT(output->toPlainText().contains("tick"), 10000);
        QCOMPARE(sim.flash(), flash);
    }
    Widget next;
    WidgetInspector in{next};
    in.timer()->stop();
    in.addDeviceRow(ip, QString::number(sim.dataPort()), QString::number(sim.atPort()), "echo-board");
    QCOMPARE(boardBox(in)->currentText(), QStringLiteral("UNO"));
}

QTEST_MAIN(tst_MonitorWindow)
#include "tst_monitorwindow.moc"
