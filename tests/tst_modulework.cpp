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

// The module's data port serves one client: its monitor lets go while an upload runs on it, and
// the upload is told when the module may still refuse it for a moment; after the verdict the
// monitor takes the port back as soon as the module listens again.
void tst_ModuleWork::monitorTakesTurnsWithUploads()
{
    qRegisterMetaType<State>();
    QTcpServer module; // not listening: refuses, as a module that has not taken a close in yet
    QVERIFY(module.listen(QHostAddress::LocalHost));
    const quint16 port = module.serverPort();
    module.close();
    const QString ip = QStringLiteral("127.0.0.1");
    MonitorConnection link(ip, port, {3000, 50, 100});
    QSignalSpy states(&link, &MonitorConnection::stateChanged);
    upload::Thread first("8001", "8000", ip, "UNO");
    upload::Thread second("8001", "8000", ip, "UNO");
    ModuleWork work;

    QVERIFY(!work.uploadStarted(ip, &first)); // no monitor let go
    work.addMonitor(ip, &link); // opened while the row uploads: it waits for the verdict
    QCOMPARE(link.state(), State::Released);
    work.uploadEnded(&first);
    QCOMPARE(link.state(), State::Connecting); // the module refuses: tried again within the connect wait
    QVERIFY(work.busy(ip)); // the monitor wants the port

    QVERIFY(work.uploadStarted(ip, &first)); // the monitor was taking the port
    QVERIFY(!work.uploadStarted(ip, &second)); // the module left and came back; the port was let go already
    QCOMPARE(link.state(), State::Released);
    states.clear();
    QVERIFY(!states.wait(200)); // no attempt while released, though the retry wait has passed
    work.uploadEnded(&first);
    QCOMPARE(link.state(), State::Released);
    work.uploadEnded(&second);
    QCOMPARE(link.state(), State::Connecting);
    QVERIFY(module.listen(QHostAddress::LocalHost, port)); // the module listens again
    QTRY_COMPARE(link.state(), State::Connected);
    for (const QList<QVariant> &change : qAsConst(states))
        QVERIFY(change.first().value<State>() != State::Waiting); // no failure shown meanwhile

    work.removeMonitor(ip);
    QVERIFY(!work.busy(ip));
    link.close();
    QVERIFY(!work.uploadStarted(ip, &first)); // a monitor no longer registered is not touched
    work.uploadEnded(&first);
    QCOMPARE(link.state(), State::Closed);
}

QTEST_GUILESS_MAIN(tst_ModuleWork)
#include "tst_modulework.moc"
