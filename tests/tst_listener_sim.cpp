#include "devicecolumns.h"
#include "simprocess.h"
#include "widgetinspector.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using discovery::ColumnAtPort;
using discovery::ColumnDataPort;
using discovery::ColumnIp;
using discovery::ColumnName;

namespace {
const int AnnouncementWaitMs = 5000; // the simulator announces every 2000 ms
const int DepartureMs = 8000;        // a silent module is gone by the fourth 2000 ms tick
const int SchedulingSlackMs = 1000;
} // namespace

// The window against the module simulator: its announcements list it, its silence removes it.
class tst_ListenerSim : public QObject
{
    Q_OBJECT

private slots:
    void modulesComeAndGo_data();
    void modulesComeAndGo();
};

void tst_ListenerSim::modulesComeAndGo_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("one module") << 1;
    QTest::newRow("three modules") << 3;
}

void tst_ListenerSim::modulesComeAndGo()
{
    QFETCH(int, count);
    Widget w;
    WidgetInspector in{w};
    // Only this test's modules reach the window.
    const quint16 port = in.listenPrivately();
    QVERIFY(port);

    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.20", "--board", "none", "--name", "bench-a", "--count",
                        QString::number(count), "--target", QStringLiteral("127.0.0.1:%1").arg(port)}),
             qPrintable(sim.errorText()));
    QTRY_COMPARE_WITH_TIMEOUT(in.table()->rowCount(), count, AnnouncementWaitMs);
    for (int module = 0; module < count; ++module) {
        const QString ip = sim.ip(module).toString();
        int row = -1;
        for (int r = 0; r < in.table()->rowCount(); ++r) {
            if (in.table()->item(r, ColumnIp)->text() == ip)
                row = r;
        }
        QVERIFY2(row >= 0, qPrintable(ip));
        QCOMPARE(in.table()->item(row, ColumnDataPort)->text(), QString::number(sim.dataPort()));
        QCOMPARE(in.table()->item(row, ColumnAtPort)->text(), QString::number(sim.atPort()));
        const QString name = count == 1 ? QStringLiteral("bench-a") : QStringLiteral("bench-a-%1").arg(module + 1);
        QCOMPARE(in.table()->item(row, ColumnName)->text(), name);
    }

    QVERIFY(sim.stop());
    QElapsedTimer silence;
    silence.start();
    QTRY_COMPARE_WITH_TIMEOUT(in.table()->rowCount(), 0, DepartureMs + SchedulingSlackMs);
    QVERIFY2(silence.elapsed() <= DepartureMs + SchedulingSlackMs, qPrintable(QString::number(silence.elapsed())));
}

QTEST_MAIN(tst_ListenerSim)
#include "tst_listener_sim.moc"
