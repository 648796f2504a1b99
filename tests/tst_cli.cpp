// quarnel-cli as a script runs it: uploads through simulated modules into the real bootloaders,
// compared byte for byte with the image; a flash corrupted on purpose, caught by --verify only;
// each failure with its exit status and its line; bad input; rename against a scripted port;
// many boards in one command, a dropped link resumed at its page, Ctrl-C.
// No announcements here: every module runs with --announce-ms 0 and the ports are given.
#include "simprocess.h"
#include "cliprocess.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

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

class tst_Cli : public QObject
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
    void manyBoards();
    void resumeAfterDrop_data();
    void resumeAfterDrop();
    void interrupt_data();
    void interrupt();
};

void tst_Cli::upload_data()
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

void tst_Cli::upload()
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

void tst_Cli::verifyCatchesWhatRepliesHide_data()
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
void tst_Cli::verifyCatchesWhatRepliesHide()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, ip);
    QFETCH(int, flipped);

    const QByteArray bin = readFile(avrPath(image + ".bin"));
    QVERIFY(bin.size() > flipped);
    SimProcess sim;
    // Two uploads one after the other: the module listens again at once.
    QVERIFY2(sim.start({"--ip", ip, "--board", board, "--announce-ms", "0", "--control-port", "0", "--flip-address",
                        QString::number(flipped), "--relisten-ms", "0"}),
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

void tst_Cli::uploadFailures_data()
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
    // The other protocol's bootloader answers once the chosen one's does not: the board is named.
    QTest::newRow("a MEGA2560 taken for a UNO")
        << QStringList{"--ip", "127.0.0.174", "--board", "MEGA2560"} << "UNO" << "blink_uno" << 1
        << "the board answers as an ATmega2560 (MEGA2560), not an ATmega328P (UNO); nothing was written" << true;
    QTest::newRow("a UNO taken for a zariV3")
        << QStringList{"--ip", "127.0.0.175", "--board", "UNO"} << "zariV3" << "blink_mega" << 1
        << "the board answers as an ATmega328P (UNO), not an ATmega2560 (zariV3); nothing was written" << true;
    // The simulator drops the link as the third page is written, before its reply.
    QTest::newRow("page 2 not acknowledged, STK500v1")
        << QStringList{"--ip", "127.0.0.176", "--board", "UNO", "--drop-after-pages", "3"} << "UNO" << "full_uno" << 1
        << "page 2 not acknowledged (program page); the link dropped" << false;
    QTest::newRow("page 2 not acknowledged, STK500v2")
        << QStringList{"--ip", "127.0.0.177", "--board", "MEGA2560", "--drop-after-pages", "3"} << "MEGA2560"
        << "big_mega" << 1 << "page 2 not acknowledged (program page); the link dropped" << false;
    // Its pages would run over Optiboot's own; nothing is sent.
    QTest::newRow("image larger than a UNO's application area")
        << QStringList{"--ip", "127.0.0.227", "--board", "UNO"} << "UNO" << "big_mega" << 4
        << QString("image of %1 bytes is larger than the application area of a UNO (32256 bytes); check that the "
                   "HEX file is a program for a UNO")
               .arg(readFile(avrPath("big_mega.bin")).size())
        << false;
}

void tst_Cli::uploadFailures()
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

void tst_Cli::badInput_data()
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
void tst_Cli::badInput()
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

void tst_Cli::help_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("usage");

    QTest::newRow("overview") << QStringList{"--help"} << "Usage: quarnel-cli COMMAND [options]";
    QTest::newRow("scan") << QStringList{"scan", "--help"} << "Usage: quarnel-cli scan [--seconds N] [--json]";
    QTest::newRow("upload") << QStringList{"upload", "-h"} << "Usage: quarnel-cli upload (--ip IP [--ip IP ...] | --all [--name GLOB]) [--board BOARD]";
    QTest::newRow("rename") << QStringList{"help", "rename"} << "Usage: quarnel-cli rename --ip IP [--at-port P] NAME";
}

void tst_Cli::help()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, usage);

    const CliRun run = runCli(arguments, QString(), {}, IoMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QVERIFY2(run.out.startsWith(usage.toUtf8() + '\n'), run.out.constData());
    QVERIFY(run.out.contains("Exit status:"));
    QCOMPARE(run.err, QByteArray());
}

void tst_Cli::rename_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("answer"); // empty: the module stays silent

    QTest::newRow("answered") << "bench 7" << QByteArray("OK\r\n");
    QTest::newRow("not answered") << "b" << QByteArray();
}

// The exact bytes on the AT-command port: the window's command, no line end.
void tst_Cli::rename()
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

void tst_Cli::renameUnreachable()
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

// Four boards in one command, two of them faulty: a link dropped once mid-image is resumed
// (--retries 1), a board of another type fails on its own; the other two are written regardless.
void tst_Cli::manyBoards()
{
    const QByteArray bin = readFile(avrPath("blink_uno.bin"));
    SimProcess unos;
    QVERIFY2(unos.start({"--ip", "127.0.0.150", "--count", "2", "--board", "UNO", "--announce-ms", "0"}),
             qPrintable(unos.errorText()));
    // Every module on the same ports, each on its own address.
    const QStringList ports{"--data-port", QString::number(unos.dataPort()), "--at-port", QString::number(unos.atPort())};
    SimProcess dropping;
    QVERIFY2(dropping.start(QStringList{"--ip", "127.0.0.152", "--board", "UNO", "--announce-ms", "0",
                                        "--drop-after-pages", "1", "--drops", "1"} + ports),
             qPrintable(dropping.errorText()));
    SimProcess mega;
    QVERIFY2(mega.start(QStringList{"--ip", "127.0.0.153", "--board", "MEGA2560", "--announce-ms", "0"} + ports),
             qPrintable(mega.errorText()));

    QStringList arguments{"upload", "--board", "UNO", "--retries", "1", "--verify", avrPath("blink_uno.hex")};
    for (int i = 150; i <= 153; ++i)
        arguments << "--ip" << QStringLiteral("127.0.0.%1").arg(i);
    const CliRun run = runCli(arguments + ports, QString(), ShortWaits);
    QVERIFY2(run.finished, run.printed().constData());
    QCOMPARE(run.exitCode, 1);

    const QList<QByteArray> lines = run.outLines();
    const auto row = [&lines](const char *ip) {
        const auto it = std::find_if(lines.begin(), lines.end(),
                                     [ip](const QByteArray &l) { return l.startsWith(QByteArray(ip) + "  "); });
        return it == lines.end() ? QByteArray() : it->simplified();
    };
    const QByteArray written = " " + QByteArray::number(bin.size()) + " ";
    QVERIFY2(row("127.0.0.150").contains(written) && row("127.0.0.150").endsWith(" 0 written and verified"),
             run.out.constData());
    QVERIFY2(row("127.0.0.151").endsWith(" 0 written and verified"), run.out.constData());
    QVERIFY2(row("127.0.0.152").contains(written) && row("127.0.0.152").endsWith(" 1 written and verified"),
             run.out.constData());
    QVERIFY2(row("127.0.0.153").endsWith(" 0 failed: the board answers as an ATmega2560 (MEGA2560), not an ATmega328P (UNO)"),
             run.out.constData());
    QCOMPARE(lines.last(), QByteArray("3 of 4 boards written and verified"));
    QVERIFY2(run.out.contains("127.0.0.152: retry 1\n"), run.out.constData());
    QVERIFY2(run.err.contains("quarnel-cli: upload to 127.0.0.153 failed: the board answers as an ATmega2560 "
                              "(MEGA2560), not an ATmega328P (UNO); nothing"),
             run.printed().constData());
    QVERIFY(!run.err.contains("upload to 127.0.0.15" "0"));

    QCOMPARE(unos.flash(0).left(bin.size()), bin);
    QCOMPARE(unos.flash(1).left(bin.size()), bin);
    QCOMPARE(dropping.flash().left(bin.size()), bin);
    QVERIFY(unos.stop() && dropping.stop() && mega.stop());
}

void tst_Cli::resumeAfterDrop_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("dropAfter"); // the link drops as this page is written, before its reply
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QString>("ip");

    QTest::newRow("STK500v1, first page") << "UNO" << "blink_uno" << 1 << false << "127.0.0.154";
    QTest::newRow("STK500v1, last page, verified") << "UNO" << "blink_uno" << 2 << true << "127.0.0.155";
    QTest::newRow("STK500v1, page 126 of 252") << "UNO" << "full_uno" << 126 << false << "127.0.0.156";
    // The MEGA2560's bootloader erases, at each page it is sent, the next page of its own count
    // from 0: after the reset of a reconnection every page is written again, from page 0.
    QTest::newRow("STK500v2, last page") << "MEGA2560" << "blink_mega" << 2 << false << "127.0.0.158";
    QTest::newRow("STK500v2, above 128 KiB") << "MEGA2560" << "huge_mega" << 520 << false << "127.0.0.159";
}

// A dropped link costs one page on the UNO: the upload goes on from the page whose reply was lost,
// which is written again whole at its own address; the flash ends up equal to the image.
void tst_Cli::resumeAfterDrop()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(int, dropAfter);
    QFETCH(bool, verify);
    QFETCH(QString, ip);

    const QByteArray bin = readFile(avrPath(image + ".bin"));
    const int pageSize = board == "UNO" ? 128 : 256;
    const int pages = (bin.size() + pageSize - 1) / pageSize;
    QVERIFY(dropAfter <= pages);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", board, "--announce-ms", "0", "--drop-after-pages",
                        QString::number(dropAfter), "--drops", "1"}),
             qPrintable(sim.errorText()));
    QStringList arguments = uploadArguments(sim, board, avrPath(image + ".hex"));
    arguments << "--retries" << "1";
    if (verify)
        arguments << "--verify";
    const CliRun run = runCli(arguments, QString(), {}, 3 * CliRun::DefaultMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QVERIFY2(run.out.contains(ip.toUtf8() + ": retry 1\n"), run.out.constData());
    QCOMPARE(run.outLines().last(), QStringLiteral("quarnel-cli: %1: upload complete, %2 bytes written%3")
                                        .arg(ip)
                                        .arg(bin.size())
                                        .arg(verify ? " and verified" : "")
                                        .toUtf8());
    QCOMPARE(sim.pagesWritten(), board == "UNO" ? pages + 1 : dropAfter + pages);
    QCOMPARE(sim.flash().left(bin.size()), bin);
    QVERIFY(sim.stop());
}

void tst_Cli::interrupt_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("Ctrl-C") << int(SIGINT) << 130;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
}

// Ctrl-C, SIGTERM or SIGHUP stops every worker at once, the summary tells how far each board got,
// and the temporary image is gone.
void tst_Cli::interrupt()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QTemporaryDir temp;
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.148", "--count", "2", "--board", "UNO", "--announce-ms", "0"}),
             qPrintable(sim.errorText()));
    QProcess process;
    QSignalSpy output(&process, &QProcess::readyReadStandardOutput);
    startCli(process, {"upload", "--ip", "127.0.0.148", "--ip", "127.0.0.149", "--jobs", "1", "--board", "UNO",
                       "--data-port", QString::number(sim.dataPort()), "--at-port", QString::number(sim.atPort()),
                       avrPath("full_uno.hex")},
             QString(), {"TMPDIR=" + temp.path()});
    QByteArray seen;
    while (!seen.contains("127.0.0.148: 10%") && output.wait(IoMs))
        seen += process.peek(1 << 16);
    QVERIFY2(seen.contains("127.0.0.148: 10%"), seen.constData());
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(process.processId()), signal);
    const CliRun run = finishCli(process, IoMs);
    QVERIFY2(run.finished, run.printed().constData());
    QVERIFY2(clock.elapsed() < 2000, run.printed().constData());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    const QList<QByteArray> lines = run.outLines();
    QCOMPARE(lines.last(), QByteArray("0 of 2 boards written"));
    QVERIFY2(lines.at(lines.size() - 3).startsWith("127.0.0.148 ") && lines.at(lines.size() - 3).endsWith("interrupted"),
             run.out.constData());
    QVERIFY2(lines.at(lines.size() - 2).simplified() == "127.0.0.149 - 0 0.0 0 not started", run.out.constData());
    QVERIFY(sim.stop());
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
