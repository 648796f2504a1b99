#include "presence.h"

#include <QSignalSpy>
#include <QTest>

using discovery::Presence;

namespace {

// The departures reported, one list per sweep that had any.
QList<QStringList> departures(const QSignalSpy &spy)
{
    QList<QStringList> sweeps;
    for (const QList<QVariant> &arguments : spy)
        sweeps << arguments.at(0).toStringList();
    return sweeps;
}

} // namespace

// Presence: life counts set by announcements, lowered by sweeps; silent modules are forgotten and
// reported departed together. The window's side (the rows and the label) is in tst_listener.
class tst_Presence : public QObject
{
    Q_OBJECT

private slots:
    void leavesAtFourthSweep_data();
    void leavesAtFourthSweep();
    void announcementIntervals_data();
    void announcementIntervals();
    void heldCountdownResumes();
    void departedForgotten();
    void departedTogetherInTextOrder();
    void sweepRunningWhileReporting();
    void noSweepInsideSweep();
    void emptyIpIgnored();
    void sweepsOnItsOwnTimer();
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
    Presence presence;
    QSignalSpy departed(&presence, &Presence::departed);
    presence.refreshPresence("192.168.1.20");
    const auto announceOthers = [&] {
        for (int i = 0; i < others; ++i)
            presence.refreshPresence(QStringLiteral("192.168.2.%1").arg(i));
    };
    announceOthers();
    QCOMPARE(presence.lifeCount("192.168.1.20"), 5);

    for (int count : {4, 3, 2}) {
        presence.sweepPresence();
        announceOthers();
        QCOMPARE(presence.lifeCount("192.168.1.20"), count);
        QVERIFY(departed.isEmpty());
    }
    presence.sweepPresence();
    QCOMPARE(departures(departed), QList<QStringList>{{"192.168.1.20"}});
    QVERIFY(!presence.counts().contains("192.168.1.20")); // a flood of departures leaves nothing
    QCOMPARE(presence.counts().size(), others);
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
    Presence presence;
    QSignalSpy departed(&presence, &Presence::departed);
    presence.refreshPresence("192.168.1.20");
    for (int sweep = 1; sweep <= 24 && departed.isEmpty(); ++sweep) {
        presence.sweepPresence();
        if (sweep % sweepsBetween == 0)
            presence.refreshPresence("192.168.1.20");
    }
    QCOMPARE(departed.isEmpty(), stays);
}

// While the manual source is selected the counts stand still, and go on from there after.
void tst_Presence::heldCountdownResumes()
{
    Presence presence;
    QSignalSpy departed(&presence, &Presence::departed);
    presence.refreshPresence("192.168.1.20");
    presence.sweepPresence();
    presence.sweepPresence();
    QCOMPARE(presence.lifeCount("192.168.1.20"), 3);

    presence.setHeld(true);
    for (int tick = 0; tick < 6; ++tick)
        presence.sweepPresence();
    QCOMPARE(presence.lifeCount("192.168.1.20"), 3);
    QVERIFY(departed.isEmpty());

    presence.setHeld(false);
    presence.sweepPresence();
    QCOMPARE(presence.lifeCount("192.168.1.20"), 2);
    QVERIFY(departed.isEmpty());
    presence.sweepPresence();
    QCOMPARE(departures(departed), QList<QStringList>{{"192.168.1.20"}});
}

// A departed module is reported once; announcing again, it counts from the start.
void tst_Presence::departedForgotten()
{
    Presence presence;
    QSignalSpy departed(&presence, &Presence::departed);
    presence.refreshPresence("192.168.1.20");
    for (int sweep = 0; sweep < 4; ++sweep)
        presence.sweepPresence();
    presence.refreshPresence("192.168.1.21");
    for (int sweep = 0; sweep < 3; ++sweep) {
        presence.sweepPresence();
        QCOMPARE(presence.lifeCount("192.168.1.20"), 0);
    }
    QCOMPARE(departures(departed), QList<QStringList>{{"192.168.1.20"}});
    QCOMPARE(presence.lifeCount("192.168.1.21"), 2);

    presence.refreshPresence("192.168.1.20");
    departed.clear();
    presence.sweepPresence();
    QCOMPARE(presence.lifeCount("192.168.1.20"), 4);
    QCOMPARE(departures(departed), QList<QStringList>{{"192.168.1.21"}});
}

// Modules that fall silent together are reported in one list, in ascending order of the IP text.
void tst_Presence::departedTogetherInTextOrder()
{
    Presence presence;
    QSignalSpy departed(&presence, &Presence::departed);
    for (const char *ip : {"192.168.1.9", "192.168.1.10", "10.0.0.1"})
        presence.refreshPresence(ip);
    for (int sweep = 0; sweep < 4; ++sweep)
        presence.sweepPresence();
    QCOMPARE(departures(departed), (QList<QStringList>{{"10.0.0.1", "192.168.1.10", "192.168.1.9"}}));
    QVERIFY(presence.counts().isEmpty());
}

void tst_Presence::sweepRunningWhileReporting()
{
    Presence presence;
    QList<bool> duringReport;
    connect(&presence, &Presence::departed, this, [&] { duringReport << presence.sweepRunning(); });
    presence.refreshPresence("192.168.1.20");
    for (int sweep = 0; sweep < 4; ++sweep) {
        QVERIFY(!presence.sweepRunning());
        presence.sweepPresence();
    }
    QCOMPARE(duringReport, QList<bool>{true});
    QVERIFY(!presence.sweepRunning());
}

// What handles a departure cannot start a second sweep inside the first.
void tst_Presence::noSweepInsideSweep()
{
    Presence presence;
    connect(&presence, &Presence::departed, this, [&] { presence.sweepPresence(); });
    presence.refreshPresence("192.168.1.20");
    presence.sweepPresence();
    presence.sweepPresence();
    presence.refreshPresence("192.168.1.21");
    presence.sweepPresence();
    presence.sweepPresence(); // .20 departs; .21 is lowered once, not twice
    QCOMPARE(presence.lifeCount("192.168.1.21"), 3);
}

void tst_Presence::emptyIpIgnored()
{
    Presence presence;
    presence.refreshPresence(QString());
    presence.refreshPresence(QStringLiteral(""));
    QVERIFY(presence.counts().isEmpty());
    presence.refreshPresence(QStringLiteral("192.168.1.20"));
    QCOMPARE(presence.lifeCount("192.168.1.20"), 5);
}

// Without the window's refresh timer: a module that falls silent still leaves, and the hold
// still holds.
void tst_Presence::sweepsOnItsOwnTimer()
{
    Presence presence;
    QSignalSpy departed(&presence, &Presence::departed);
    presence.refreshPresence("192.168.1.20");
    presence.setHeld(true);
    presence.sweepEvery(5);
    QVERIFY(!departed.wait(100));
    QCOMPARE(presence.lifeCount("192.168.1.20"), 5);
    presence.setHeld(false);
    QVERIFY(departed.wait());
    QCOMPARE(departures(departed), QList<QStringList>{{"192.168.1.20"}});
}

QTEST_GUILESS_MAIN(tst_Presence)
#include "tst_presence.moc"
