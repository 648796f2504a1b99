#include "datapipe.h"
#include "uploadpeer.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using upload::DataPipe;

// The data pipe's asynchronous side, as a window uses it on its own thread; its blocking side
// carries every upload (tst_thread, tst_stk500v1, tst_stk500v2).
class tst_DataPipe : public QObject
{
    Q_OBJECT

private slots:
    void bytesBothWays();
    void refusedConnectionCloses();
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

QTEST_GUILESS_MAIN(tst_DataPipe)
#include "tst_datapipe.moc"
