// The serial monitor's logic without a window: the received text (time stamps, line ends,
// characters split between reads, the line length bound), the line ends sent, the monitor
// protocol of the sketch build tools as a table of exchanges, and the connection to a data port
// (served here by a plain TCP server).
#include "monitorconnection.h"
#include "monitorlog.h"
#include "monitortext.h"
#include "pluggablemonitor.h"
#include "testfiles.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <thread>

using monitor::MonitorConnection;
using State = MonitorConnection::State;
Q_DECLARE_METATYPE(monitor::LineEnd)

namespace {

const QTime Noon(12, 0, 1, 5);

// The bridge of the exchange table: OPEN succeeds unless the port is "10.0.0.99".
class TableBridge : public monitor::PluggableMonitor::Bridge
{
public:
    QString open(const QString &client, const QString &port) override
    {
        calls << QStringLiteral("open %1 %2").arg(client, port);
        return port == QLatin1String("10.0.0.99") ? QStringLiteral("cannot reach the data port") : QString();
    }
    void close() override { calls << QStringLiteral("close"); }
    QStringList calls;
};

} // namespace

class tst_MonitorLogic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<State>(); }
    void receivedText_data();
    void receivedText();
    void lineToSend_data();
    void lineToSend();
    void protocolExchanges_data();
    void protocolExchanges();
    void connectionLifecycle();
    void logFollowsWrites();
    void logFailureReportedOnce_data();
    void logFailureReportedOnce();
};

void tst_MonitorLogic::receivedText_data()
{
    QTest::addColumn<bool>("timestamps");
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("stamped"); // what the command line prints with --timestamps

    const QString stamp = QStringLiteral("12:00:01.005 -> ");
    QTest::newRow("lines pass, CR dropped") << false << QList<QByteArray>{"a\r\nb\n"} << "a\nb\n"
                                            << QByteArray("12:00:01.005 -> a\r\n12:00:01.005 -> b\n");
    QTest::newRow("stamp once per line across reads") << true << QList<QByteArray>{"ab", "c\nd"}
                                                      << stamp + "abc\n" + stamp + "d"
                                                      << QByteArray("12:00:01.005 -> abc\n12:00:01.005 -> d");
    QTest::newRow("character split between reads") << false << QList<QByteArray>{"\xc3", "\xa9!"}
                                                   << QString::fromUtf8("\xc3\xa9!")
                                                   << QByteArray("12:00:01.005 -> \xc3\xa9!");
    QTest::newRow("CR LF split between reads") << false << QList<QByteArray>{"x\r", "\ny"} << "x\ny"
                                               << QByteArray("12:00:01.005 -> x\r\n12:00:01.005 -> y");
    const int max = monitor::TextFeed::MaxLineChars;
    QTest::newRow("endless line broken") << false << QList<QByteArray>{QByteArray(max + 5, 'z')}
                                         << QString(max, 'z') + "\n" + QString(5, 'z')
                                         << "12:00:01.005 -> " + QByteArray(max + 5, 'z');
}

void tst_MonitorLogic::receivedText()
{
    QFETCH(bool, timestamps);
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QString, shown);
    QFETCH(QByteArray, stamped);
    monitor::TextFeed feed;
    feed.setTimestamps(timestamps);
    monitor::LineStamper stamper;
    QString text;
    QByteArray printed;
    for (const QByteArray &read : reads) {
        text += feed.take(read, Noon);
        printed += stamper.stamp(read, Noon);
    }
    QCOMPARE(text, shown);
    QCOMPARE(printed, stamped);
}

void tst_MonitorLogic::lineToSend_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("lf") << "lf" << QByteArray("h\xc3\xa9\n");
    QTest::newRow("cr") << "cr" << QByteArray("h\xc3\xa9\r");
    QTest::newRow("crlf") << "crlf" << QByteArray("h\xc3\xa9\r\n");
    QTest::newRow("none") << "none" << QByteArray("h\xc3\xa9");
    QTest::newRow("unknown name") << "LF" << QByteArray();
}

void tst_MonitorLogic::lineToSend()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, sent);
    monitor::LineEnd end = monitor::LineEnd::None;
    QCOMPARE(monitor::parseLineEnd(name, &end), !sent.isEmpty());
    if (!sent.isEmpty())
        QCOMPARE(monitor::lineToSend(QString::fromUtf8("h\xc3\xa9"), end), sent);
}

void tst_MonitorLogic::protocolExchanges_data()
{
    // Each row: lines in, and per line the reply, then the bridge calls made.
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::addColumn<QStringList>("calls");

    const QByteArray hello = R"(HELLO 1 "arduino-cli 1.5.1")";
    const QByteArray helloOk = R"({"eventType":"hello","message":"OK","protocolVersion":1})";
    const QByteArray describe =
        R"({"eventType":"describe","message":"OK","port_description":{"configuration_parameters":)"
        R"({"baudrate":{"label":"Baudrate","selected":"115200","type":"enum","value":["115200"]}},)"
        R"("protocol":"network"}})";
    QTest::newRow("the client's whole session")
        << QList<QByteArray>{hello, "DESCRIBE", "CONFIGURE baudrate 115200", "OPEN 127.0.0.1:32123 10.0.0.5",
                             "CLOSE", "QUIT"}
        << QList<QByteArray>{helloOk, describe, R"({"eventType":"configure","message":"OK"})",
                             R"({"eventType":"open","message":"OK"})", R"({"eventType":"close","message":"OK"})",
                             R"({"eventType":"quit","message":"OK"})"}
        << QStringList{"open 127.0.0.1:32123 10.0.0.5", "close"};
    QTest::newRow("before HELLO; a version of 0; a second HELLO")
        << QList<QByteArray>{"DESCRIBE", "HELLO 0 \"x\"", "hello 2 \"x\"", hello, ""}
        << QList<QByteArray>{R"({"error":true,"eventType":"command_error","message":"First command must be HELLO"})",
                             R"({"error":true,"eventType":"hello","message":"Invalid HELLO command: expected a protocol version of 1 or more"})",
                             helloOk, R"({"error":true,"eventType":"hello","message":"HELLO already received"})", ""}
        << QStringList{};
    QTest::newRow("fixed line speed, unknown setting, unknown command")
        << QList<QByteArray>{hello, "CONFIGURE baudrate 9600", "CONFIGURE parity even", "CONFIGURE baudrate", "FOO"}
        << QList<QByteArray>{helloOk,
                             R"j({"error":true,"eventType":"configure","message":"invalid value for parameter baudrate: 9600 (the module's line speed is fixed at 115200)"})j",
                             R"({"error":true,"eventType":"configure","message":"unknown parameter parity"})",
                             R"({"error":true,"eventType":"configure","message":"Invalid CONFIGURE command: expected a name and a value"})",
                             R"({"error":true,"eventType":"command_error","message":"Unknown command FOO"})"}
        << QStringList{};
    QTest::newRow("open twice, close twice, a port that fails, QUIT closes")
        << QList<QByteArray>{hello, "OPEN 127.0.0.1:1 10.0.0.99", "CLOSE", "OPEN 127.0.0.1:1 10.0.0.5",
                             "OPEN 127.0.0.1:1 10.0.0.5", "OPEN 127.0.0.1:1", "QUIT"}
        << QList<QByteArray>{helloOk, R"({"error":true,"eventType":"open","message":"cannot reach the data port"})",
                             R"({"error":true,"eventType":"close","message":"port already closed"})",
                             R"({"eventType":"open","message":"OK"})",
                             R"({"error":true,"eventType":"open","message":"port already opened"})",
                             R"({"error":true,"eventType":"open","message":"port already opened"})",
                             R"({"eventType":"quit","message":"OK"})"}
        << QStringList{"open 127.0.0.1:1 10.0.0.99", "open 127.0.0.1:1 10.0.0.5", "close"};
}

void tst_MonitorLogic::protocolExchanges()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QList<QByteArray>, replies);
    QFETCH(QStringList, calls);
    TableBridge bridge;
    monitor::PluggableMonitor protocol(&bridge);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(protocol.handle(lines.at(i)), replies.at(i));
    QCOMPARE(bridge.calls, calls);
    QCOMPARE(protocol.quitRequested(), lines.last() == "QUIT");
}

// Connects, passes bytes both ways, lets go with a half-close that the module answers by
// closing (the module runs on a thread of its own, as it would in a process of its own), connects
// again on resume, and after the module drops the link tries again until it is back.
void tst_MonitorLogic::connectionLifecycle()
{
    QTcpServer module;
    QVERIFY(module.listen(QHostAddress::LocalHost));
    module.moveToThread(nullptr);
    QByteArray typed;
    bool endSeen = false;
    std::thread moduleThread([&] {
        module.moveToThread(QThread::currentThread());
        if (!module.waitForNewConnection(5000))
            return;
        std::unique_ptr<QTcpSocket> peer(module.nextPendingConnection());
        peer->write("hello");
        while (!typed.endsWith('\n') && peer->waitForReadyRead(5000))
            typed += peer->readAll();
        // The half-close reads as the end of the stream; the module then closes its side.
        while (peer->state() == QAbstractSocket::ConnectedState)
            peer->waitForReadyRead(5000);
        endSeen = true;
        // The next connection is dropped at once, as a module that loses its link.
        if (module.waitForNewConnection(5000))
            std::unique_ptr<QTcpSocket>(module.nextPendingConnection())->abort();
        module.waitForNewConnection(5000);
        module.moveToThread(nullptr);
    });
    MonitorConnection link(QStringLiteral("127.0.0.1"), module.serverPort(), {3000, 50, 5000});
    QSignalSpy states(&link, &MonitorConnection::stateChanged);
    QSignalSpy received(&link, &MonitorConnection::received);
    link.open();
    QVERIFY(received.wait());
    QCOMPARE(link.state(), State::Connected);
    QCOMPARE(received.first().first().toByteArray(), QByteArray("hello"));
    QVERIFY(link.send("typed\n"));

    QElapsedTimer clock;
    clock.start();
    link.release(); // the typed line goes out before the end of the stream

    QVERIFY2(clock.elapsed() < 4000, "the module's close ended the release, not the release wait");
    QCOMPARE(link.state(), State::Released);
    QVERIFY(!link.send("x"));

    states.clear();
    link.resume();
    QTRY_VERIFY(states.size() >= 2); // connected, then dropped
    QCOMPARE(states.at(1).at(0).value<State>(), State::Connected);
    QTRY_COMPARE(link.state(), State::Waiting);
    QVERIFY(!states.last().at(1).toString().isEmpty());
    QTRY_COMPARE(link.state(), State::Connected); // tried again a moment later
    QVERIFY(link.everConnected());
    link.close();
    moduleThread.join();
    QCOMPARE(typed, QByteArray("typed\n"));
    QVERIFY(endSeen);
}

// The file holds every write at once, in order, and starts afresh.
void tst_MonitorLogic::logFollowsWrites()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("monitor.log");
    QVERIFY(writeFile(path, "an older log\n"));
    monitor::MonitorLog log;
    QString error;
    QVERIFY(log.start(path, &error));
    log.write(QByteArray("12:00:00.000 -> hello "));
    QCOMPARE(readFile(path), QByteArray("12:00:00.000 -> hello "));
    log.write(QStringLiteral("w\u00f6rld\n"));
    QCOMPARE(readFile(path), QByteArray("12:00:00.000 -> hello w\xc3\xb6rld\n"));
    log.stop();
    log.write(QByteArray("after the stop"));
    QCOMPARE(readFile(path).size(), 29);
}

void tst_MonitorLogic::logFailureReportedOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("starts");
    QTest::newRow("a directory") << QDir::tempPath() << false;
    QTest::newRow("a full disk") << QStringLiteral("/dev/full") << true;
}

// A file that cannot be written: said once, and nothing more is tried.
void tst_MonitorLogic::logFailureReportedOnce()
{
    QFETCH(QString, path);
    QFETCH(bool, starts);
    monitor::MonitorLog log;
    QSignalSpy failed(&log, &monitor::MonitorLog::failed);
    QString error;
    QCOMPARE(log.start(path, &error), starts);
    for (int i = 0; i < 3; ++i)
        log.write(QByteArray("line\n"));
    QCOMPARE(failed.size() + (starts ? 0 : 1), 1);
    const QString message = starts ? failed.first().first().toString() : error;
    QVERIFY2(message.startsWith(QStringLiteral("cannot write the log file %1: ").arg(path)), qPrintable(message));
    QVERIFY(!log.running());

    QVERIFY(!monitor::saveText(path, QStringLiteral("shown"), &error));
    QVERIFY2(error.startsWith(QStringLiteral("cannot save to %1: ").arg(path)), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_MonitorLogic)
#include "tst_monitorlogic.moc"
