// quarnel-cli as a script runs it: uploads through simulated modules into the real bootloaders,
// compared byte for byte with the image; a flash corrupted on purpose, caught by --verify only;
// each failure with its exit status and its line; bad input; rename against a scripted port.
// No announcements here: every module runs with --announce-ms 0 and the ports are given.
#include "simprocess.h"
#include "tst_cliprocess.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Failure cases wait a quarter of the product's time for bootloader replies.
const QStringList ShortWaits{QStringLiteral("QUARNEL_TEST_TIMEOUT_SCALE=0.25")};
const int IoMs = 5000;

QStringList uploadArguments(const SimProcess &sim, const QString &board, const QString &hexPath)
{
    return {"upload", "--ip", sim.ip().toString(), "--board", board, "--data-port", QString::number(sim.dataPort()),
            "--at-port", QString::number(sim.atPort()), hexPath};
}

// A port on this address on which nothing listens.
quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void upload_data();
    void upload();
    void verifyCatchesWhatRepliesHide_data();
    void verifyCatchesWhatRepliesHide();
    void uploadFailures_data();
    void uploadFailures();
    void badInput_data();
    void badInput();
    void help_data();
    void help();
    void rename_data();
    void rename();
    void renameUnreachable();
};

void TestCli::upload_data()
{
    QTest::addColumn<QString>("simBoard");
    QTest::addColumn<QString>("board"); // as typed on the command line
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("verify");

    QTest::newRow("UNO") << "UNO" << "UNO" << "blink_uno" << "127.0.0.160" << false;
    QTest::newRow("UNO, verified") << "UNO" << "UNO" << "blink_uno" << "127.0.0.161" << true;
    QTest::newRow("MEGA2560") << "MEGA2560" << "MEGA2560" << "blink_mega" << "127.0.0.162" << false;
    QTest::newRow("MEGA2560, verified, board in lower case") << "MEGA2560" << "mega2560" << "blink_mega" << "127.0.0.163"
                                                             << true;
    QTest::newRow("UNO, nearly full, verified") << "UNO" << "uno" << "full_uno" << "127.0.0.164" << true;
}

void TestCli::upload()
{
    QFETCH(QString, simBoard);
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, ip);
    QFETCH(bool, verify);

    const QByteArray bin = readFile(avrPath(image + ".bin"));
    QVERIFY(!bin.isEmpty());
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", simBoard, "--announce-ms", "0", "--control-port", "0"}),
             qPrintable(sim.errorText()));

    // The window's image in the working directory stays as it is; the tool leaves nothing there.
    QTemporaryDir workDir;
    QFile windowImage(workDir.filePath("update.bin"));
    QVERIFY(windowImage.open(QIODevice::WriteOnly));
    windowImage.write("the window's image");
    windowImage.close();

    QStringList arguments = uploadArguments(sim, board, avrPath(image + ".hex"));
    if (verify)
        arguments.insert(1, "--verify");
    const CliRun run = runCli(arguments, workDir.path());

    QVERIFY2(run.finished, run.printed().constData());
    QVERIFY2(run.exitCode == 0, run.printed().constData());
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.outLines().last(), QStringLiteral("quarnel-cli: %1: upload complete, %2 bytes written%3")
                                        .arg(ip)
                                        .arg(bin.size())
                                        .arg(verify ? " and verified" : "")
                                        .toUtf8());
    // Output to a file: one line per new percentage, rising to 100, then the read-back.
    QList<QByteArray> lines = run.outLines();
    lines.removeLast();
    if (verify)
        QCOMPARE(lines.takeLast(), ip.toUtf8() + ": verifying");
    int previous = -1;
    for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(lines.at(i).startsWith(ip.toUtf8() + ": ") && lines.at(i).endsWith('%'), lines.at(i).constData());
        const int percent = lines.at(i).mid(ip.size() + 2).chopped(1).toInt();
        QVERIFY2(percent > previous, run.out.constData());
        previous = percent;
    }
    QCOMPARE(previous, 100);

    QCOMPARE(sim.flash().left(bin.size()), bin);
    QCOMPARE(readFile(windowImage.fileName()), QByteArray("the window's image"));
    QCOMPARE(QDir(workDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"update.bin"});
    QVERIFY(sim.stop());
}

void TestCli::verifyCatchesWhatRepliesHide_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("flipped");

    QTest::newRow("UNO") << "UNO" << "blink_uno" << "127.0.0.165" << 0x81;
    QTest::newRow("MEGA2560") << "MEGA2560" << "blink_mega" << "127.0.0.166" << 0x102;
}

// The board stores one byte wrong while every reply says OK: without --verify the upload
// counts as done; with it, the tool names the address and fails.
void TestCli::verifyCatchesWhatRepliesHide()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, ip);
    QFETCH(int, flipped);

    const QByteArray bin = readFile(avrPath(image + ".bin"));
    QVERIFY(bin.size() > flipped);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", board, "--announce-ms", "0", "--control-port", "0", "--flip-address",
                        QString::number(flipped)}),
             qPrintable(sim.errorText()));

    const CliRun plain = runCli(uploadArguments(sim, board, avrPath(image + ".hex")));
    QVERIFY2(plain.finished && plain.exitCode == 0, plain.printed().constData());
    QVERIFY(plain.outLines().last().contains("upload complete"));
    const QByteArray flash = sim.flash();
    QCOMPARE(quint8(flash.at(flipped)), quint8(~bin.at(flipped)));
    QCOMPARE(flash.left(flipped), bin.left(flipped));

    QStringList arguments = uploadArguments(sim, board, avrPath(image + ".hex"));
    arguments << "--verify";
    const CliRun verified = runCli(arguments);
    QVERIFY2(verified.finished, verified.printed().constData());
    QCOMPARE(verified.exitCode, 5);
    QVERIFY(!verified.out.contains("upload complete"));
    const QByteArray address = "0x" + QByteArray::number(flipped, 16).rightJustified(5, '0');
    QCOMPARE(verified.lastErrorLine().left(80),
             QByteArray("quarnel-cli: upload to " + ip.toUtf8() + " failed: verify: flash differs from the image at "
                        + address + ";")
                 .left(80));
    QVERIFY2(verified.lastErrorLine().contains(address), verified.printed().constData());
    QVERIFY(sim.stop());
}

void TestCli::uploadFailures_data()
{
    QTest::addColumn<QStringList>("simArguments");
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("failure"); // what the last line says failed
    // Short reply waits only where the failure is a wait running out; elsewhere a loaded machine
    // must not turn a slow bootloader into a different failure.
    QTest::addColumn<bool>("shortWaits");

    QTest::newRow("data port refused") << QStringList{"--ip", "127.0.0.170", "--board", "UNO", "--refuse", "data"}
                                       << "UNO" << "blink_uno" << 3 << "module data port unreachable; check" << false;
    QTest::newRow("AT port refused") << QStringList{"--ip", "127.0.0.171", "--board", "UNO", "--refuse", "at"} << "UNO"
                                     << "blink_uno" << 3 << "module AT-command port unreachable; check" << false;
    QTest::newRow("mode switch unanswered")
        << QStringList{"--ip", "127.0.0.172", "--board", "MEGA2560", "--at-reply", "none"} << "MEGA2560" << "blink_mega"
        << 1 << "module refused the upload mode at AT command 1; check" << false;
    QTest::newRow("mode switch answered with one byte")
        << QStringList{"--ip", "127.0.0.173", "--board", "UNO", "--at-reply", "one"} << "UNO" << "blink_uno" << 1
        << "module refused the upload mode at AT command 1; check" << false;
    QTest::newRow("silent bootloader, a MEGA2560 taken for a UNO")
        << QStringList{"--ip", "127.0.0.174", "--board", "MEGA2560"} << "UNO" << "blink_uno" << 1
        << "bootloader did not answer get sync; check that the board is a UNO (--board)" << true;
    QTest::newRow("silent bootloader, a UNO taken for a zariV3")
        << QStringList{"--ip", "127.0.0.175", "--board", "UNO"} << "zariV3" << "blink_mega" << 1
        << "bootloader did not answer sign-on; check that the board is a zariV3 (--board)" << true;
    // The simulator drops the link as the third page is written, before its reply.
    QTest::newRow("page 2 not acknowledged, STK500v1")
        << QStringList{"--ip", "127.0.0.176", "--board", "UNO", "--drop-after-pages", "3"} << "UNO" << "full_uno" << 1
        << "page 2 not acknowledged (program page); the link dropped" << false;
    QTest::newRow("page 2 not acknowledged, STK500v2")
        << QStringList{"--ip", "127.0.0.177", "--board", "MEGA2560", "--drop-after-pages", "3"} << "MEGA2560"
        << "big_mega" << 1 << "page 2 not acknowledged (program page); the link dropped" << false;
}

void TestCli::uploadFailures()
{
    QFETCH(QStringList, simArguments);
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(int, exitCode);
    QFETCH(QString, failure);
    QFETCH(bool, shortWaits);

    SimProcess sim;
    QVERIFY2(sim.start(simArguments + QStringList{"--announce-ms", "0"}), qPrintable(sim.errorText()));
    const CliRun run = runCli(uploadArguments(sim, board, avrPath(image + ".hex")), QString(),
                              shortWaits ? ShortWaits : QStringList());
    QVERIFY2(run.finished, run.printed().constData());
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(!run.out.contains("upload complete"));
    const QByteArray expected = "quarnel-cli: upload to " + sim.ip().toString().toUtf8() + " failed: " + failure.toUtf8();
    QVERIFY2(run.lastErrorLine().startsWith(expected), run.printed().constData());
    QVERIFY(sim.stop());
}

void TestCli::badInput_data()
{
    QTest::addColumn<QStringList>("arguments"); // %DIR% stands for a directory of test files
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");          // the start of the last line on standard error
    QTest::addColumn<int>("errorLines");        // lines on standard error

    const QStringList upload{"upload", "--ip", "127.0.0.178", "--board", "UNO", "--data-port", "1", "--at-port", "1"};
    QTest::newRow("missing HEX file") << upload + QStringList{"%DIR%/none.hex"} << 4
                                      << "quarnel-cli: HEX file %DIR%/none.hex: no such file; nothing uploaded" << 1;
    QTest::newRow("directory for a HEX file") << upload + QStringList{"%DIR%"} << 4
                                              << "quarnel-cli: HEX file %DIR%: not a regular file" << 1;
    QTest::newRow("wrong checksum") << upload + QStringList{"%DIR%/badsum.hex"} << 4
                                    << "quarnel-cli: HEX file %DIR%/badsum.hex: not a well-formed Intel HEX file" << 2;
    QTest::newRow("cut short") << upload + QStringList{"%DIR%/cut.hex"} << 4
                               << "quarnel-cli: HEX file %DIR%/cut.hex: no end record" << 1;
    QTest::newRow("empty HEX file") << upload + QStringList{"%DIR%/empty.hex"} << 4
                                    << "quarnel-cli: HEX file %DIR%/empty.hex: no end record" << 1;
    QTest::newRow("no command") << QStringList{} << 2 << "quarnel-cli: no command given" << 1;
    QTest::newRow("unknown command") << QStringList{"flash"} << 2 << "quarnel-cli: unknown command \"flash\"" << 1;
    QTest::newRow("unknown board") << QStringList{"upload", "--ip", "127.0.0.2", "--board", "Uno3", "%DIR%/none.hex"}
                                   << 2 << "quarnel-cli: upload: --board Uno3: unknown board" << 1;
    QTest::newRow("name with a line end") << QStringList{"rename", "--ip", "127.0.0.2", "--at-port", "1", "x\nAT+RST"}
                                          << 2 << "quarnel-cli: rename: the name holds a control character" << 1;
}

// Bad input ends at once with its line and status; nothing is sent, nothing on standard output.
void TestCli::badInput()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, line);
    QFETCH(int, errorLines);

    QTemporaryDir dir;
    const auto write = [&dir](const char *name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write("badsum.hex", ":040000000C945C00B4\n:00000001FF\n"));
    QVERIFY(write("cut.hex", ":040000000C945C0000\n"));
    QVERIFY(write("empty.hex", ""));
    arguments.replaceInStrings("%DIR%", dir.path());

    const CliRun run = runCli(arguments, dir.path(), {}, IoMs);
    QVERIFY2(run.finished, run.printed().constData());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, QByteArray());
    QVERIFY2(run.lastErrorLine().startsWith(line.replace("%DIR%", dir.path()).toUtf8()), run.printed().constData());
    QCOMPARE(run.err.trimmed().split('\n').size(), errorLines);
}

void TestCli::help_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("usage");

    QTest::newRow("overview") << QStringList{"--help"} << "Usage: quarnel-cli COMMAND [options]";
    QTest::newRow("scan") << QStringList{"scan", "--help"} << "Usage: quarnel-cli scan [--seconds N] [--json]";
    QTest::newRow("upload") << QStringList{"upload", "-h"} << "Usage: quarnel-cli upload (--ip IP [--ip IP ...] | --all [--name GLOB]) --board BOARD";
    QTest::newRow("rename") << QStringList{"help", "rename"} << "Usage: quarnel-cli rename --ip IP [--at-port P] NAME";
}

void TestCli::help()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, usage);

    const CliRun run = runCli(arguments, QString(), {}, IoMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QVERIFY2(run.out.startsWith(usage.toUtf8() + '\n'), run.out.constData());
    QVERIFY(run.out.contains("Exit status:"));
    QCOMPARE(run.err, QByteArray());
}

void TestCli::rename_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("answer"); // empty: the module stays silent

    QTest::newRow("answered") << "bench 7" << QByteArray("OK\r\n");
    QTest::newRow("not answered") << "b" << QByteArray();
}

// The exact bytes on the AT-command port: the window's command, no line end.
void TestCli::rename()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, answer);

    QTcpServer module;
    QVERIFY(module.listen(QHostAddress::LocalHost, 0));
    QProcess process;
    startCli(process, {"rename", "--ip", "127.0.0.1", "--at-port", QString::number(module.serverPort()), name});
    QVERIFY(module.waitForNewConnection(IoMs));
    QTcpSocket *socket = module.nextPendingConnection();
    const QByteArray expected = "AT+HOSTNAME=" + name.toLatin1();
    QByteArray received;
    while (received.size() < expected.size() && socket->waitForReadyRead(IoMs))
        received += socket->readAll();
    QCOMPARE(received, expected);
    if (!answer.isEmpty()) {
        socket->write(answer);
        socket->flush();
    }
    const CliRun run = finishCli(process, IoMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QCOMPARE(run.outLines().last(), QStringLiteral("quarnel-cli: 127.0.0.1: sent AT+HOSTNAME=%1 to AT-command port %2")
                                        .arg(name)
                                        .arg(module.serverPort())
                                        .toUtf8());
    socket->waitForReadyRead(100);
    QCOMPARE(socket->readAll(), QByteArray());
}

void TestCli::renameUnreachable()
{
    const quint16 port = closedPort();
    QVERIFY(port != 0);
    const CliRun run = runCli({"rename", "--ip", "127.0.0.1", "--at-port", QString::number(port), "n"}, QString(), {}, IoMs);
    QVERIFY2(run.finished, run.printed().constData());
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.lastErrorLine().startsWith(
                 QStringLiteral("quarnel-cli: cannot connect to the AT-command port %1 of 127.0.0.1").arg(port).toUtf8()),
             run.printed().constData());
    QCOMPARE(run.out, QByteArray());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
