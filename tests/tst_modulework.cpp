#include "modulework.h"
#include "monitorconnection.h"
#include "thread.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using monitor::MonitorConnection;
using State = MonitorConnection::State;

// What runs on each module: the one answer to "is it busy", kept as uploads start and end.
class tst_ModuleWork : public QObject
{
    Q_OBJECT

private slots:
    void busyWhileAnUploadRuns();
    void monitorTakesTurnsWithUploads();
};

void tst_ModuleWork::busyWhileAnUploadRuns()
{
    // Workers that are never started: the registry only keeps them.
    upload::Thread first("8001", "8000", "10.0.0.1", "UNO");
    upload::Thread again("8001", "8000", "10.0.0.1", "UNO"); // the module left and came back
    upload::Thread other("8001", "8000", "10.0.0.2", "UNO");
    ModuleWork work;
    QVERIFY(!work.busy("10.0.0.1"));
    work.uploadStarted("10.0.0.1", &first);
    work.uploadStarted("10.0.0.1", &again);
    work.uploadStarted("10.0.0.2", &other);
    QCOMPARE(work.uploadThread(), &other);
    QCOMPARE(work.uploads().size(), 3);

    work.uploadEnded(&first);
    QVERIFY(work.busy("10.0.0.1"));
    work.uploadEnded(&again);
    QVERIFY(!work.busy("10.0.0.1"));
    QCOMPARE(work.uploadThread(), &other);
    work.uploadEnded(&other);
    QVERIFY(!work.busy("10.0.0.2"));
    QCOMPARE(work.uploadThread(), static_cast<upload::Thread *>(nullptr));
    QVERIFY(work.uploads().isEmpty());
}

// The module's data port serves one client: its monitor lets go while an upload runs on it.
void tst_ModuleWork::monitorTakesTurnsWithUploads()
{
    qRegisterMetaType<State>();
    QTcpServer closed; // a port nobody listens on: the monitor keeps trying
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    const QString ip = QStringLiteral("127.0.0.1");
    MonitorConnection link(ip, port, {3000, 50, 100});
    QSignalSpy states(&link, &MonitorConnection::stateChanged);
    upload::Thread first("8001", "8000", ip, "UNO");
    upload::Thread second("8001", "8000", ip, "UNO");
    ModuleWork work;

    work.uploadStarted(ip, &first);
    work.addMonitor(ip, &link); // opened while the row uploads: it waits for the verdict
    QCOMPARE(link.state(), State::Released);
    work.uploadEnded(&first);
    QVERIFY(link.state() == State::Connecting || link.state() == State::Waiting);
    QVERIFY(work.busy(ip)); // the monitor wants the port

    work.uploadStarted(ip, &first);
    work.uploadStarted(ip, &second); // the module left and came back
    QCOMPARE(link.state(), State::Released);
    states.clear();
    QVERIFY(!states.wait(200)); // no attempt while released, though the retry wait has passed
    work.uploadEnded(&first);
    QCOMPARE(link.state(), State::Released);
    work.uploadEnded(&second);
    QVERIFY(link.state() != State::Released);

    work.removeMonitor(ip);
    QVERIFY(!work.busy(ip));
    link.close();
    work.uploadStarted(ip, &first); // a monitor no longer registered is not touched
    work.uploadEnded(&first);
    QCOMPARE(link.state(), State::Closed);
}

QTEST_GUILESS_MAIN(tst_ModuleWork)
#include "tst_modulework.moc"
