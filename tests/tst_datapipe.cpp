#include "datapipe.h"
#include "uploadpeer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

using upload::DataPipe;
using upload::Refusal;
Q_DECLARE_METATYPE(upload::Refusal)

namespace {

const int ConnectWaitMs = 2000;

} // namespace

// The data pipe's asynchronous side, as a window uses it on its own thread; its blocking side
// carries every upload (tst_thread, tst_stk500v1, tst_stk500v2). Both connect to a module that
// may refuse while it takes a previous client's close in.
class tst_DataPipe : public QObject
{
    Q_OBJECT

private slots:
    void bytesBothWays();
    void refusedConnectionCloses();
    void refusalWhileThePortChangesHands_data();
    void refusalWhileThePortChangesHands();
};

void tst_DataPipe::bytesBothWays()
{
    QTcpServer board;
    QVERIFY(board.listen(QHostAddress::LocalHost));
    DataPipe pipe;
    QSignalSpy opened(&pipe, &DataPipe::opened);
    QSignalSpy closed(&pipe, &DataPipe::closed);
    QVERIFY(!pipe.write("early"));
    pipe.open(QStringLiteral("127.0.0.1"), board.serverPort());
    QVERIFY(opened.wait());
    QTRY_VERIFY(board.hasPendingConnections());
    QTcpSocket *peer = board.nextPendingConnection();

    QVERIFY(pipe.write("to the board"));
    QByteArray atBoard;
    QTRY_COMPARE((atBoard += peer->readAll()), QByteArray("to the board"));
    QByteArray fromBoard;
    connect(&pipe, &DataPipe::received, this, [&](const QByteArray &bytes) { fromBoard += bytes; });
    peer->write("from the board");
    QTRY_COMPARE(fromBoard, QByteArray("from the board"));

    peer->close();
    QVERIFY(closed.wait());
    QVERIFY(!pipe.write("late"));
}

void tst_DataPipe::refusedConnectionCloses()
{
    DataPipe pipe;
    QSignalSpy opened(&pipe, &DataPipe::opened);
    QSignalSpy closed(&pipe, &DataPipe::closed);
    pipe.open(QStringLiteral("127.0.0.1"), refusedPort());
    QVERIFY(closed.wait());
    QVERIFY(!closed.first().first().toString().isEmpty());
    QCOMPARE(opened.size(), 0);
}

void tst_DataPipe::refusalWhileThePortChangesHands_data()
{
    QTest::addColumn<bool>("blocking"); // an upload's worker; else a monitor's window thread
    QTest::addColumn<Refusal>("refusal");
    QTest::addColumn<int>("listenAfterMs"); // -1: never
    QTest::addColumn<bool>("connects");

    for (const bool blocking : {true, false}) {
        const QByteArray side = blocking ? "blocking, " : "asynchronous, ";
        QTest::newRow(side + "handed over, module listens again after 150 ms")
            << blocking << Refusal::Retried << 150 << true;
        QTest::newRow(side + "handed over, module never listens again: fails after the connect wait")
            << blocking << Refusal::Retried << -1 << false;
        QTest::newRow(side + "no hand-over: a refusal fails at once") << blocking << Refusal::Fails << 150 << false;
    }
}

void tst_DataPipe::refusalWhileThePortChangesHands()
{
    QFETCH(bool, blocking);
    QFETCH(Refusal, refusal);
    QFETCH(int, listenAfterMs);
    QFETCH(bool, connects);

    QTcpServer module;
    const quint16 port = refusedPort();
    QVERIFY(port != 0);
    if (listenAfterMs >= 0)
        QTimer::singleShot(listenAfterMs, &module, [&] { module.listen(QHostAddress::LocalHost, port); });

    QElapsedTimer clock;
    clock.start();
    bool connected = false;
    qint64 endedAfter = 0;
    if (blocking) {
        std::unique_ptr<QThread> worker(QThread::create([&] {
            DataPipe pipe;
            connected = pipe.connectTo(QStringLiteral("127.0.0.1"), port, ConnectWaitMs, refusal);
            endedAfter = clock.elapsed();
        }));
        QSignalSpy finished(worker.get(), &QThread::finished);
        worker->start();
        QVERIFY(finished.wait(ConnectWaitMs + 5000));
    } else {
        DataPipe pipe;
        QSignalSpy opened(&pipe, &DataPipe::opened);
        QSignalSpy closed(&pipe, &DataPipe::closed);
        pipe.open(QStringLiteral("127.0.0.1"), port, {refusal, ConnectWaitMs});
        QTRY_VERIFY_WITH_TIMEOUT(opened.size() + closed.size() > 0, ConnectWaitMs + 5000);
        endedAfter = clock.elapsed();
        connected = opened.size() == 1;
        QCOMPARE(opened.size() + closed.size(), 1);
    }
    QCOMPARE(connected, connects);
    if (connects)
        QTRY_VERIFY(module.hasPendingConnections());
    else if (refusal == Refusal::Fails)
        QVERIFY2(endedAfter < listenAfterMs, qPrintable(QString::number(endedAfter)));
    else
        QVERIFY2(endedAfter >= ConnectWaitMs - 2 * upload::RefusalRetry::Pause, qPrintable(QString::number(endedAfter)));
}

QTEST_GUILESS_MAIN(tst_DataPipe)
#include "tst_datapipe.moc"
