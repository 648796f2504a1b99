#include "announcer.h"
#include "devicecolumns.h"
#include "widgetinspector.h"

#include <QComboBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using discovery::ColumnIp;

namespace {

const QHostAddress ModuleAddress(QStringLiteral("127.0.0.2"));

QString addedLabel(int rows)
{
    return QString::fromUtf8("Online Count\xEF\xBC\x9A%1").arg(rows);
}

QString removedLabel(int rows)
{
    return QString::fromUtf8("online count\xEF\xBC\x9A%1").arg(rows);
}

int rowWithIp(const QTableWidget *table, const QString &ip)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, ColumnIp) && table->item(row, ColumnIp)->text() == ip)
            return row;
    }
    return -1;
}

} // namespace

// Presence: life counts set by announcements, lowered by sweeps; silent modules leave the table.
class tst_Presence : public QObject
{
    Q_OBJECT

private slots:
    void leavesAtFourthSweep_data();
    void leavesAtFourthSweep();
    void announcementIntervals_data();
    void announcementIntervals();
    void manualModeHoldsCountdown();
    void departedModuleReturns();
    void departedEntryStaysQuiet();
    void departedTogetherLeaveTogether();
    void sweepRunningWhileRemoving();
    void emptyIpIgnored();
    void leavesOnFourthTimerTick();

private:
    struct Window
    {
        Widget w;
        WidgetInspector in{w};
        Announcer module{ModuleAddress};
        explicit Window(bool stopTimer = true)
        {
            if (stopTimer)
                in.timer()->stop();
            // Only this test's announcements reach the window.
            Announcer::targetPort() = in.listenPrivately();
        }

        // Announces ip and waits until the window has refreshed its count.
        bool announce(const QString &ip)
        {
            return module.send(Announcer::payload(ip))
                   && QTest::qWaitFor([&] { return in.presenceMap().value(ip) == 5; });
        }
    };
};

void tst_Presence::leavesAtFourthSweep_data()
{
    QTest::addColumn<int>("others"); // modules that keep announcing meanwhile
    QTest::newRow("alone") << 0;
    QTest::newRow("with two others") << 2;
}

void tst_Presence::leavesAtFourthSweep()
{
    QFETCH(int, others);
    Window window;
    WidgetInspector &in = window.in;
    QVERIFY(window.announce("192.168.1.20"));
    const auto announceOthers = [&] {
        for (int i = 0; i < others; ++i) {
            if (!window.announce(QStringLiteral("192.168.2.%1").arg(i)))
                return false;
        }
        return true;
    };
    QVERIFY(announceOthers());

    for (int count : {4, 3, 2}) {
        in.sweepPresence();
        QVERIFY(announceOthers());
        QCOMPARE(in.presenceMap().value("192.168.1.20"), count);
        QVERIFY(rowWithIp(in.table(), "192.168.1.20") >= 0);
    }
    in.sweepPresence();
    QCOMPARE(rowWithIp(in.table(), "192.168.1.20"), -1);
    QCOMPARE(in.table()->rowCount(), others);
    QCOMPARE(in.ui()->userNumLabel->text(), removedLabel(others));
    QVERIFY(!in.presenceMap().contains("192.168.1.20"));
}

void tst_Presence::announcementIntervals_data()
{
    QTest::addColumn<int>("sweepsBetween"); // one sweep per 2 s
    QTest::addColumn<bool>("stays");
    QTest::newRow("every 2 s") << 1 << true;
    QTest::newRow("every 4 s") << 2 << true;
    QTest::newRow("every 6 s") << 3 << true;
    QTest::newRow("every 8 s") << 4 << false;
}

void tst_Presence::announcementIntervals()
{
    QFETCH(int, sweepsBetween);
    QFETCH(bool, stays);
    Window window;
    WidgetInspector &in = window.in;
    QVERIFY(window.announce("192.168.1.20"));
    bool present = true;
    for (int sweep = 1; sweep <= 24 && present; ++sweep) {
        in.sweepPresence();
        present = rowWithIp(in.table(), "192.168.1.20") >= 0;
        if (sweep % sweepsBetween == 0)
            QVERIFY(window.announce("192.168.1.20"));
    }
    QCOMPARE(present, stays);
}

void tst_Presence::manualModeHoldsCountdown()
{
    Window window;
    WidgetInspector &in = window.in;
    QVERIFY(window.announce("192.168.1.20"));
    QVERIFY(in.invoke("update_hex_file"));
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.presenceMap().value("192.168.1.20"), 3);

    in.ui()->radioButton->click(); // "Manual Assign File"
    QVERIFY(in.manualMode());
    for (int tick = 0; tick < 6; ++tick)
        QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.presenceMap().value("192.168.1.20"), 3);
    QCOMPARE(in.table()->rowCount(), 1);

    in.ui()->radioButton_2->click(); // "Use Default file"
    QVERIFY(!in.manualMode());
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.presenceMap().value("192.168.1.20"), 2);
    QCOMPARE(in.table()->rowCount(), 1);
    QVERIFY(in.invoke("update_hex_file"));
    QCOMPARE(in.table()->rowCount(), 0);
    QCOMPARE(in.ui()->userNumLabel->text(), removedLabel(0));
}

void tst_Presence::departedModuleReturns()
{
    Window window;
    WidgetInspector &in = window.in;
    QVERIFY(window.announce("192.168.1.20"));
    auto *board = qobject_cast<QComboBox *>(in.table()->cellWidget(0, discovery::ColumnDevice));
    QVERIFY(board);
    board->setCurrentIndex(1); // "UNO"
    for (int sweep = 0; sweep < 4; ++sweep)
        in.sweepPresence();
    QCOMPARE(in.table()->rowCount(), 0);

    QVERIFY(window.announce("192.168.1.21"));
    QVERIFY(window.announce("192.168.1.20"));
    QCOMPARE(in.table()->rowCount(), 2);
    QCOMPARE(in.table()->item(0, ColumnIp)->text(), QStringLiteral("192.168.1.20"));
    board = qobject_cast<QComboBox *>(in.table()->cellWidget(0, discovery::ColumnDevice));
    QVERIFY(board);
    QCOMPARE(board->currentText(), QStringLiteral("MEGA2560"));
    QCOMPARE(in.ui()->userNumLabel->text(), addedLabel(2));
}

void tst_Presence::departedEntryStaysQuiet()
{
    Window window;
    WidgetInspector &in = window.in;
    QVERIFY(window.announce("192.168.1.20"));
    for (int sweep = 0; sweep < 4; ++sweep)
        in.sweepPresence();
    QVERIFY(window.announce("192.168.1.21"));

    // The entry went with the row: later sweeps have nothing to report and change nothing.
    in.ui()->userNumLabel->setText(QStringLiteral("untouched"));
    for (int sweep = 0; sweep < 3; ++sweep) {
        in.sweepPresence();
        QVERIFY(!in.presenceMap().contains("192.168.1.20"));
    }
    QCOMPARE(in.table()->rowCount(), 1);
    QCOMPARE(in.ui()->userNumLabel->text(), QStringLiteral("untouched"));
    QCOMPARE(in.presenceMap().value("192.168.1.21"), 2);
}

void tst_Presence::departedTogetherLeaveTogether()
{
    Window window;
    WidgetInspector &in = window.in;
    for (const char *ip : {"192.168.1.9", "192.168.1.10", "10.0.0.1"})
        QVERIFY(window.announce(ip));
    // Neighbouring rows go in one removal: the cost of a removal grows with the table.
    QStringList removed;
    connect(in.table()->model(), &QAbstractItemModel::rowsAboutToBeRemoved, this, [&](const QModelIndex &, int first, int last) {
        for (int row = first; row <= last; ++row)
            removed << in.table()->item(row, ColumnIp)->text();
        removed << QStringLiteral("|");
    });
    for (int sweep = 0; sweep < 4; ++sweep)
        in.sweepPresence();
    QCOMPARE(removed, (QStringList{"10.0.0.1", "192.168.1.10", "192.168.1.9", "|"}));
    QVERIFY(in.presenceMap().isEmpty());
}

void tst_Presence::sweepRunningWhileRemoving()
{
    Window window;
    WidgetInspector &in = window.in;
    QVERIFY(window.announce("192.168.1.20"));
    QList<bool> duringRemoval;
    connect(in.table()->model(), &QAbstractItemModel::rowsRemoved, this,
            [&] { duringRemoval << in.sweepRunning(); });
    for (int sweep = 0; sweep < 4; ++sweep)
        in.sweepPresence();
    QCOMPARE(duringRemoval, QList<bool>{true});
    QVERIFY(!in.sweepRunning());
}

void tst_Presence::emptyIpIgnored()
{
    Window window;
    WidgetInspector &in = window.in;
    in.refreshPresence(QString());
    in.refreshPresence(QStringLiteral(""));
    QVERIFY(in.presenceMap().isEmpty());
    in.refreshPresence(QStringLiteral("192.168.1.20"));
    QCOMPARE(in.presenceMap().value("192.168.1.20"), 5);
}

void tst_Presence::leavesOnFourthTimerTick()
{
    // The real timer, at its real pace: about eight seconds.
    Window window(false);
    WidgetInspector &in = window.in;
    QSignalSpy ticks(in.timer(), &QTimer::timeout);
    int ticksAtAdd = -1;
    int ticksAtRemoval = -1;
    connect(in.table()->model(), &QAbstractItemModel::rowsInserted, this, [&] { ticksAtAdd = ticks.count(); });
    connect(in.table()->model(), &QAbstractItemModel::rowsRemoved, this, [&] { ticksAtRemoval = ticks.count(); });
    QVERIFY(window.module.send(Announcer::payload("192.168.1.20")));
    QTRY_COMPARE(in.table()->rowCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(in.table()->rowCount(), 0, 12000);
    // The removal runs inside the fourth tick, before the spy has counted that tick.
    QCOMPARE(ticksAtRemoval - ticksAtAdd, 3);
    QCOMPARE(in.ui()->userNumLabel->text(), removedLabel(0));
}

QTEST_MAIN(tst_Presence)
#include "tst_presence.moc"
