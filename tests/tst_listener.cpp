#include "announcer.h"
#include "devicecolumns.h"
#include "moduleboards.h"
#include "widgetinspector.h"

#include <QComboBox>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using discovery::ColumnAtPort;
using discovery::ColumnDataPort;
using discovery::ColumnIp;
using discovery::ColumnName;

namespace {

const QHostAddress ModuleAddress(QStringLiteral("127.0.0.2"));
const QHostAddress OtherModuleAddress(QStringLiteral("127.0.0.3"));
const QString MarkerIp = QStringLiteral("10.77.0.1");

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QByteArray deeplyNested(int depth)
{
    return "{\"host ip\":\"10.66.0.1\",\"x\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + '}';
}

} // namespace

// The listener: real datagrams over loopback into a real window; the rows of departed modules.
class tst_Listener : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void announcement_data();
    void announcement();
    void repeatOnlyRefreshesPresence();
    void laterAnnouncementChangesNothing_data();
    void laterAnnouncementChangesNothing();
    void burstOfTwoModules();
    void allPendingHandledInOneCall();
    void ownFirstAddressDropped_data();
    void ownFirstAddressDropped();
    void droppedWhileSweepRunning();
    void departedRowRemovedAndReturns();
    void rememberedBoardShown();
    void leavesOnFourthTimerTick();
    void departedTogetherLeaveTogether();
    void nameSetWhileAddingRow();
    void cellsLockedAfterAnnouncement_data();
    void cellsLockedAfterAnnouncement();
    void hostilePayloadsDropped_data();
    void hostilePayloadsDropped();
    void memoryStaysBounded();

private:
    // The window under test, with its timer stopped so that no sweep runs unless a test asks,
    // hearing only this test's announcers.
    struct Window
    {
        Widget w;
        WidgetInspector in{w};
        Window()
        {
            in.timer()->stop();
            Announcer::targetPort() = in.listenPrivately();
        }
    };

    // Sends a marker announcement after what was sent before and waits until the window has
    // listed it: everything sent earlier from the same socket has been handled by then.
    static bool sync(Announcer &announcer, WidgetInspector &in, const QString &markerIp = MarkerIp)
    {
        if (!announcer.send(Announcer::payload(markerIp)))
            return false;
        return QTest::qWaitFor([&] { return rowWithIp(in.table(), markerIp) >= 0; });
    }
};

void tst_Listener::init()
{
    // Every test sends from 127.0.0.2 and .3; the loopback network must accept them as sources.
    Announcer probe(ModuleAddress);
    QVERIFY(probe.isBound());
}

void tst_Listener::announcement_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("name"); // null: the datagram is dropped
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("dataPort");
    QTest::addColumn<QString>("atPort");

    QTest::newRow("numbers and strings, no hostname")
        << QByteArray(R"({"host ip":"192.168.1.20","atcomd port":8001,"data port":8000})")
        << "quarnel" << "192.168.1.20" << "8000" << "8001";
    QTest::newRow("all four as strings")
        << QByteArray(R"({"hostname":"lab-1","host ip":"192.168.1.21","data port":"9000","atcomd port":"9001"})")
        << "lab-1" << "192.168.1.21" << "9000" << "9001";
    QTest::newRow("script syntax")
        << QByteArray("{'host ip': '192.168.1.22', hostname: 'single', 'data port': 0x1F40, 'atcomd port': 8.001e3,}")
        << "single" << "192.168.1.22" << "8000" << "8001";
    QTest::newRow("trailing NUL and garbage")
        << QByteArray("{\"host ip\":\"192.168.1.23\",\"data port\":8000}\0\xff\xfegarbage{", 54)
        << "quarnel" << "192.168.1.23" << "8000" << "";
    QTest::newRow("host ip that is no address")
        << QByteArray(R"({"host ip":"not an address","data port":8000})") << QString() << "not an address" << "" << "";
    QTest::newRow("port beyond 16 bits")
        << QByteArray(R"({"host ip":"192.168.1.27","data port":73536})") << QString() << "192.168.1.27" << "" << "";
    QTest::newRow("capitalised property name") << QByteArray(R"({"Host IP":"192.168.1.24"})") << QString()
                                               << "192.168.1.24" << "" << "";
    QTest::newRow("empty host ip") << QByteArray(R"({"host ip":"","data port":8000,"hostname":"x"})") << QString()
                                   << "" << "" << "";
    QTest::newRow("not an object") << QByteArray("192.168.1.25") << QString() << "192.168.1.25" << "" << "";
    QTest::newRow("expression") << QByteArray(R"({"host ip":"192.168.1." + 26})") << QString() << "192.168.1.26"
                                << "" << "";
    QTest::newRow("empty datagram") << QByteArray() << QString() << "" << "" << "";
}

void tst_Listener::announcement()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, name);
    QFETCH(QString, ip);
    QFETCH(QString, dataPort);
    QFETCH(QString, atPort);

    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    QVERIFY(module.send(payload));
    QVERIFY(sync(module, in));

    if (name.isNull()) {
        QCOMPARE(in.table()->rowCount(), 1);
        if (!ip.isEmpty())
            QCOMPARE(rowWithIp(in.table(), ip), -1);
        QCOMPARE(in.presence().counts().keys(), QStringList{MarkerIp});
        return;
    }
    QCOMPARE(in.table()->rowCount(), 2);
    const int row = rowWithIp(in.table(), ip);
    QCOMPARE(row, 1); // the marker came later and sits on top
    QCOMPARE(in.table()->item(row, ColumnName)->text(), name);
    QCOMPARE(in.table()->item(row, ColumnDataPort)->text(), dataPort);
    QCOMPARE(in.table()->item(row, ColumnAtPort)->text(), atPort);
    auto *board = qobject_cast<QComboBox *>(in.table()->cellWidget(row, discovery::ColumnDevice));
    QVERIFY(board);
    QCOMPARE(board->currentText(), QStringLiteral("MEGA2560"));
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("Online Count\xEF\xBC\x9A" "2"));
    QCOMPARE(in.presence().lifeCount(ip), 5);
}

void tst_Listener::repeatOnlyRefreshesPresence()
{
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    const QByteArray payload = Announcer::payload("192.168.1.20", 8001, 8000, "m");
    QVERIFY(module.send(payload));
    QVERIFY(sync(module, in));
    in.presence().sweepPresence();
    in.presence().sweepPresence();
    QCOMPARE(in.presence().lifeCount("192.168.1.20"), 3);

    QVERIFY(module.send(payload));
    QVERIFY(sync(module, in, "10.77.0.2"));
    QCOMPARE(in.table()->rowCount(), 3);
    QCOMPARE(in.presence().lifeCount("192.168.1.20"), 5);
    QCOMPARE(in.table()->item(rowWithIp(in.table(), "192.168.1.20"), ColumnName)->text(), QStringLiteral("m"));
}

void tst_Listener::laterAnnouncementChangesNothing_data()
{
    QTest::addColumn<QByteArray>("later");
    QTest::newRow("other host name") << Announcer::payload("192.168.1.20", 8001, 8000, "renamed");
    QTest::newRow("other data port") << Announcer::payload("192.168.1.20", 8001, 9000, "first");
    QTest::newRow("other AT port") << Announcer::payload("192.168.1.20", 9001, 8000, "first");
    QTest::newRow("no host name") << Announcer::payload("192.168.1.20", 8001, 8000);
}

void tst_Listener::laterAnnouncementChangesNothing()
{
    QFETCH(QByteArray, later);
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    QVERIFY(module.send(Announcer::payload("192.168.1.20", 8001, 8000, "first")));
    QVERIFY(module.send(later));
    QVERIFY(sync(module, in));
    QCOMPARE(in.table()->rowCount(), 2);
    const int row = rowWithIp(in.table(), "192.168.1.20");
    QCOMPARE(in.table()->item(row, ColumnName)->text(), QStringLiteral("first"));
    QCOMPARE(in.table()->item(row, ColumnDataPort)->text(), QStringLiteral("8000"));
    QCOMPARE(in.table()->item(row, ColumnAtPort)->text(), QStringLiteral("8001"));
}

void tst_Listener::burstOfTwoModules()
{
    Window window;
    WidgetInspector &in = window.in;
    Announcer first(ModuleAddress);
    Announcer second(OtherModuleAddress);
    QVERIFY(first.send(Announcer::payload("127.0.0.2", 8001, 8000, "first")));
    QVERIFY(second.send(Announcer::payload("127.0.0.3", 8001, 8000, "second")));
    QTRY_COMPARE(in.table()->rowCount(), 2);
    QCOMPARE(in.table()->item(0, ColumnName)->text(), QStringLiteral("second"));
    QCOMPARE(in.table()->item(1, ColumnName)->text(), QStringLiteral("first"));
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("Online Count\xEF\xBC\x9A" "2"));
}

void tst_Listener::allPendingHandledInOneCall()
{
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    {
        // Hold back readyRead so that all three wait in the socket for one call of the slot.
        const QSignalBlocker blocker(in.udpSocket());
        for (const char *ip : {"10.1.0.1", "10.1.0.2", "10.1.0.3"})
            QVERIFY(module.send(Announcer::payload(ip)));
        QTRY_VERIFY(in.udpSocket()->hasPendingDatagrams());
    }
    QVERIFY(in.invoke("processPendingDatagrams"));
    QCOMPARE(in.table()->rowCount(), 3);
    QVERIFY(!in.udpSocket()->hasPendingDatagrams());
}

void tst_Listener::ownFirstAddressDropped_data()
{
    QTest::addColumn<QString>("source"); // empty: the machine's first IPv4 address
    QTest::addColumn<bool>("listed");
    QTest::newRow("first IPv4 address") << QString() << false;
    QTest::newRow("another local address") << "127.0.0.2" << true;
    QTest::newRow("yet another local address") << "127.0.0.3" << true;
}

void tst_Listener::ownFirstAddressDropped()
{
    QFETCH(QString, source);
    QFETCH(bool, listed);
    Window window;
    WidgetInspector &in = window.in;
    const QString first = in.localIPv4Address();
    QVERIFY(!first.isEmpty());
    if (source.isEmpty())
        source = first;
    else if (source == first)
        QSKIP("this machine's first IPv4 address is the other local address of this row");

    Announcer sender((QHostAddress(source)));
    QVERIFY2(sender.isBound(), qPrintable(source));
    QVERIFY(sender.send(Announcer::payload("192.168.1.30")));
    Announcer marker(ModuleAddress == QHostAddress(first) ? OtherModuleAddress : ModuleAddress);
    QVERIFY(sync(marker, in));
    QCOMPARE(rowWithIp(in.table(), "192.168.1.30") >= 0, listed);
    QCOMPARE(in.presence().counts().contains("192.168.1.30"), listed);
}

void tst_Listener::droppedWhileSweepRunning()
{
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    // Announcements that arrive while a departed module's row is being removed: the event loop
    // runs inside the removal here, so the listener sees them with sweepRunning set.
    bool drained = false;
    connect(&in.presence(), &discovery::Presence::departed, this, [&] {
        drained = module.send(Announcer::payload("192.168.1.40")) && module.send(Announcer::payload("192.168.1.41"))
                  && QTest::qWaitFor([&] { return in.udpSocket()->hasPendingDatagrams(); })
                  && QTest::qWaitFor([&] { return !in.udpSocket()->hasPendingDatagrams(); });
    });
    in.presence().refreshPresence("192.168.1.39");
    for (int sweep = 0; sweep < 4; ++sweep)
        in.presence().sweepPresence();
    QVERIFY(drained);
    QCOMPARE(in.table()->rowCount(), 0);

    // Dropped, not deferred: nothing of them turns up once the sweep is over.
    QVERIFY(sync(module, in));
    QCOMPARE(in.table()->rowCount(), 1);
    QCOMPARE(in.presence().counts().keys(), QStringList{MarkerIp});
}

// A departed module's row goes, inside the sweep, with the lower-case count; later departures of
// the same module change nothing; when it announces again it comes back on top as a new row.
void tst_Listener::departedRowRemovedAndReturns()
{
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    QVERIFY(module.send(Announcer::payload("192.168.1.20")));
    QVERIFY(sync(module, in));
    auto *board = qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), "192.168.1.20"),
                                                                     discovery::ColumnDevice));
    QVERIFY(board);
    board->setCurrentIndex(1); // "UNO"
    QList<bool> sweepRunningAtRemoval;
    connect(in.table()->model(), &QAbstractItemModel::rowsRemoved, this,
            [&] { sweepRunningAtRemoval << in.presence().sweepRunning(); });
    for (int sweep = 0; sweep < 4; ++sweep) {
        in.presence().refreshPresence(MarkerIp);
        in.presence().sweepPresence();
    }
    QCOMPARE(sweepRunningAtRemoval, QList<bool>{true});
    QCOMPARE(rowWithIp(in.table(), "192.168.1.20"), -1);
    QCOMPARE(in.table()->rowCount(), 1);
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("online count\xEF\xBC\x9A" "1"));

    in.ui()->userNumLabel->setText(QStringLiteral("untouched"));
    in.presence().sweepPresence();
    QCOMPARE(in.table()->rowCount(), 1);
    QCOMPARE(in.ui()->userNumLabel->text(), QStringLiteral("untouched"));

    QVERIFY(module.send(Announcer::payload("192.168.1.20")));
    QTRY_COMPARE(in.table()->rowCount(), 2);
    QCOMPARE(in.table()->item(0, ColumnIp)->text(), QStringLiteral("192.168.1.20"));
    board = qobject_cast<QComboBox *>(in.table()->cellWidget(0, discovery::ColumnDevice));
    QVERIFY(board);
    QCOMPARE(board->currentText(), QStringLiteral("MEGA2560"));
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("Online Count\xEF\xBC\x9A" "2"));

    QMetaObject::invokeMethod(&window.w, "participantLeft", Q_ARG(QString, MarkerIp));
    QMetaObject::invokeMethod(&window.w, "participantLeft", Q_ARG(QString, QStringLiteral("192.168.1.20")));
    QCOMPARE(in.table()->rowCount(), 0);
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("online count\xEF\xBC\x9A" "0"));
}

// What a module is, learned by quarnel-cli while the window runs or chosen in the Device box,
// shows when its row comes back and when the next window lists it.
void tst_Listener::rememberedBoardShown()
{
    QFile::remove(upload::ModuleBoards::defaultPath()); // an earlier run's
    const QString ip = QStringLiteral("192.168.1.77");
    const auto boardShown = [ip](WidgetInspector &in) {
        const auto *box = qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), ip), discovery::ColumnDevice));
        return box ? box->currentText() : QString();
    };
    const auto leaveAndComeBack = [ip](WidgetInspector &in, Announcer &module) {
        QMetaObject::invokeMethod(&in.w, "participantLeft", Q_ARG(QString, ip));
        QCOMPARE(rowWithIp(in.table(), ip), -1);
        QVERIFY(module.send(Announcer::payload(ip, 8001, 8000, "bench")));
        QTRY_VERIFY(rowWithIp(in.table(), ip) >= 0);
    };
    Announcer module(ModuleAddress);
    {
        Window window;
        WidgetInspector &in = window.in;
        QVERIFY(module.send(Announcer::payload(ip, 8001, 8000, "bench")));
        QTRY_COMPARE(boardShown(in), QStringLiteral("MEGA2560")); // not known yet

        upload::ModuleBoards cli;
        cli.load();
        QString error;
        QVERIFY(cli.remember(ip, "bench", *upload::findBoard("UNO"), &error));
        leaveAndComeBack(in, module);
        QCOMPARE(boardShown(in), QStringLiteral("UNO"));

        // The user picks the last type with the keyboard.
        auto *box = qobject_cast<QComboBox *>(in.table()->cellWidget(rowWithIp(in.table(), ip), discovery::ColumnDevice));
        QTest::keyClick(box, Qt::Key_End);
        leaveAndComeBack(in, module);
        QCOMPARE(boardShown(in), QStringLiteral("zureD0"));
    }
    Window next;
    QVERIFY(module.send(Announcer::payload(ip, 8001, 8000, "bench")));
    QTRY_COMPARE(boardShown(next.in), QStringLiteral("zureD0"));
}

// The real timer, at its real pace (about eight seconds): the row goes at the fourth tick.
void tst_Listener::leavesOnFourthTimerTick()
{
    Widget w;
    WidgetInspector in{w};
    Announcer::targetPort() = in.listenPrivately();
    Announcer module(ModuleAddress);
    QSignalSpy ticks(in.timer(), &QTimer::timeout);
    int ticksAtAdd = -1;
    int ticksAtRemoval = -1;
    connect(in.table()->model(), &QAbstractItemModel::rowsInserted, this, [&] { ticksAtAdd = ticks.count(); });
    connect(in.table()->model(), &QAbstractItemModel::rowsRemoved, this, [&] { ticksAtRemoval = ticks.count(); });
    QVERIFY(module.send(Announcer::payload("192.168.1.20")));
    QTRY_COMPARE(in.table()->rowCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(in.table()->rowCount(), 0, 12000);
    // The removal runs inside the fourth tick, before the spy has counted that tick.
    QCOMPARE(ticksAtRemoval - ticksAtAdd, 3);
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("online count\xEF\xBC\x9A" "0"));
}

// Neighbouring rows of modules that departed together go in one removal: the cost of a removal
// grows with the table.
void tst_Listener::departedTogetherLeaveTogether()
{
    Window window;
    WidgetInspector &in = window.in;
    for (const char *ip : {"192.168.1.9", "192.168.1.10", "10.0.0.1"}) {
        in.addDeviceRow(ip, "8000", "8001", "m");
        in.presence().refreshPresence(ip);
    }
    QStringList removed;
    connect(in.table()->model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [&](const QModelIndex &, int first, int last) {
                for (int row = first; row <= last; ++row)
                    removed << in.table()->item(row, ColumnIp)->text();
                removed << QStringLiteral("|");
            });
    for (int sweep = 0; sweep < 4; ++sweep)
        in.presence().sweepPresence();
    QCOMPARE(removed, (QStringList{"10.0.0.1", "192.168.1.10", "192.168.1.9", "|"}));
    QCOMPARE(in.ui()->userNumLabel->text(), QString::fromUtf8("online count\xEF\xBC\x9A" "0"));
}

void tst_Listener::nameSetWhileAddingRow()
{
    Window window;
    WidgetInspector &in = window.in;
    QList<bool> addingRowAtNameChange;
    connect(in.table(), &QTableWidget::itemChanged, this, [&](QTableWidgetItem *item) {
        if (item->column() == ColumnName)
            addingRowAtNameChange.append(in.addingRow());
    });
    Announcer module(ModuleAddress);
    QVERIFY(module.send(Announcer::payload("192.168.1.50", 8001, 8000, "guarded")));
    QTRY_COMPARE(in.table()->rowCount(), 1);
    // The rename handler sees the new Name cell (its text, then its alignment) with the guard
    // set, and the guard is cleared after.
    QCOMPARE(addingRowAtNameChange, (QList<bool>{true, true}));
    QVERIFY(!in.addingRow());
}

void tst_Listener::cellsLockedAfterAnnouncement_data()
{
    QTest::addColumn<QByteArray>("next");
    QTest::newRow("next announcement adds a row") << Announcer::payload("192.168.1.61");
    QTest::newRow("next announcement repeats") << Announcer::payload("192.168.1.60");
}

void tst_Listener::cellsLockedAfterAnnouncement()
{
    QFETCH(QByteArray, next);
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    QVERIFY(module.send(Announcer::payload("192.168.1.60")));
    QTRY_COMPARE(in.table()->rowCount(), 1);
    for (int column = 1; column < in.table()->columnCount(); ++column) {
        QVERIFY(in.table()->item(0, column));
        QVERIFY(!(in.table()->item(0, column)->flags() & Qt::ItemIsEditable));
    }
    QVERIFY(in.table()->item(0, ColumnName)->flags() & Qt::ItemIsEditable);

    // An upload writes its result as a fresh, editable item; the next announcement locks it.
    auto *progress = new QTableWidgetItem(QStringLiteral("Successful"));
    in.table()->setItem(0, discovery::ColumnProgress, progress);
    QVERIFY(progress->flags() & Qt::ItemIsEditable);
    QVERIFY(module.send(next));
    QVERIFY(sync(module, in));
    QTableWidgetItem *after = in.table()->item(rowWithIp(in.table(), "192.168.1.60"), discovery::ColumnProgress);
    QCOMPARE(after, progress);
    QCOMPARE(after->text(), QStringLiteral("Successful"));
    QVERIFY(!(after->flags() & Qt::ItemIsEditable));
}

void tst_Listener::hostilePayloadsDropped_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("endless loop") << QByteArray("{\"host ip\":\"10.66.0.1\"}; while (true) {}");
    QTest::newRow("endless loop in a value") << QByteArray(R"({"host ip": (function () { for (;;) {} })()})");
    QTest::newRow("huge array") << QByteArray(R"({"host ip": new Array(1e9).join("10.66.0.1")})");
    QTest::newRow("huge string") << QByteArray(R"({"host ip": Array(1e8).join("x") + "10.66.0.1"})");
    QTest::newRow("ten thousand levels") << deeplyNested(10000);
    QTest::newRow("call") << QByteArray(R"({"host ip": String("10.66.0.1")})");
    QTest::newRow("assignment") << QByteArray(R"({"host ip": value = "10.66.0.1"})");
    QTest::newRow("assignment to a global") << QByteArray(R"({"host ip": "10.66.0.1", "x": this.x = 1})");
    QTest::newRow("invalid UTF-8") << QByteArray("{\"host ip\":\"10.66.0.1\", \xff\xfe: \xc3\x28}");
    QByteArray largest = R"({"host ip":"10.66.0.1","x":")";
    largest += QByteArray(65507 - largest.size() - 1, 'x') + "}"; // the string never closes
    QTest::newRow("65507 bytes") << largest;
}

void tst_Listener::hostilePayloadsDropped()
{
    QFETCH(QByteArray, payload);
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    QVERIFY(module.send(payload));
    QVERIFY(sync(module, in));
    QCOMPARE(in.table()->rowCount(), 1);
    QCOMPARE(rowWithIp(in.table(), "10.66.0.1"), -1);
}

void tst_Listener::memoryStaysBounded()
{
    Window window;
    WidgetInspector &in = window.in;
    Announcer module(ModuleAddress);
    QByteArray accepted = R"({"host ip":"10.66.0.2","hostname":")";
    accepted += QByteArray(65507 - accepted.size() - 2, 'n') + "\"}";
    QByteArray expanding = R"({"host ip":"10.66.0.3","hostname":[)";
    while (expanding.size() < 65000)
        expanding += "1e20,{},";
    expanding += "0]}";
    const QList<QByteArray> payloads{
        accepted, expanding, deeplyNested(30000), QByteArray(65507, '{'),
        QByteArray(R"({"host ip": new Array(1e9).join("x")})"),
        QByteArray("{\"host ip\":\"10.66.0.4\",\"x\":\"\xff\xfe\xed\xa0\x80\"}"),
    };

    int step = 0;
    const auto round = [&] {
        for (const QByteArray &payload : payloads) {
            // A fresh marker per datagram, removed again, so that the table keeps its size.
            const QString marker = QStringLiteral("10.78.%1.%2").arg(step / 200).arg(step % 200);
            ++step;
            if (!module.send(payload) || !sync(module, in, marker))
                return false;
            QMetaObject::invokeMethod(&window.w, "participantLeft", Q_ARG(QString, marker));
        }
        return true;
    };
    QVERIFY(round()); // the rows and their widgets come into being here
    QCOMPARE(in.table()->rowCount(), 3);
    const qint64 before = residentKiB();
    QVERIFY(before > 0);
    for (int i = 0; i < 60; ++i)
        QVERIFY(round());
    QCOMPARE(in.table()->rowCount(), 3);
    // 60 rounds carry about 20 MB of datagrams; keeping any of them would show here.
    QVERIFY2(residentKiB() - before < 8 * 1024, qPrintable(QString::number(residentKiB() - before)));
}

QTEST_MAIN(tst_Listener)
#include "tst_listener.moc"
