// The serial monitor in the terminal and for the sketch build tools, end to end: quarnel-cli
// against a simulated UNO whose real bootloader started a program that prints and echoes.
#include "cliprocess.h"
#include "simprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>

namespace {

const int ConnectWaitMs = 3000; // the monitor's connect wait

QStringList echoBoard(const QString &ip)
{
    return {"--ip", ip, "--board", "UNO", "--announce-ms", "0", "--app", avrPath("serialecho.hex")};
}

// The next JSON line the monitor process writes, within 10 s.
QJsonObject nextReply(QProcess &process)
{
    QElapsedTimer clock;
    clock.start();
    while (!process.canReadLine() && clock.elapsed() < 10000)
        process.waitForReadyRead(100);
    return QJsonDocument::fromJson(process.readLine()).object();
}

// The message of the tool's reply to a command line.
QString replyTo(QProcess &tool, const QByteArray &line)
{
    tool.write(line + '\n');
    return nextReply(tool).value("message").toString();
}

} // namespace

class tst_Monitor : public QObject
{
    Q_OBJECT

private slots:
    void terminalShowsOutputAndEcho();
    void uploadWhileMonitorHoldsPort();
    void unreachableModule();
    void pluggableMonitorBridges();
    void uploadBetweenCloseAndOpen();
};

// What a user does first: a monitor on a board that prints; a typed line comes back; the log
// file gets what the terminal got.
void tst_Monitor::terminalShowsOutputAndEcho()
{
    SimProcess sim;
    QVERIFY2(sim.start(echoBoard("127.0.0.201")), qPrintable(sim.errorText()));
    QTemporaryDir dir;
    const QString logPath = dir.filePath("monitor.log");
    QProcess monitor;
    startCli(monitor, {"monitor", "--ip", "127.0.0.201", "--data-port", QString::number(sim.dataPort()), "--seconds",
                       "3", "--eol", "crlf", "--timestamps", "--log", logPath});
    monitor.write("hello board\n");
    monitor.closeWriteChannel(); // the end of the input does not end the monitor
    const CliRun run = finishCli(monitor, 20000);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QVERIFY2(run.out.contains(" -> hello board\r\n"), run.printed().constData());
    QVERIFY2(QRegularExpression("(^|\n)\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d -> tick \\d+\r\n").match(QString::fromLatin1(run.out)).hasMatch(),
             run.printed().constData());
    QCOMPARE(readFile(logPath), run.out);
}

// An upload from another program while a monitor holds the data port fails at once and says the
// port is busy; once the monitor ends, the same upload goes through.
void tst_Monitor::uploadWhileMonitorHoldsPort()
{
    SimProcess sim;
    // A person's upload comes long after the monitor ended; this one comes at once, so the module
    // listens again at once too (the hand-over within a moment is the window's, tst_monitorwindow).
    QVERIFY2(sim.start(echoBoard("127.0.0.202") << "--relisten-ms" << "0"), qPrintable(sim.errorText()));
    const QString dataPort = QString::number(sim.dataPort());
    const QStringList upload{"upload", "--ip", "127.0.0.202", "--board", "UNO", "--data-port", dataPort,
                             "--at-port", QString::number(sim.atPort()), avrPath("blink_uno.hex")};
    QProcess monitor;
    startCli(monitor, {"monitor", "--ip", "127.0.0.202", "--data-port", dataPort, "--seconds", "60"});
    QByteArray shown;
    QTRY_VERIFY_WITH_TIMEOUT((shown += monitor.readAllStandardOutput()).contains("tick"), 10000);

    QElapsedTimer clock;
    clock.start();
    const CliRun refused = runCli(upload);
    QCOMPARE(refused.exitCode, 3);
    QVERIFY(clock.elapsed() < ConnectWaitMs + 2000);
    QVERIFY2(refused.err.contains("not busy: it serves one client at a time"), refused.printed().constData());
    QCOMPARE(sim.pagesWritten(), 0);

    ::kill(pid_t(monitor.processId()), SIGINT); // Ctrl-C
    const CliRun ended = finishCli(monitor);
    QCOMPARE(ended.exitCode, 130);
    const CliRun written = runCli(upload);
    QVERIFY2(written.exitCode == 0, written.printed().constData());
    const QByteArray image = readFile(avrPath("blink_uno.bin"));
    QCOMPARE(sim.flash().left(image.size()), image);
}

void tst_Monitor::unreachableModule()
{
    QTcpServer closed; // a port that was free a moment ago refuses connections
    QVERIFY(closed.listen(QHostAddress("127.0.0.203")));
    const quint16 port = closed.serverPort();
    closed.close();
    const CliRun run = runCli({"monitor", "--ip", "127.0.0.203", "--data-port", QString::number(port)}, QString(), {},
                              ConnectWaitMs + 5000);
    QVERIFY2(run.finished && run.exitCode == 3, run.printed().constData());
    QVERIFY2(run.lastErrorLine().contains("cannot reach the data port"), run.printed().constData());
}

// As arduino-cli does it: HELLO, DESCRIBE, CONFIGURE, then OPEN towards its own listening
// socket; the board's output arrives there and what it writes reaches the board.
void tst_Monitor::pluggableMonitorBridges()
{
    SimProcess sim;
    QVERIFY2(sim.start(echoBoard("127.0.0.204")), qPrintable(sim.errorText()));
    QTcpServer client;
    QVERIFY(client.listen(QHostAddress::LocalHost));
    QProcess tool;
    startCli(tool, {"pluggable-monitor"});
    const auto command = [&tool](const QByteArray &line) {
        tool.write(line + '\n');
        return nextReply(tool);
    };
    QCOMPARE(command(R"(HELLO 1 "arduino-cli 1.5.1")").value("protocolVersion").toInt(), 1);
    QCOMPARE(command("DESCRIBE").value("port_description").toObject().value("protocol").toString(),
             QStringLiteral("network"));
    QCOMPARE(command("CONFIGURE baudrate 115200").value("message").toString(), QStringLiteral("OK"));
    const QByteArray open = "OPEN 127.0.0.1:" + QByteArray::number(client.serverPort()) + " 127.0.0.204:"
                            + QByteArray::number(sim.dataPort());
    const QJsonObject opened = command(open);
    QVERIFY2(opened.value("message").toString() == "OK", QJsonDocument(opened).toJson().constData());
    QVERIFY(client.waitForNewConnection(5000));
    QTcpSocket *stream = client.nextPendingConnection();
    QByteArray seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += stream->readAll()).contains("tick"), 5000);
    stream->write("ping\n");
    QTRY_VERIFY_WITH_TIMEOUT((seen += stream->readAll()).contains("ping\n"), 5000);

    // The client drops its end: the tool says so unprompted; CLOSE then finds the port closed.
    stream->abort();
    QCOMPARE(nextReply(tool).value("eventType").toString(), QStringLiteral("port_closed"));
    QCOMPARE(command("CLOSE").value("message").toString(), QStringLiteral("port already closed"));
    QCOMPARE(command("QUIT").value("eventType").toString(), QStringLiteral("quit"));
    QVERIFY(tool.waitForFinished(5000));
    QCOMPARE(tool.exitCode(), 0);
}

// As the IDE does it: its monitor shows a printing board, gets CLOSE, runs an upload at once in
// another process, then OPENs again; the module listens again only a moment after each client.
void tst_Monitor::uploadBetweenCloseAndOpen()
{
    SimProcess sim;
    QVERIFY2(sim.start(echoBoard("127.0.0.205") << "--relisten-ms" << "150"), qPrintable(sim.errorText()));
    QProcess tool;
    startCli(tool, {"pluggable-monitor"});
    QCOMPARE(replyTo(tool, R"(HELLO 1 "arduino-cli 1.5.1")"), QStringLiteral("OK"));
    QTcpServer client;
    QVERIFY(client.listen(QHostAddress::LocalHost));
    const QByteArray open = "OPEN 127.0.0.1:" + QByteArray::number(client.serverPort()) + " 127.0.0.205:"
                            + QByteArray::number(sim.dataPort());
    QCOMPARE(replyTo(tool, open), QStringLiteral("OK"));
    QVERIFY(client.waitForNewConnection(5000));
    QTcpSocket *stream = client.nextPendingConnection();
    QByteArray seen;
    QTRY_VERIFY_WITH_TIMEOUT((seen += stream->readAll()).contains("tick"), 5000);
    QCOMPARE(replyTo(tool, "CLOSE"), QStringLiteral("OK"));

    const CliRun upload = runCli({"upload", "--ip", "127.0.0.205", "--board", "UNO", "--data-port",
                                  QString::number(sim.dataPort()), "--at-port", QString::number(sim.atPort()),
                                  avrPath("serialflood.hex")});
    QVERIFY2(upload.exitCode == 0, upload.printed().constData());
    const QByteArray image = readFile(avrPath("serialflood.bin"));
    QCOMPARE(sim.flash().left(image.size()), image);

    QCOMPARE(replyTo(tool, open), QStringLiteral("OK"));
    QVERIFY(client.waitForNewConnection(5000));
    stream = client.nextPendingConnection();
    seen.clear();
    QTRY_VERIFY_WITH_TIMEOUT((seen += stream->readAll()).contains("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ."),
                             5000);
    QCOMPARE(replyTo(tool, "QUIT"), QStringLiteral("OK"));
    QVERIFY(tool.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(tst_Monitor)
#include "tst_monitor.moc"
