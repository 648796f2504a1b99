// quarnel-sim as a running program: AT replies, announcements, --count, --board none, and every
// fault option, seen from the network as a host sees the module. Boards run Optiboot (UNO).
#include "floodlines.h"
#include "simprocess.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <memory>

#include <csignal>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

namespace {

const int IoMs = 5000;
const int AtAnswerMs = 1000;       // how long a host waits for an AT answer
const int SilenceMs = 1000;        // how long a test listens for bytes that must not come
const int ConnectAttemptMs = 1000; // a connection the module never answers is given up after this
const int UnoPageBytes = 128;
const char StkInsync = 0x14;
const char StkOk = 0x10;
const QByteArray StkReply = QByteArray() + StkInsync + StkOk;
const QByteArray StkGetSync = QByteArrayLiteral("0 ");
const int ModulePacketBytes = 1024; // the module sends a full packet without waiting for quiet
const int QuietLineMs = 150;        // the line counts as quiet after this long without a byte

// Reads until `expected` bytes have come or the time is up; counts the reads that brought bytes.
QByteArray readAtLeast(QTcpSocket &socket, int expected, int timeoutMs, int *reads = nullptr)
{
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (received.size() < expected && clock.elapsed() < timeoutMs) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(timeoutMs - clock.elapsed())))
            break;
        const QByteArray piece = socket.readAll();
        if (!piece.isEmpty() && reads)
            ++*reads;
        received += piece;
    }
    return received;
}

QByteArray exchange(QTcpSocket &socket, const QByteArray &request, int expected, int *reads = nullptr)
{
    socket.write(request);
    socket.flush();
    return readAtLeast(socket, expected, IoMs, reads);
}

bool connectTo(QTcpSocket &socket, const QHostAddress &ip, quint16 port, int timeoutMs = IoMs)
{
    socket.connectToHost(ip, port);
    return socket.waitForConnected(timeoutMs);
}

QByteArray page(int seed)
{
    QByteArray bytes(UnoPageBytes, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((seed * 31 + i * 7) & 0xFF);
    return bytes;
}

QByteArray loadAddress(int wordAddress)
{
    return QByteArray("U") + char(wordAddress & 0xFF) + char(wordAddress >> 8) + ' ';
}

QByteArray programPage(const QByteArray &bytes)
{
    return QByteArray("d") + char(0) + char(bytes.size()) + 'F' + bytes + ' ';
}

// A module with its two connections, switched into upload mode as a host does it: data port
// first, then the AT port, then the two AT commands, each answered.
struct UploadSession
{
    QTcpSocket data;
    QTcpSocket at;

    bool open(SimProcess &sim, const char *target, QString *why)
    {
        if (!connectTo(data, sim.ip(), sim.dataPort()) || !connectTo(at, sim.ip(), sim.atPort())) {
            *why = QStringLiteral("connect: %1 / %2").arg(data.errorString(), at.errorString());
            return false;
        }
        const QByteArray client = exchange(at, "AT+U2W=CLIENT\r\n", 4);
        const QByteArray update = exchange(at, QByteArray("AT+MCUUPDATE=") + target, 4);
        if (client != "OK\r\n" || update != "OK\r\n") {
            *why = QStringLiteral("AT answers %1 and %2").arg(QString::fromLatin1(client.toHex()),
                                                                  QString::fromLatin1(update.toHex()));
            return false;
        }
        return true;
    }
};

// The error of one connection attempt; UnknownSocketError when it connected.
QAbstractSocket::SocketError connectError(const QHostAddress &ip, quint16 port)
{
    QTcpSocket socket;
    return connectTo(socket, ip, port, ConnectAttemptMs) ? QAbstractSocket::UnknownSocketError : socket.error();
}

// Tries to connect until an attempt ends with `wanted` or the time is up; the last attempt's
// error. Each attempt changes the module (a connection it accepts makes it stop listening), so
// this cannot be a QTRY expression, which evaluates once more at the end.
QAbstractSocket::SocketError firstConnectError(const QHostAddress &ip, quint16 port,
                                               QAbstractSocket::SocketError wanted)
{
    QElapsedTimer clock;
    clock.start();
    QAbstractSocket::SocketError error = connectError(ip, port);
    while (error != wanted && clock.elapsed() < IoMs) {
        QTest::qWait(20);
        error = connectError(ip, port);
    }
    return error;
}

// Connects, retrying while the port refuses (a module listens again only a while after its last
// client left); false when the time is up or another error came.
bool connectWhenListening(QTcpSocket &socket, const QHostAddress &ip, quint16 port)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < IoMs) {
        if (connectTo(socket, ip, port))
            return true;
        if (socket.error() != QAbstractSocket::ConnectionRefusedError)
            return false;
        socket.abort();
        QTest::qWait(10);
    }
    return false;
}

// Reads until nothing has come for QuietLineMs; what came.
QByteArray readUntilQuiet(QTcpSocket &socket)
{
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < IoMs && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(QuietLineMs)))
        received += socket.readAll();
    return received;
}

QStringList floodApplication()
{
    return {QStringLiteral("--app"), avrPath(QStringLiteral("serialflood.hex"))};
}

QJsonObject waitForAnnouncement(QUdpSocket &socket, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(int(timeoutMs - clock.elapsed())))
            break;
        while (socket.hasPendingDatagrams()) {
            QByteArray datagram(int(socket.pendingDatagramSize()), '\0');
            socket.readDatagram(datagram.data(), datagram.size());
            return QJsonDocument::fromJson(datagram).object();
        }
    }
    return QJsonObject();
}

QStringList targetArguments(const QUdpSocket &receiver)
{
    return {QStringLiteral("--target"), QStringLiteral("127.0.0.1:%1").arg(receiver.localPort())};
}

} // namespace

class tst_SimModule : public QObject
{
    Q_OBJECT

private slots:
    void atReplies_data();
    void atReplies();
    void atReplyFaults_data();
    void atReplyFaults();
    void hostnameChange_data();
    void hostnameChange();
    void announceInterval_data();
    void announceInterval();
    void manyModules_data();
    void manyModules();
    void boardNone();
    void connectionFaults_data();
    void connectionFaults();
    void oneClientAtATime_data();
    void oneClientAtATime();
    void relisten_data();
    void relisten();
    void wiredLine();
    void resetKeepsLine_data();
    void resetKeepsLine();
    void splitReplies_data();
    void splitReplies();
    void extraByte_data();
    void extraByte();
    void delay();
    void dropAfterPages();
    void flipAddress();
    void receiverOverrun_data();
    void receiverOverrun();
    void flashOutOnClose();
    void stopSignals_data();
    void stopSignals();
    void badStart_data();
    void badStart();
};

void tst_SimModule::atReplies_data()
{
    QTest::addColumn<QStringList>("board");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");

    const QStringList none{"--board", "none"};
    QTest::newRow("client mode") << none << QByteArray("AT+U2W=CLIENT\r\n") << QByteArray("OK\r\n");
    QTest::newRow("update MEGA, no line end") << none << QByteArray("AT+MCUUPDATE=MEGA") << QByteArray("OK\r\n");
    QTest::newRow("update UNO, no line end") << none << QByteArray("AT+MCUUPDATE=UNO") << QByteArray("OK\r\n");
    QTest::newRow("update with a board") << QStringList{"--board", "UNO"} << QByteArray("AT+MCUUPDATE=UNO")
                                         << QByteArray("OK\r\n");
    QTest::newRow("host name") << none << QByteArray("AT+HOSTNAME=lab") << QByteArray("OK\r\n");
    QTest::newRow("two commands in one write") << none << QByteArray("AT+U2W=CLIENT\r\nAT+MCUUPDATE=MEGA")
                                               << QByteArray("OK\r\nOK\r\n");
    QTest::newRow("unknown command") << none << QByteArray("AT+RST\r\n") << QByteArray("ERROR\r\n");
    QTest::newRow("empty host name") << none << QByteArray("AT+HOSTNAME=") << QByteArray("ERROR\r\n");
}

void tst_SimModule::atReplies()
{
    QFETCH(QStringList, board);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", "127.0.0.40", "--announce-ms", "0"} + board), qPrintable(sim.errorText()));
    QTcpSocket at;
    QVERIFY(connectTo(at, sim.ip(), sim.atPort()));
    QCOMPARE(exchange(at, command, reply.size()), reply);
    QVERIFY(!at.waitForReadyRead(100) || at.readAll().isEmpty());
    QVERIFY(sim.stop());
}

void tst_SimModule::atReplyFaults_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("full") << "full" << QByteArray("OK\r\n");
    QTest::newRow("one byte") << "one" << QByteArray("O");
    QTest::newRow("silent") << "none" << QByteArray();
}

void tst_SimModule::atReplyFaults()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, reply);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.41", "--board", "none", "--announce-ms", "0", "--at-reply", mode}),
             qPrintable(sim.errorText()));
    QTcpSocket at;
    QVERIFY(connectTo(at, sim.ip(), sim.atPort()));
    for (const QByteArray &command : {QByteArray("AT+U2W=CLIENT\r\n"), QByteArray("AT+MCUUPDATE=MEGA")}) {
        at.write(command);
        // Whatever comes within the host's wait is the answer; nothing may follow it.
        QCOMPARE(readAtLeast(at, reply.size() + 1, AtAnswerMs), reply);
    }
}

void tst_SimModule::hostnameChange_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("announced");

    QTest::newRow("new name") << QByteArray("AT+HOSTNAME=after") << QByteArray("OK\r\n") << "after";
    QTest::newRow("new name with CR LF") << QByteArray("AT+HOSTNAME=lab-7\r\n") << QByteArray("OK\r\n") << "lab-7";
    QTest::newRow("Latin-1 name") << QByteArray("AT+HOSTNAME=caf\xE9") << QByteArray("OK\r\n")
                                  << QString::fromLatin1("caf\xE9");
    QTest::newRow("refused name keeps the old") << QByteArray("AT+HOSTNAME=") << QByteArray("ERROR\r\n") << "before";
}

void tst_SimModule::hostnameChange()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    QFETCH(QString, announced);
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", "127.0.0.42", "--board", "none", "--name", "before", "--announce-ms", "200"}
                       + targetArguments(receiver)),
             qPrintable(sim.errorText()));
    const QJsonObject first = waitForAnnouncement(receiver, IoMs);
    QCOMPARE(first.value(QStringLiteral("hostname")).toString(), QStringLiteral("before"));
    QCOMPARE(first.value(QStringLiteral("host ip")).toString(), QStringLiteral("127.0.0.42"));
    QCOMPARE(first.value(QStringLiteral("atcomd port")).toInt(), int(sim.atPort()));
    QCOMPARE(first.value(QStringLiteral("data port")).toInt(), int(sim.dataPort()));

    {
        // As a host renames: a fresh connection, the command alone, one answer, close.
        QTcpSocket at;
        QVERIFY(connectTo(at, sim.ip(), sim.atPort()));
        QCOMPARE(exchange(at, command, reply.size()), reply);
    }
    while (receiver.hasPendingDatagrams()) // announcements sent before the answer
        receiver.receiveDatagram();
    const QJsonObject next = waitForAnnouncement(receiver, IoMs);
    QCOMPARE(next.value(QStringLiteral("hostname")).toString(), announced);
}

void tst_SimModule::announceInterval_data()
{
    QTest::addColumn<int>("intervalMs");

    QTest::newRow("150 ms") << 150;
    QTest::newRow("500 ms") << 500;
}

void tst_SimModule::announceInterval()
{
    QFETCH(int, intervalMs);
    const int intervals = 4;
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", "127.0.0.43", "--board", "none", "--announce-ms",
                                   QString::number(intervalMs)}
                       + targetArguments(receiver)),
             qPrintable(sim.errorText()));
    QVERIFY(!waitForAnnouncement(receiver, IoMs).isEmpty());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < intervals; ++i)
        QVERIFY(!waitForAnnouncement(receiver, IoMs).isEmpty());
    const qint64 mean = clock.elapsed() / intervals;
    QVERIFY2(mean >= intervalMs * 9 / 10 && mean <= intervalMs * 3 / 2,
             qPrintable(QStringLiteral("mean interval %1 ms").arg(mean)));
}

void tst_SimModule::manyModules_data()
{
    QTest::addColumn<int>("count");

    QTest::newRow("one") << 1;
    QTest::newRow("five") << 5;
    QTest::newRow("forty") << 40;
}

void tst_SimModule::manyModules()
{
    QFETCH(int, count);
    QUdpSocket receiver;
    QVERIFY(receiver.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", "127.0.1.2", "--board", "none", "--name", "bench", "--announce-ms", "300",
                                   "--count", QString::number(count)}
                       + targetArguments(receiver)),
             qPrintable(sim.errorText()));
    QCOMPARE(sim.count(), count);
    QMap<QString, QString> names; // address to host name
    QElapsedTimer clock;
    clock.start();
    while (names.size() < count && clock.elapsed() < IoMs) {
        const QJsonObject a = waitForAnnouncement(receiver, IoMs);
        QCOMPARE(a.value(QStringLiteral("atcomd port")).toInt(), int(sim.atPort()));
        names.insert(a.value(QStringLiteral("host ip")).toString(), a.value(QStringLiteral("hostname")).toString());
    }
    QCOMPARE(names.size(), count);
    for (int i = 0; i < count; ++i) {
        const QString expected = count == 1 ? QStringLiteral("bench") : QStringLiteral("bench-%1").arg(i + 1);
        QCOMPARE(names.value(sim.ip(i).toString()), expected);
    }
    QTcpSocket last; // every address serves its own AT port
    QVERIFY(connectTo(last, sim.ip(count - 1), sim.atPort()));
    QCOMPARE(exchange(last, "AT+U2W=CLIENT\r\n", 4), QByteArray("OK\r\n"));
}

void tst_SimModule::boardNone()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.44", "--board", "none", "--announce-ms", "0"}), qPrintable(sim.errorText()));
    QVERIFY2(sim.readyLine().contains(QLatin1String(" board=none ")), qPrintable(sim.readyLine()));
    QTcpSocket data;
    QVERIFY(!connectTo(data, sim.ip(), sim.dataPort()));
    QCOMPARE(data.error(), QAbstractSocket::ConnectionRefusedError);
    QTcpSocket at;
    QVERIFY(connectTo(at, sim.ip(), sim.atPort()));
    QCOMPARE(exchange(at, "AT+MCUUPDATE=UNO", 4), QByteArray("OK\r\n"));
    QCOMPARE(sim.flash(), QByteArray());
    QVERIFY(sim.errorText().contains(QLatin1String("has no board")));
}

void tst_SimModule::connectionFaults_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<bool>("dataPort");
    QTest::addColumn<QAbstractSocket::SocketError>("error");

    QTest::newRow("AT port refused") << QStringList{"--refuse", "at"} << false
                                     << QAbstractSocket::ConnectionRefusedError;
    QTest::newRow("data port refused") << QStringList{"--refuse", "data"} << true
                                       << QAbstractSocket::ConnectionRefusedError;
    QTest::newRow("AT port never answers") << QStringList{"--ignore", "at"} << false
                                           << QAbstractSocket::SocketTimeoutError;
    QTest::newRow("data port never answers") << QStringList{"--ignore", "data"} << true
                                             << QAbstractSocket::SocketTimeoutError;
}

void tst_SimModule::connectionFaults()
{
    QFETCH(QStringList, fault);
    QFETCH(bool, dataPort);
    QFETCH(QAbstractSocket::SocketError, error);
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", "127.0.0.45", "--board", "UNO", "--announce-ms", "0"} + fault),
             qPrintable(sim.errorText()));
    QTcpSocket faulty;
    QVERIFY(!connectTo(faulty, sim.ip(), dataPort ? sim.dataPort() : sim.atPort(), ConnectAttemptMs));
    QCOMPARE(faulty.error(), error);
    QTcpSocket other; // the other port is unaffected
    QVERIFY(connectTo(other, sim.ip(), dataPort ? sim.atPort() : sim.dataPort()));
}

void tst_SimModule::oneClientAtATime_data()
{
    QTest::addColumn<bool>("dataPort");

    QTest::newRow("AT port") << false;
    QTest::newRow("data port") << true;
}

void tst_SimModule::oneClientAtATime()
{
    QFETCH(bool, dataPort);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.46", "--board", "UNO", "--announce-ms", "0"}), qPrintable(sim.errorText()));
    const quint16 port = dataPort ? sim.dataPort() : sim.atPort();
    auto first = std::make_unique<QTcpSocket>();
    QVERIFY(connectTo(*first, sim.ip(), port));
    // The module stops listening once it has accepted the first client (a second client that came
    // in before may be connected and dropped at once).
    QCOMPARE(firstConnectError(sim.ip(), port, QAbstractSocket::ConnectionRefusedError),
             QAbstractSocket::ConnectionRefusedError);
    first->disconnectFromHost();
    first.reset();
    QCOMPARE(firstConnectError(sim.ip(), port, QAbstractSocket::UnknownSocketError), QAbstractSocket::UnknownSocketError);
}

void tst_SimModule::relisten_data()
{
    QTest::addColumn<QStringList>("option");
    QTest::addColumn<int>("relistenMs");

    QTest::newRow("default") << QStringList() << 100;
    QTest::newRow("--relisten-ms 600") << QStringList{"--relisten-ms", "600"} << 600;
}

// A client lets go of the data port and another comes at once, as an upload after a monitor:
// refused until the port listens again.
void tst_SimModule::relisten()
{
    QFETCH(QStringList, option);
    QFETCH(int, relistenMs);
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", "127.0.0.56", "--board", "UNO", "--announce-ms", "0"} + option),
             qPrintable(sim.errorText()));
    auto first = std::make_unique<QTcpSocket>();
    QVERIFY(connectTo(*first, sim.ip(), sim.dataPort()));
    QTRY_VERIFY(sim.hasDataClient());
    first->disconnectFromHost();
    QElapsedTimer left;
    left.start();
    first.reset();
    int refused = 0;
    QAbstractSocket::SocketError error = connectError(sim.ip(), sim.dataPort());
    while (error == QAbstractSocket::ConnectionRefusedError && left.elapsed() < IoMs) {
        ++refused;
        QTest::qWait(10);
        error = connectError(sim.ip(), sim.dataPort());
    }
    QCOMPARE(error, QAbstractSocket::UnknownSocketError);
    QVERIFY(refused > 0);
    QVERIFY2(left.elapsed() >= relistenMs, qPrintable(QStringLiteral("accepted after %1 ms").arg(left.elapsed())));
}

// The board prints from power-on: a client hears it without any AT command; what the board sends
// while no client is connected is lost, not kept for the next client.
void tst_SimModule::wiredLine()
{
    const int heardLines = 10;
    const int awayMs = 1000;
    // The first client drops what its socket still holds (up to a packet); a module that kept
    // the output would start the next client at most that far on.
    const int minimumLostLines = 3 * ModulePacketBytes / FloodLineBytes;
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", "127.0.0.57", "--board", "UNO", "--announce-ms", "0", "--relisten-ms",
                                   QString::number(awayMs)}
                       + floodApplication()),
             qPrintable(sim.errorText()));
    qint64 first = 0;
    int lines = 0;
    {
        QTcpSocket data;
        QVERIFY(connectTo(data, sim.ip(), sim.dataPort()));
        const QByteArray heard = readAtLeast(data, heardLines * FloodLineBytes, IoMs);
        QVERIFY2(floodRunUnbroken(heard, &first, &lines), heard.left(FloodLineBytes).constData());
    }
    const qint64 lastHeard = first + lines - 1;
    QTcpSocket again;
    QVERIFY(connectWhenListening(again, sim.ip(), sim.dataPort()));
    const QByteArray heard = readAtLeast(again, 2 * FloodLineBytes, IoMs);
    QVERIFY2(floodRunUnbroken(heard, &first), heard.left(FloodLineBytes).constData());
    QVERIFY2(first - lastHeard > minimumLostLines,
             qPrintable(QStringLiteral("line %1 last heard, line %2 next").arg(lastHeard).arg(first)));
}

void tst_SimModule::resetKeepsLine_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("answerFirst");

    QTest::newRow("reset, then the answer") << 0 << false;
    QTest::newRow("reset, then the answer; 200 ms latency") << 200 << false;
    QTest::newRow("the answer, then the reset") << 0 << true;
}

// In the order of an upload into a printing board: the data port is open while the application
// prints, then the reset, then the sync. The reset leaves the line alone: every byte the
// application sent arrives, then the bootloader's answer and nothing else.
void tst_SimModule::resetKeepsLine()
{
    QFETCH(int, delayMs);
    QFETCH(bool, answerFirst);
    SimProcess sim;
    QStringList arguments{"--ip", "127.0.0.58", "--board", "UNO", "--announce-ms", "0", "--delay-ms",
                          QString::number(delayMs)};
    if (answerFirst)
        arguments << "--answer-before-reset";
    QVERIFY2(sim.start(arguments + floodApplication()), qPrintable(sim.errorText()));
    QTcpSocket data;
    QVERIFY(connectTo(data, sim.ip(), sim.dataPort()));
    QByteArray beforeReset = readAtLeast(data, 2 * FloodLineBytes, IoMs);
    QTcpSocket at;
    QVERIFY(connectTo(at, sim.ip(), sim.atPort()));
    QCOMPARE(exchange(at, "AT+U2W=CLIENT\r\n", 4), QByteArray("OK\r\n"));
    beforeReset += data.readAll();

    at.write("AT+MCUUPDATE=UNO");
    QByteArray afterWrite;
    QByteArray afterAnswer;
    QByteArray answer;
    connect(&data, &QTcpSocket::readyRead, this, [&] { (answer.isEmpty() ? afterWrite : afterAnswer) += data.readAll(); });
    connect(&at, &QTcpSocket::readyRead, this, [&] { answer += at.readAll(); });
    QTRY_COMPARE_WITH_TIMEOUT(answer, QByteArray("OK\r\n"), IoMs);
    afterAnswer += readUntilQuiet(data);
    data.disconnect(this);

    const QByteArray line = beforeReset + afterWrite + afterAnswer;
    QVERIFY2(floodRunUnbroken(line), line.right(2 * FloodLineBytes).toHex().constData());
    if (delayMs > 0) // what the latency held at the reset: more than a packet
        QVERIFY2(afterWrite.size() + afterAnswer.size() >= ModulePacketBytes,
                 qPrintable(QStringLiteral("%1 bytes after the reset").arg(afterWrite.size() + afterAnswer.size())));
    if (answerFirst) // the application still ran after the answer
        QVERIFY(!afterAnswer.isEmpty());
    QCOMPARE(exchange(data, StkGetSync, 2).toHex(), StkReply.toHex());
}

void tst_SimModule::splitReplies_data()
{
    QTest::addColumn<int>("pieces");
    QTest::addColumn<int>("minimumReads");

    QTest::newRow("whole") << 1 << 1;
    QTest::newRow("four pieces") << 4 << 2;
}

void tst_SimModule::splitReplies()
{
    QFETCH(int, pieces);
    QFETCH(int, minimumReads);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.47", "--board", "UNO", "--announce-ms", "0", "--split-replies",
                        QString::number(pieces)}),
             qPrintable(sim.errorText()));
    UploadSession session;
    QString why;
    QVERIFY2(session.open(sim, "UNO", &why), qPrintable(why));
    QCOMPARE(exchange(session.data, StkGetSync, 2), StkReply);
    // Optiboot's signature answer: INSYNC, three signature bytes, OK.
    int reads = 0;
    const QByteArray signature = exchange(session.data, "u ", 5, &reads);
    QCOMPARE(signature.toHex(), QByteArray("141e950f10"));
    QVERIFY2(reads >= minimumReads, qPrintable(QStringLiteral("%1 reads").arg(reads)));
    if (pieces == 1)
        QCOMPARE(reads, 1);
}

void tst_SimModule::extraByte_data()
{
    QTest::addColumn<int>("reply");

    QTest::newRow("first reply") << 1;
    QTest::newRow("third reply") << 3;
}

void tst_SimModule::extraByte()
{
    QFETCH(int, reply);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.48", "--board", "UNO", "--announce-ms", "0", "--extra-byte",
                        QString::number(reply)}),
             qPrintable(sim.errorText()));
    UploadSession session;
    QString why;
    QVERIFY2(session.open(sim, "UNO", &why), qPrintable(why));
    for (int i = 1; i <= 4; ++i) {
        const QByteArray expected = i == reply ? StkReply + '\0' : StkReply;
        // A stray byte in the wrong reply would show in the following one.
        QCOMPARE(exchange(session.data, StkGetSync, expected.size()).toHex(), expected.toHex());
    }
}

void tst_SimModule::delay()
{
    const int delayMs = 150;
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.49", "--board", "UNO", "--announce-ms", "0", "--delay-ms",
                        QString::number(delayMs)}),
             qPrintable(sim.errorText()));
    UploadSession session;
    QString why;
    QVERIFY2(session.open(sim, "UNO", &why), qPrintable(why));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(exchange(session.data, StkGetSync, 2), StkReply);
    QVERIFY2(clock.elapsed() >= qint64(2) * delayMs, qPrintable(QStringLiteral("round trip %1 ms").arg(clock.elapsed())));
}

void tst_SimModule::dropAfterPages()
{
    const int dropAfter = 2;
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.50", "--board", "UNO", "--announce-ms", "0", "--drop-after-pages",
                        QString::number(dropAfter)}),
             qPrintable(sim.errorText()));
    UploadSession session;
    QString why;
    QVERIFY2(session.open(sim, "UNO", &why), qPrintable(why));
    QCOMPARE(exchange(session.data, StkGetSync, 2), StkReply);
    QSignalSpy closed(&session.data, &QTcpSocket::disconnected);
    for (int i = 0; i < dropAfter; ++i) {
        QCOMPARE(exchange(session.data, loadAddress(i * UnoPageBytes / 2), 2), StkReply);
        session.data.write(programPage(page(i)));
        readAtLeast(session.data, 2, IoMs); // the last page's answer may or may not come before the drop
    }
    QVERIFY(closed.count() == 1 || closed.wait(IoMs));
    QCOMPARE(sim.pagesWritten(), dropAfter);
    QCOMPARE(sim.flash().left(dropAfter * UnoPageBytes), page(0) + page(1));
}

void tst_SimModule::flipAddress()
{
    const int flip = 0x85; // in the second page
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.51", "--board", "UNO", "--announce-ms", "0", "--flip-address",
                        QStringLiteral("0x%1").arg(flip, 0, 16)}),
             qPrintable(sim.errorText()));
    UploadSession session;
    QString why;
    QVERIFY2(session.open(sim, "UNO", &why), qPrintable(why));
    QCOMPARE(exchange(session.data, StkGetSync, 2), StkReply);
    QByteArray written;
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(exchange(session.data, loadAddress(i * UnoPageBytes / 2), 2), StkReply);
        QCOMPARE(exchange(session.data, programPage(page(i)), 2), StkReply);
        written += page(i);
    }
    QByteArray expected = written;
    expected[flip] = char(expected.at(flip) ^ 0xFF);
    QCOMPARE(sim.flash().left(written.size()).toHex(), expected.toHex());
}

void tst_SimModule::receiverOverrun_data()
{
    QTest::addColumn<bool>("forgiving");
    QTest::newRow("real receiver") << false;
    QTest::newRow("--forgiving-uart") << true;
}

void tst_SimModule::receiverOverrun()
{
    QFETCH(bool, forgiving);
    SimProcess sim;
    QStringList arguments{"--ip", "127.0.0.54", "--board", "UNO", "--announce-ms", "0"};
    if (forgiving)
        arguments << "--forgiving-uart";
    QVERIFY2(sim.start(arguments), qPrintable(sim.errorText()));
    UploadSession session;
    QString why;
    QVERIFY2(session.open(sim, "UNO", &why), qPrintable(why));
    QCOMPARE(exchange(session.data, StkGetSync, 2), StkReply);
    QCOMPARE(exchange(session.data, loadAddress(0x40), 2), StkReply);
    // Eight syncs right behind a page: they arrive while Optiboot writes the flash and reads nothing.
    const int syncs = 8;
    session.data.write(programPage(page(5)) + StkGetSync.repeated(syncs));
    const QByteArray replies = readAtLeast(session.data, 2 * (1 + syncs), SilenceMs);
    QCOMPARE(replies == StkReply.repeated(1 + syncs), forgiving);
    QVERIFY2(replies.startsWith(StkReply), replies.toHex().constData());
    session.data.disconnectFromHost();
    // Said once the connection has closed.
    QByteArray diagnostics;
    const auto said = [&] {
        diagnostics += sim.qprocess().readAllStandardError();
        return diagnostics.contains("host bytes lost to data overrun");
    };
    if (!forgiving)
        QTRY_VERIFY(said());
    QVERIFY(sim.stop());
    QVERIFY2(said() != forgiving, diagnostics.constData());
}

void tst_SimModule::flashOutOnClose()
{
    const QString path = QDir(QDir::tempPath()).filePath(QStringLiteral("tst_simmodule-%1.bin").arg(QCoreApplication::applicationPid()));
    QFile::remove(path);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.52", "--board", "UNO", "--announce-ms", "0", "--flash-out", path}),
             qPrintable(sim.errorText()));
    {
        UploadSession session;
        QString why;
        QVERIFY2(session.open(sim, "UNO", &why), qPrintable(why));
        QCOMPARE(exchange(session.data, StkGetSync, 2), StkReply);
        QCOMPARE(exchange(session.data, loadAddress(0), 2), StkReply);
        QCOMPARE(exchange(session.data, programPage(page(5)), 2), StkReply);
        QVERIFY(!QFile::exists(path));
    }
    const QByteArray file = SimProcess::waitForFile(path, qint64(32) * 1024);
    QCOMPARE(file.size(), 32 * 1024);
    QCOMPARE(file.left(UnoPageBytes), page(5));
    QCOMPARE(file, sim.flash());
    QVERIFY(sim.stop());
    QFile::remove(path);
}

void tst_SimModule::stopSignals_data()
{
    QTest::addColumn<int>("signalNumber");

    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

void tst_SimModule::stopSignals()
{
    QFETCH(int, signalNumber);
    const QString path = QDir(QDir::tempPath())
                             .filePath(QStringLiteral("tst_simmodule-stop-%1.bin").arg(QCoreApplication::applicationPid()));
    QFile::remove(path);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.53", "--board", "UNO", "--announce-ms", "0", "--flash-out", path}),
             qPrintable(sim.errorText()));
    QCOMPARE(::kill(pid_t(sim.qprocess().processId()), signalNumber), 0);
    QVERIFY(sim.qprocess().waitForFinished(IoMs));
    QCOMPARE(sim.qprocess().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.qprocess().exitCode(), 0);
    // Stopping writes the flash file too: here the board's bootloader and its idle program.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), qint64(32 * 1024));
    QVERIFY(file.readAll().count(char(0xFF)) < 32 * 1024);
    QFile::remove(path);
}

void tst_SimModule::badStart_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("bad option") << QStringList{"--board", "ZERO"} << "quarnel-sim: --board ZERO: expected";
    QTest::newRow("missing app") << QStringList{"--board", "UNO", "--app", "/nonexistent.hex"}
                                 << "quarnel-sim: /nonexistent.hex: cannot read";
    QTest::newRow("address not on this machine") << QStringList{"--ip", "192.0.2.1", "--board", "none"}
                                                 << "quarnel-sim: cannot listen on 192.0.2.1";
}

void tst_SimModule::badStart()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    SimProcess sim;
    QVERIFY(!sim.start(arguments + QStringList{"--announce-ms", "0"}));
    QVERIFY2(sim.errorText().contains(message), qPrintable(sim.errorText()));
    QVERIFY(!sim.isRunning());
}

QTEST_GUILESS_MAIN(tst_SimModule)
#include "tst_simmodule.moc"
