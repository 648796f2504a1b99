// The command-line tool's logic, directly: argument checks, the announcement acceptance rules,
// the scan output under hostile announcements, the refusal of doubtful HEX files, the exit
// status and advice of every upload outcome, and the progress lines; for many boards: their
// selection by name, the summary, the command's exit status and the display's lines.
#include "boarddisplay.h"
#include "boards.h"
#include "commandline.h"
#include "commandsupport.h"
#include "exitcodes.h"
#include "firmwarefile.h"
#include "idesetup.h"
#include "modulescan.h"
#include "modulescommand.h"
#include "outputqueue.h"
#include "progress.h"
#include "quarnelversion.h"
#include "protocolbytes.h"
#include "scanoutput.h"
#include "stderrcapture.h"
#include "testfiles.h"
#include "uploadcommand.h"
#include "uploadverdict.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace upload;

using Kind = UploadOutcome::Kind;
Q_DECLARE_METATYPE(UploadOutcome)
Q_DECLARE_METATYPE(cli::Command)

namespace {

// One data record of `bytes` at `address`, as a line of the file.
QByteArray dataLine(quint16 address, const QByteArray &bytes)
{
    return hexRecord(0x00, address, bytes) + '\n';
}

const QByteArray EndRecord = ":00000001FF\n";

QByteArray datagram(const char *text)
{
    return QByteArray(text);
}

} // namespace

class tst_CliLogic : public QObject
{
    Q_OBJECT

private slots:
    void commandRows();
    void acceptedCommandLines_data();
    void acceptedCommandLines();
    void usageErrors_data();
    void usageErrors();
    void uploadTargets_data();
    void uploadTargets();

    void announcementRules_data();
    void announcementRules();
    void latestAnnouncementWins();
    void addressFloodIsBounded();
    void scanOrderAndAge();
    void hostileTextsInTable();
    void jsonKeepsAnnouncedTexts();
    void knownModulesInScan();
    void modulesCommandLines_data();
    void modulesCommandLines();

    void firmwareFile_data();
    void firmwareFile();
    void firmwareFileNotRegular();

    void verdicts_data();
    void verdicts();

    void percent_data();
    void percent();
    void progressLines();

    void timeoutScale_data();
    void timeoutScale();

    void sketchbookFromPreferences_data();
    void sketchbookFromPreferences();
    void outputQueue();
    void lostOutput_data();
    void lostOutput();
    void platformPatterns_data();
    void platformPatterns();
    void platformWrittenAndUpdated();

    void glob_data();
    void glob();
    void boardsHeardByName();
    void summary();
    void worstExitCode_data();
    void worstExitCode();
    void displayLines();
};

// Each command's row comes from a file of its own: the table still holds each name and value
// once, every row's help is its own with its exit statuses, and no row redeclares an option the
// parser gives every command (the parser would drop it without a word).
void tst_CliLogic::commandRows()
{
    QSet<QString> names;
    QSet<int> commands;
    for (const cli::CommandRow &row : cli::commandTable()) {
        const QString name = QLatin1String(row.name);
        QVERIFY2(!names.contains(name), row.name);
        QVERIFY2(!commands.contains(int(row.command)), row.name);
        names << name;
        commands << int(row.command);

        QString error;
        const cli::Invocation inv = cli::parseCommandLine({name, QStringLiteral("--help")}, &error);
        QCOMPARE(error, QString());
        QVERIFY(inv.help);
        QCOMPARE(inv.command, row.command);
        const QString help = cli::helpText(row.command);
        QVERIFY2(help.startsWith(QStringLiteral("Usage: quarnel-cli ") + name), row.name);
        QVERIFY2(help.contains(QLatin1String("Exit status: 0")), row.name);

        QSet<QString> options;
        for (const QCommandLineOption &option : row.options()) {
            for (const QString &optionName : option.names()) {
                QVERIFY2(!options.contains(optionName), qPrintable(name + QLatin1Char(' ') + optionName));
                QVERIFY2(!QStringList({"h", "help", "seconds"}).contains(optionName), qPrintable(optionName));
                options << optionName;
            }
        }
    }
    QCOMPARE(commands.size(), int(cli::Command::PluggableMonitor));
}

void tst_CliLogic::acceptedCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<cli::Command>("command");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("board");
    QTest::addColumn<int>("dataPort");
    QTest::addColumn<int>("atPort");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("positional"); // the HEX file or the name

    QTest::newRow("scan with defaults") << QStringList{"scan"} << cli::Command::Scan << "" << "" << 0 << 0 << false << 3.0 << "";
    QTest::newRow("scan, decimal seconds") << QStringList{"scan", "--seconds", "0.25", "--json"} << cli::Command::Scan << ""
                                           << "" << 0 << 0 << false << 0.25 << "";
    QTest::newRow("upload, ports given") << QStringList{"upload", "--ip", "192.168.1.20", "--board", "UNO", "--data-port",
                                                        "8000", "--at-port", "8001", "a.hex"}
                                         << cli::Command::Upload << "192.168.1.20" << "UNO" << 8000 << 8001 << false
                                         << 5.0 << "a.hex";
    QTest::newRow("upload, board in other letter case, verify")
        << QStringList{"upload", "--verify", "--ip", "10.0.0.7", "--board", "zarIV3", "b.hex"} << cli::Command::Upload
        << "10.0.0.7" << "zariV3" << 0 << 0 << true << 5.0 << "b.hex";
    QTest::newRow("upload, leading zeros in the address")
        << QStringList{"upload", "--ip", "010.000.000.009", "--board", "mega2560", "c.hex"} << cli::Command::Upload
        << "10.0.0.9" << "MEGA2560" << 0 << 0 << false << 5.0 << "c.hex";
    QTest::newRow("upload, = form, highest port")
        << QStringList{"upload", "--ip=127.0.0.2", "--board=zureD0", "--data-port=65535", "d.hex"} << cli::Command::Upload
        << "127.0.0.2" << "zureD0" << 65535 << 0 << false << 5.0 << "d.hex";
    QTest::newRow("rename") << QStringList{"rename", "--ip", "127.0.0.3", "--at-port", "1", "bench 4"} << cli::Command::Rename
                            << "127.0.0.3" << "" << 0 << 1 << false << 5.0 << "bench 4";
    QTest::newRow("rename, name after --") << QStringList{"rename", "--ip", "127.0.0.3", "--", "-dash"} << cli::Command::Rename
                                           << "127.0.0.3" << "" << 0 << 0 << false << 5.0 << "-dash";
    QTest::newRow("rename, Latin-1 name") << QStringList{"rename", "--ip", "127.0.0.3", QString::fromUtf8("Küche")}
                                          << cli::Command::Rename << "127.0.0.3" << "" << 0 << 0 << false << 5.0
                                          << QString::fromUtf8("Küche");
    QTest::newRow("upload as the Arduino IDE runs it")
        << QStringList{"upload", "--ip", "127.0.0.2", "--module-ports", "8000:8001", "--board", "UNO", "--verify-upload",
                       "true", "/b/Blink.ino.hex"}
        << cli::Command::Upload << "127.0.0.2" << "UNO" << 8000 << 8001 << true << 5.0 << "/b/Blink.ino.hex";
    QTest::newRow("upload, the tool knew no ports, no verify")
        << QStringList{"upload", "--ip", "127.0.0.2", "--module-ports", ":", "--board", "UNO", "--verify-upload", "false",
                       "a.hex"}
        << cli::Command::Upload << "127.0.0.2" << "UNO" << 0 << 0 << false << 5.0 << "a.hex";
    QTest::newRow("upload as arduino-cli runs it when no port came in time: placeholders left")
        << QStringList{"upload", "--ip", "127.0.0.2", "--module-ports",
                       "{upload.port.properties.dataport}:{upload.port.properties.atport}", "--board", "UNO", "a.hex"}
        << cli::Command::Upload << "127.0.0.2" << "UNO" << 0 << 0 << false << 5.0 << "a.hex";
    QTest::newRow("upload, each board as its module is known")
        << QStringList{"upload", "--ip", "127.0.0.2", "a.hex"} << cli::Command::Upload << "127.0.0.2" << "" << 0 << 0
        << false << 5.0 << "a.hex";
    QTest::newRow("identify, ports as the tools give them")
        << QStringList{"identify", "--ip", "127.0.0.4", "--module-ports", "8000:8001", "--json"}
        << cli::Command::Identify << "127.0.0.4" << "" << 8000 << 8001 << false << 5.0 << "";
    QTest::newRow("ide-setup into a sketchbook") << QStringList{"ide-setup", "--sketchbook", "/t/sb"}
                                                 << cli::Command::IdeSetup << "" << "" << 0 << 0 << false << 0.0 << "/t/sb";
    QTest::newRow("discovery") << QStringList{"discovery"} << cli::Command::Discovery << "" << "" << 0 << 0 << false << 0.0
                               << "";
}

void tst_CliLogic::acceptedCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(cli::Command, command);
    QFETCH(QString, ip);
    QFETCH(QString, board);
    QFETCH(int, dataPort);
    QFETCH(int, atPort);
    QFETCH(bool, verify);
    QFETCH(double, seconds);
    QFETCH(QString, positional);

    QString error;
    const cli::Invocation inv = cli::parseCommandLine(arguments, &error);
    QCOMPARE(error, QString());
    QCOMPARE(inv.command, command);
    QCOMPARE(inv.help, false);
    QCOMPARE(command == cli::Command::Upload ? inv.ips.join(',') : inv.ip, ip);
    QCOMPARE(inv.board, board);
    QCOMPARE(int(inv.dataPort), dataPort);
    QCOMPARE(int(inv.atPort), atPort);
    QCOMPARE(inv.verify, verify);
    QCOMPARE(inv.seconds, seconds);
    QCOMPARE(command == cli::Command::Rename     ? inv.name
             : command == cli::Command::IdeSetup ? inv.sketchbook
                                                 : inv.hexPath,
             positional);
    QCOMPARE(inv.json, arguments.contains("--json"));
}

void tst_CliLogic::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    const QStringList upload{"upload", "--ip", "127.0.0.2", "--board", "UNO"};
    QTest::newRow("nothing") << QStringList{} << "no command given";
    QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command \"flash\"";
    QTest::newRow("unknown command names the commands")
        << QStringList{"flash", "--ip", "127.0.0.2"}
        << "unknown command \"flash\"; expected scan, upload, identify, rename, modules, discovery, ide-setup, monitor or "
           "pluggable-monitor";
    QTest::newRow("unknown option") << QStringList{"scan", "--colour"} << "scan: Unknown option 'colour'";
    QTest::newRow("option of another command") << QStringList{"scan", "--verify"} << "scan: Unknown option 'verify'";
    QTest::newRow("option without its value") << QStringList{"scan", "--seconds"} << "scan: Missing value after '--seconds'";
    QTest::newRow("scan, extra argument") << QStringList{"scan", "now"} << "unexpected argument \"now\"";
    QTest::newRow("monitor, unknown line end") << QStringList{"monitor", "--ip", "127.0.0.2", "--eol", "LF"}
                                               << "monitor: --eol LF: expected one of none, lf, cr, crlf";
    QTest::newRow("monitor without --ip") << QStringList{"monitor", "--seconds", "2"} << "monitor: --ip is required";
    QTest::newRow("monitor, option of upload") << QStringList{"monitor", "--ip", "127.0.0.2", "--at-port", "1"}
                                               << "monitor: Unknown option 'at-port'";
    QTest::newRow("pluggable-monitor takes no arguments") << QStringList{"pluggable-monitor", "now"}
                                                          << "pluggable-monitor: unexpected argument \"now\"";
    QTest::newRow("seconds zero") << QStringList{"scan", "--seconds", "0"} << "--seconds 0: expected a number";
    QTest::newRow("seconds negative") << QStringList{"scan", "--seconds=-2"} << "--seconds -2: expected a number";
    QTest::newRow("seconds not a number") << QStringList{"scan", "--seconds", "ten"} << "--seconds ten: expected";
    QTest::newRow("seconds infinite") << QStringList{"scan", "--seconds", "inf"} << "--seconds inf: expected";
    QTest::newRow("seconds beyond an hour") << QStringList{"scan", "--seconds", "3601"} << "--seconds 3601: expected";
    QTest::newRow("upload without --ip") << QStringList{"upload", "--board", "UNO", "a.hex"}
                                         << "upload: --ip or --all is required";
    QTest::newRow("--ip and --all") << upload + QStringList{"--all", "a.hex"} << "--ip and --all exclude each other";
    QTest::newRow("--name without --all") << upload + QStringList{"--name", "uno-*", "a.hex"} << "--name needs --all";
    QTest::newRow("empty --name") << QStringList{"upload", "--all", "--name", "", "--board", "UNO", "a.hex"}
                                  << "--name: the pattern is empty";
    QTest::newRow("same board twice") << upload + QStringList{"--ip", "127.000.0.2", "a.hex"}
                                      << "--ip 127.000.0.2: given twice";
    QTest::newRow("--jobs 0") << upload + QStringList{"--jobs", "0", "a.hex"} << "--jobs 0: expected a number of boards";
    QTest::newRow("--retries beyond 100") << upload + QStringList{"--retries", "101", "a.hex"}
                                          << "--retries 101: expected a number 0..100";
    QTest::newRow("three parts") << QStringList{"upload", "--ip", "127.0.1", "--board", "UNO", "a.hex"}
                                 << "--ip 127.0.1: not an IPv4 address";
    QTest::newRow("part above 255") << QStringList{"upload", "--ip", "127.0.0.256", "--board", "UNO", "a.hex"}
                                    << "--ip 127.0.0.256: not an IPv4 address";
    QTest::newRow("host name for an address") << QStringList{"upload", "--ip", "localhost", "--board", "UNO", "a.hex"}
                                              << "--ip localhost: not an IPv4 address";
    QTest::newRow("signed part") << QStringList{"upload", "--ip", "127.0.0.+2", "--board", "UNO", "a.hex"}
                                 << "--ip 127.0.0.+2: not an IPv4 address";
    QTest::newRow("IPv6") << QStringList{"upload", "--ip", "::1", "--board", "UNO", "a.hex"} << "--ip ::1: not an IPv4";
    QTest::newRow("port 0") << upload + QStringList{"--data-port", "0", "a.hex"} << "--data-port 0: not a port number";
    QTest::newRow("unknown board") << QStringList{"upload", "--ip", "127.0.0.2", "--board", "NANO", "a.hex"}
                                   << "--board NANO: unknown board; expected one of MEGA2560, UNO, zariV3, zureD0";
    QTest::newRow("board with a blank") << QStringList{"upload", "--ip", "127.0.0.2", "--board", "UNO ", "a.hex"}
                                        << "--board UNO : unknown board";
    QTest::newRow("identify, no address") << QStringList{"identify", "--data-port", "8000"} << "identify: --ip is required";
    QTest::newRow("identify, both port forms")
        << QStringList{"identify", "--ip", "127.0.0.2", "--at-port", "1", "--module-ports", "2:3"}
        << "identify: --module-ports and --data-port or --at-port exclude each other";
    QTest::newRow("no HEX file") << upload << "expected one HEX file, got 0 arguments";
    QTest::newRow("two HEX files") << upload + QStringList{"a.hex", "b.hex"} << "expected one HEX file, got 2 arguments";
    QTest::newRow("first problem is named") << QStringList{"upload", "--ip", "x", "--board", "y"} << "upload: --ip x:";
    QTest::newRow("rename without a name") << QStringList{"rename", "--ip", "127.0.0.2"} << "expected one NAME, got 0";
    QTest::newRow("rename, empty name") << QStringList{"rename", "--ip", "127.0.0.2", ""} << "the name is empty";
    QTest::newRow("rename, line end in the name") << QStringList{"rename", "--ip", "127.0.0.2", "a\r\nAT+RST"}
                                                  << "the name holds a control character (0x0d)";
    QTest::newRow("rename, C1 control") << QStringList{"rename", "--ip", "127.0.0.2", QString(QChar(0x85))}
                                        << "control character (0x85)";
    QTest::newRow("rename, beyond Latin-1") << QStringList{"rename", "--ip", "127.0.0.2", QString::fromUtf8("Zürich€")}
                                            << "not a Latin-1 character";
    QTest::newRow("rename has no --data-port") << QStringList{"rename", "--ip", "127.0.0.2", "--data-port", "1", "n"}
                                               << "rename: Unknown option 'data-port'";
    QTest::newRow("module ports without the AT side") << upload + QStringList{"--module-ports", "8000", "a.hex"}
                                                      << "--module-ports 8000: expected DATA:AT";
    QTest::newRow("module ports of a placeholder and a word")
        << upload + QStringList{"--module-ports", "{upload.port.properties.dataport}:eighty", "a.hex"}
        << "did not know the module's ports";
    QTest::newRow("module ports and --data-port") << upload + QStringList{"--module-ports", "1:2", "--data-port", "1", "a.hex"}
                                                  << "exclude each other";
    QTest::newRow("verify setting not a truth value") << upload + QStringList{"--verify-upload", "yes", "a.hex"}
                                                      << "--verify-upload yes: expected true or false";
    QTest::newRow("--verify and --verify-upload false") << upload + QStringList{"--verify", "--verify-upload", "false", "a.hex"}
                                                        << "contradict each other";
    QTest::newRow("discovery, extra argument") << QStringList{"discovery", "now"} << "unexpected argument \"now\"";
    QTest::newRow("discovery listens until QUIT") << QStringList{"discovery", "--seconds", "3"}
                                                  << "discovery: Unknown option 'seconds'";
    QTest::newRow("ide-setup, empty sketchbook") << QStringList{"ide-setup", "--sketchbook", ""}
                                                 << "--sketchbook: the directory is empty";
}

void tst_CliLogic::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);

    QString actual;
    cli::parseCommandLine(arguments, &actual);
    QVERIFY2(actual.contains(error), qPrintable(actual));
    QVERIFY(!actual.contains('\n'));
}

void tst_CliLogic::uploadTargets_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("ips");
    QTest::addColumn<bool>("all");
    QTest::addColumn<QString>("glob");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("retries");

    QTest::newRow("three --ip") << QStringList{"--ip", "10.0.0.1", "--ip=10.0.0.2", "--ip", "10.0.0.03"}
                                << "10.0.0.1,10.0.0.2,10.0.0.3" << false << "*" << 5.0 << 0 << 0;
    QTest::newRow("--all listens 3 s") << QStringList{"--all"} << "" << true << "*" << 3.0 << 0 << 0;
    QTest::newRow("--all --name, jobs, retries, json")
        << QStringList{"--all", "--name", "uno-*", "--seconds", "1.5", "--jobs", "4", "--retries", "2", "--json"} << ""
        << true << "uno-*" << 1.5 << 4 << 2;
}

void tst_CliLogic::uploadTargets()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, ips);
    QFETCH(bool, all);
    QFETCH(QString, glob);
    QFETCH(double, seconds);
    QFETCH(int, jobs);
    QFETCH(int, retries);

    QString error;
    const cli::Invocation inv =
        cli::parseCommandLine(QStringList{"upload", "--board", "UNO"} + arguments + QStringList{"a.hex"}, &error);
    QCOMPARE(error, QString());
    QCOMPARE(inv.ips.join(','), ips);
    QCOMPARE(inv.all, all);
    QCOMPARE(inv.nameGlob, glob);
    QCOMPARE(inv.seconds, seconds);
    QCOMPARE(inv.jobs, jobs);
    QCOMPARE(inv.retries, retries);
    QCOMPARE(inv.json, arguments.contains("--json"));
}

void tst_CliLogic::announcementRules_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("hostIp");
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("dataPort");

    QTest::newRow("complete JSON") << datagram(R"({"host ip":"192.168.1.20","atcomd port":8001,"data port":8000,"hostname":"b1"})")
                                   << true << "192.168.1.20" << "b1" << "8000";
    QTest::newRow("no host name") << datagram(R"({"host ip":"10.0.0.1","data port":"9"})") << true << "10.0.0.1"
                                  << "quarnel" << "9";
    QTest::newRow("port that is no number") << datagram(R"({"host ip":"10.0.0.2","data port":"abc"})")
                                            << false << "" << "" << "";
    QTest::newRow("host ip that is no address") << datagram(R"({"host ip":"f0","data port":8000})") << false << "" << "" << "";
    QTest::newRow("host name cut to 255 bytes")
        << QByteArray(R"({"host ip":"10.0.0.7","hostname":")") + QByteArray(60000, 'n') + R"("})" << true
        << "10.0.0.7" << QString(255, 'n') << "";
    QTest::newRow("no host ip") << datagram(R"({"atcomd port":8001,"data port":8000})") << false << "" << "" << "";
    QTest::newRow("empty host ip") << datagram(R"({"host ip":"","data port":8000})") << false << "" << "" << "";
    QTest::newRow("capitals in the name") << datagram(R"({"Host IP":"10.0.0.3"})") << false << "" << "" << "";
    QTest::newRow("not an object") << datagram("42") << false << "" << "" << "";
    QTest::newRow("empty datagram") << QByteArray() << false << "" << "" << "";
    QTest::newRow("script, not a literal") << datagram("while(true){}") << false << "" << "" << "";
    QTest::newRow("bytes after a NUL ignored")
        << QByteArray(R"({"host ip":"10.0.0.4","hostname":"n"})") + QByteArray(1, '\0') + "garbage" << true << "10.0.0.4" << "n" << "";
}

void tst_CliLogic::announcementRules()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, accepted);
    QFETCH(QString, hostIp);
    QFETCH(QString, hostName);
    QFETCH(QString, dataPort);

    cli::ModuleScan scan;
    QSignalSpy heard(&scan, &cli::ModuleScan::heard);
    QCOMPARE(scan.take(datagram), accepted);
    const QVector<cli::HeardModule> modules = scan.modules();
    QCOMPARE(modules.size(), accepted ? 1 : 0);
    QCOMPARE(heard.size(), accepted ? 1 : 0);
    if (accepted) {
        QCOMPARE(modules.first().announcement.hostIp, hostIp);
        QCOMPARE(modules.first().announcement.hostName, hostName);
        QCOMPARE(modules.first().announcement.dataPort, dataPort);
    }
}

// The window keeps a row's first values; a scan reports what the module says now.
void tst_CliLogic::latestAnnouncementWins()
{
    cli::ModuleScan scan;
    QVERIFY(scan.take(R"({"host ip":"10.0.0.5","hostname":"old","data port":1})"));
    QVERIFY(scan.take(R"({"host ip":"10.0.0.5","hostname":"new","data port":2})"));
    QVERIFY(scan.take(R"({"host ip":"10.0.0.6"})"));
    const QVector<cli::HeardModule> modules = scan.modules();
    QCOMPARE(modules.size(), 2);
    QCOMPARE(modules.at(0).announcement.hostName, QStringLiteral("new"));
    QCOMPARE(modules.at(0).announcement.dataPort, QStringLiteral("2"));
}

void tst_CliLogic::addressFloodIsBounded()
{
    cli::ModuleScan scan;
    for (int i = 0; i < cli::ModuleScan::MaxModules + 10; ++i)
        scan.take(QStringLiteral(R"({"host ip":"10.0.%1.%2"})").arg(i / 256).arg(i % 256).toUtf8());
    QCOMPARE(scan.modules().size(), int(cli::ModuleScan::MaxModules));
    QCOMPARE(scan.overflow(), 10);
    // A module already listed is still refreshed.
    QVERIFY(scan.take(R"({"host ip":"10.0.0.0","hostname":"again"})"));
    QCOMPARE(scan.overflow(), 10);
}

void tst_CliLogic::scanOrderAndAge()
{
    cli::ModuleScan scan;
    for (const char *ip : {"127.0.0.10", "127.0.0.9", "10.1.1.1"})
        QVERIFY(scan.take(QStringLiteral(R"({"host ip":"%1"})").arg(QLatin1String(ip)).toUtf8()));
    QStringList order;
    for (const cli::HeardModule &m : scan.modules())
        order << m.announcement.hostIp;
    QCOMPARE(order, (QStringList{"10.1.1.1", "127.0.0.9", "127.0.0.10"}));

    cli::HeardModule module;
    module.announcement.hostIp = QStringLiteral("10.0.0.1");
    module.lastHeardMs = 1000;
    const QString table = cli::scanTable({module}, 3470);
    QCOMPARE(table.split('\n').at(1), QStringLiteral("10.0.0.1            2.5  quarnel"));
}

void tst_CliLogic::hostileTextsInTable()
{
    cli::ModuleScan scan;
    QVERIFY(scan.take(QByteArray(R"({"host ip":"10.0.0.1","data port":"80","atcomd port":"8001",)"
                                 R"("hostname":"evil\u001b[2J\nname\u202e"})")));
    QVERIFY(scan.take(R"({"host ip":"10.0.0.2","data port":8000,"atcomd port":8001,"hostname":"two words"})"));
    const QStringList lines = cli::scanTable(scan.modules(), scan.nowMs()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).startsWith("IP"), qPrintable(lines.at(0)));
    QVERIFY(lines.at(0).endsWith("HOSTNAME"));
    // Columns stay in place for awk: five fields before the name, whatever was announced.
    const QStringList evil = lines.at(1).split(' ', Qt::SkipEmptyParts);
    QCOMPARE(evil.at(0), QStringLiteral("10.0.0.1"));
    QCOMPARE(evil.at(4), QStringLiteral("evil?[2J?name?"));
    QCOMPARE(lines.at(2).split(' ', Qt::SkipEmptyParts).mid(4), (QStringList{"two", "words"}));
    for (const QString &line : lines) {
        for (const QChar c : line)
            QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7F, qPrintable(line));
    }
}

void tst_CliLogic::jsonKeepsAnnouncedTexts()
{
    cli::ModuleScan scan;
    QVERIFY(scan.take(QByteArray(R"({"host ip":"10.0.0.1","data port":8000,"atcomd port":"08001","hostname":"a\"b\u001bc"})")));
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(cli::scanJson(scan.modules(), scan.nowMs()), &parseError);
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    QCOMPARE(doc.array().size(), 1);
    const QJsonObject m = doc.array().first().toObject();
    QCOMPARE(m.value("ip").toString(), QStringLiteral("10.0.0.1"));
    QCOMPARE(m.value("dataPort").toString(), QStringLiteral("8000"));
    QCOMPARE(m.value("atPort").toString(), QStringLiteral("08001"));
    QCOMPARE(m.value("hostname").toString(), QStringLiteral("a\"b\x1b" "c"));
    QVERIFY(m.value("secondsSinceHeard").isDouble());
    QCOMPARE(cli::scanJson({}, 0).trimmed(), QByteArray("[\n]"));
}

// A known module that answered is listed, marked as not heard; one that also announces is one
// module with its announced values, whichever came first.
void tst_CliLogic::knownModulesInScan()
{
    cli::ModuleScan scan;
    QSignalSpy heard(&scan, &cli::ModuleScan::heard);
    const discovery::KnownModule quiet{"10.0.0.9", 8000, 8001, "quiet"};
    const discovery::KnownModule loud{"10.0.0.3", 8000, 8001, "given"};
    scan.takeKnown(quiet.announcement());
    scan.takeKnown(loud.announcement());
    QVERIFY(scan.take(R"({"host ip":"10.0.0.3","data port":9000,"atcomd port":9001,"hostname":"announced"})"));
    QVERIFY(scan.take(R"({"host ip":"10.0.0.4","hostname":"other"})"));
    scan.takeKnown(discovery::KnownModule{"10.0.0.4", 8000, 8001, "given"}.announcement());

    const QStringList lines = cli::scanTable(scan.modules(), scan.nowMs()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(1).simplified(), QStringLiteral("10.0.0.3 9000 9001 0.0 announced"));
    QCOMPARE(lines.at(2).simplified(), QStringLiteral("10.0.0.4 0.0 other"));
    QCOMPARE(lines.at(3).simplified(), QStringLiteral("10.0.0.9 8000 8001 known quiet"));
    QCOMPARE(heard.size(), 5); // an answer is reported as an announcement is
}

void tst_CliLogic::modulesCommandLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("taken"); // "ACTION ip data at name json", or the usage error

    QTest::newRow("add with defaults") << QStringList{"modules", "add", "192.168.001.20"} << "0 192.168.1.20 8000 8001  0";
    QTest::newRow("add with ports and name")
        << QStringList{"modules", "add", "10.0.0.5", "--data-port", "23", "--at-port=24", "--name", "bench 7"}
        << "0 10.0.0.5 23 24 bench 7 0";
    QTest::newRow("list as JSON") << QStringList{"modules", "list", "--json"} << "1 8000 8001  1";
    QTest::newRow("remove") << QStringList{"modules", "remove", "10.0.0.5"} << "2 10.0.0.5 8000 8001  0";
    QTest::newRow("unknown action") << QStringList{"modules", "delete", "10.0.0.5"} << "modules: unknown action \"delete\"";
    QTest::newRow("add without address") << QStringList{"modules", "add"} << "modules: add expects one IP, got 0 arguments";
    QTest::newRow("add, bad address") << QStringList{"modules", "add", "10.0.0"} << "modules: \"10.0.0\" is not a module's IPv4";
    QTest::newRow("list takes no address") << QStringList{"modules", "list", "10.0.0.5"}
                                           << "modules: list expects no argument, got 1 arguments";
    QTest::newRow("remove takes no port") << QStringList{"modules", "remove", "10.0.0.5", "--at-port", "1"}
                                          << "modules: remove does not take --at-port";
}

void tst_CliLogic::modulesCommandLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, taken);
    QString error;
    const cli::Invocation inv = cli::parseCommandLine(arguments, &error);
    if (!error.isEmpty()) {
        QVERIFY2(error.startsWith(taken), qPrintable(error));
        return;
    }
    const cli::ModulesRequest &r = inv.modules;
    QCOMPARE(inv.command, cli::Command::Modules);
    QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6")
                 .arg(int(r.action))
                 .arg(r.module.ip)
                 .arg(r.module.dataPort)
                 .arg(r.module.atPort)
                 .arg(r.module.name)
                 .arg(int(r.json))
                 .simplified(),
             taken.simplified());
}

void tst_CliLogic::firmwareFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error"); // a part of it; empty when the file is taken
    QTest::addColumn<QByteArray>("image");

    const QByteArray two = dataLine(0x0000, QByteArray::fromHex("0c945c00"));
    const QByteArray gap = dataLine(0x0008, QByteArray::fromHex("aabb"));
    QTest::newRow("two records with a gap") << two + gap + EndRecord << ""
                                            << QByteArray::fromHex("0c945c0000000000aabb");
    QTest::newRow("CRLF line ends") << QByteArray(two).replace("\n", "\r\n") + ":00000001FF\r\n" << ""
                                    << QByteArray::fromHex("0c945c00");
    QTest::newRow("end record without a line end") << two + ":00000001FF" << "" << QByteArray::fromHex("0c945c00");
    QByteArray badSum = two;
    badSum[badSum.size() - 2] = badSum.at(badSum.size() - 2) == '0' ? '1' : '0';
    QTest::newRow("wrong checksum") << badSum + EndRecord << "not a well-formed Intel HEX file" << QByteArray();
    QTest::newRow("short record") << two + ":0400000001\n" + EndRecord << "not a well-formed" << QByteArray();
    QTest::newRow("cut short") << two + gap << "no end record" << QByteArray();
    QTest::newRow("cut inside a record") << two + gap.left(7) << "not a well-formed" << QByteArray();
    QTest::newRow("only the end record") << EndRecord << "no data records" << QByteArray();
    QTest::newRow("empty file") << QByteArray() << "no end record" << QByteArray();
    QTest::newRow("binary bytes") << QByteArray::fromHex("7f454c4602010100") << "not a well-formed" << QByteArray();
    QTest::newRow("beyond the image limit") << QByteArray(":020000041000EA\n") + dataLine(0, "ab") + EndRecord
                                            << "data beyond the 1024 KiB image limit" << QByteArray();
}

void tst_CliLogic::firmwareFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QFETCH(QByteArray, image);

    QTemporaryDir dir;
    QFile file(dir.filePath("f.hex"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    const cli::FirmwareFile firmware = cli::FirmwareFile::read(file.fileName());
    if (error.isEmpty()) {
        QCOMPARE(firmware.error, QString());
        QCOMPARE(firmware.diagnostics, QStringList());
    } else {
        QVERIFY2(firmware.error.contains(error), qPrintable(firmware.error));
    }
    QCOMPARE(firmware.image, image);
}

void tst_CliLogic::firmwareFileNotRegular()
{
    QTemporaryDir dir;
    QVERIFY(cli::FirmwareFile::read(dir.path()).error.contains("not a regular file"));
    QVERIFY(cli::FirmwareFile::read(dir.filePath("none.hex")).error.contains("no such file"));
    // A device would never end.
    QVERIFY(cli::FirmwareFile::read("/dev/zero").error.contains("not a regular file"));
}

void tst_CliLogic::verdicts_data()
{
    QTest::addColumn<UploadOutcome>("outcome");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");

    const QString failed = "quarnel-cli: upload to 10.0.0.8 failed: ";
    QTest::newRow("success") << UploadOutcome::of(Kind::Success) << false << int(cli::ExitSuccess)
                             << "quarnel-cli: 10.0.0.8: upload complete, 4096 bytes written";
    QTest::newRow("success, verified") << UploadOutcome::of(Kind::Success) << true << int(cli::ExitSuccess)
                                       << "quarnel-cli: 10.0.0.8: upload complete, 4096 bytes written and verified";
    QTest::newRow("data port") << UploadOutcome::of(Kind::DataPortUnreachable) << false << int(cli::ExitUnreachable)
                               << failed + "module data port unreachable; check that the module is on and on this "
                                           "network, that 8000 is its data port";
    QTest::newRow("AT port") << UploadOutcome::of(Kind::AtPortUnreachable) << false << int(cli::ExitUnreachable)
                             << failed + "module AT-command port unreachable; check that 8001 is the module's";
    UploadOutcome lost = UploadOutcome::of(Kind::DataPortUnreachable);
    lost.partlyWritten = true;
    QTest::newRow("data port, after a partial write: not untouched")
        << lost << false << int(cli::ExitUploadFailed) << failed + "module data port unreachable after a partial write;";
    QTest::newRow("mode switch") << UploadOutcome::modeSwitchRefused(2) << false << int(cli::ExitUploadFailed)
                                 << failed + "module refused the upload mode at AT command 2; check that port 8001";
    QTest::newRow("bootloader") << UploadOutcome::bootloaderSilent("get sync") << false << int(cli::ExitUploadFailed)
                                << failed + "bootloader did not answer get sync; check that the board is a UNO (--board)";
    QTest::newRow("wrong reply") << UploadOutcome::wrongReply("get sync", "expected 14 10, got 15 15") << false
                                 << int(cli::ExitUploadFailed)
                                 << failed + "bootloader answered get sync wrongly (expected 14 10, got 15 15); check "
                                             "that the board is a UNO (--board)";
    QTest::newRow("another chip") << UploadOutcome::chipMismatch(*upload::findBoard("UNO"), QByteArray::fromHex("1e9801"))
                                  << false << int(cli::ExitUploadFailed)
                                  << failed + "the board answers as an ATmega2560 (MEGA2560), not an ATmega328P (UNO); "
                                              "nothing was written; upload with --board MEGA2560 an image built for an "
                                              "ATmega2560";
    QTest::newRow("page") << UploadOutcome::pageNotAcknowledged(7, "program page") << false << int(cli::ExitUploadFailed)
                          << failed + "page 7 not acknowledged (program page); the link dropped";
    QTest::newRow("verify mismatch") << UploadOutcome::verifyMismatch(0x1234) << true << int(cli::ExitVerifyFailed)
                                     << failed + "verify: flash differs from the image at 0x01234; the board";
    QTest::newRow("verify read") << UploadOutcome::verifyReadFailed(0x100) << true << int(cli::ExitVerifyFailed)
                                 << failed + "verify: flash at 0x00100 could not be read back;";
    QTest::newRow("image too large") << UploadOutcome::imageTooLarge(40960, *upload::findBoard("UNO")) << false
                                     << int(cli::ExitFirmwareFile)
                                     << failed + "image of 40960 bytes is larger than the application area of a UNO "
                                                 "(32256 bytes); check that the HEX file is a program for a UNO";
    QTest::newRow("image empty") << UploadOutcome::of(Kind::ImageEmpty) << false << int(cli::ExitFirmwareFile)
                                 << failed + "image file is empty;";
    QTest::newRow("ended short of the image") << UploadOutcome::of(Kind::Incomplete) << false << int(cli::ExitUploadFailed)
                                   << failed + "upload ended before every page was acknowledged;";
    QTest::newRow("unknown board") << UploadOutcome::of(Kind::UnknownBoard) << false << int(cli::ExitUsage)
                                   << failed + "unknown board type;";
    QTest::newRow("not run") << UploadOutcome() << false << int(cli::ExitUploadFailed) << failed + "upload not run";
}

void tst_CliLogic::verdicts()
{
    QFETCH(UploadOutcome, outcome);
    QFETCH(bool, verify);
    QFETCH(int, exitCode);
    QFETCH(QString, line);

    const cli::Verdict verdict = cli::uploadVerdict(outcome, {"10.0.0.8", 8000, 8001, "UNO"}, 4096, verify);
    QCOMPARE(verdict.exitCode, exitCode);
    QVERIFY2(verdict.line.startsWith(line), qPrintable(verdict.line));
    QVERIFY(!verdict.line.contains('\n'));
}

void tst_CliLogic::percent_data()
{
    QTest::addColumn<float>("fraction");
    QTest::addColumn<int>("percent");

    QTest::newRow("nothing") << 0.0f << 0;
    QTest::newRow("0.29 truncates as the window's cell") << 0.29f << 28;
    QTest::newRow("half") << 0.5f << 50;
    QTest::newRow("all") << 1.0f << 100;
    QTest::newRow("above 1 stays 100") << 1.5f << 100;
    QTest::newRow("negative") << -0.5f << 0;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 0;
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 0;
}

void tst_CliLogic::percent()
{
    QFETCH(float, fraction);
    QFETCH(int, percent);
    QCOMPARE(cli::ProgressPrinter::percentOf(fraction), percent);
}

void tst_CliLogic::progressLines()
{
    QCOMPARE(cli::ProgressPrinter::line("10.0.0.8", 42, false), QStringLiteral("10.0.0.8: 42%"));
    const QString bar = cli::ProgressPrinter::line("10.0.0.8", 50, true);
    QCOMPARE(bar, QStringLiteral("10.0.0.8 [") + QString(20, '#') + QString(20, ' ') + QStringLiteral("]  50%"));
    QCOMPARE(cli::ProgressPrinter::line("x", 100, true), QStringLiteral("x [") + QString(40, '#') + QStringLiteral("] 100%"));

    // Plain output: one line per new whole percentage, none repeated.
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("out.txt"));
    FILE *out = std::fopen(path.constData(), "w");
    QVERIFY(out);
    cli::ProgressPrinter printer(out, false, "m");
    for (float f : {0.10f, 0.101f, 0.5f, 0.5f, 1.0f})
        printer.show(f);
    printer.end();
    std::fclose(out);
    QFile written(QString::fromLocal8Bit(path));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("m: 10%\nm: 50%\nm: 100%\n"));
    written.close();

    // What comes after the last page is named once, when 100% is reached.
    for (bool terminal : {false, true}) {
        out = std::fopen(path.constData(), "w");
        QVERIFY(out);
        cli::ProgressPrinter next(out, terminal, "m", "verifying");
        for (float f : {0.5f, 1.0f, 1.0f})
            next.show(f);
        next.end();
        std::fclose(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), terminal ? "\r" + cli::ProgressPrinter::line("m", 50, true).toLatin1() + "\r"
                                                   + cli::ProgressPrinter::line("m", 100, true).toLatin1() + " verifying\n"
                                             : QByteArray("m: 50%\nm: 100%\nm: verifying\n"));
        written.close();
    }
}

void tst_CliLogic::timeoutScale_data()
{
    QTest::addColumn<QByteArray>("value"); // empty: unset
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("scale");

    QTest::newRow("unset") << QByteArray() << true << 1.0;
    QTest::newRow("a tenth") << QByteArray("0.1") << true << 0.1;
    QTest::newRow("zero") << QByteArray("0") << false << 1.0;
    QTest::newRow("above 1") << QByteArray("2") << false << 1.0;
    QTest::newRow("text") << QByteArray("fast") << false << 1.0;
}

void tst_CliLogic::timeoutScale()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, accepted);
    QFETCH(double, scale);

    if (value.isEmpty())
        qunsetenv("QUARNEL_TEST_TIMEOUT_SCALE");
    else
        qputenv("QUARNEL_TEST_TIMEOUT_SCALE", value);
    double actual = -1;
    QString error;
    QCOMPARE(cli::testTimeoutScale(&actual, &error), accepted);
    QCOMPARE(actual, scale);
    QCOMPARE(error.isEmpty(), accepted);
    qunsetenv("QUARNEL_TEST_TIMEOUT_SCALE");
}

void tst_CliLogic::sketchbookFromPreferences_data()
{
    QTest::addColumn<QByteArray>("preferences");
    QTest::addColumn<QString>("sketchbook");
    QTest::newRow("among others") << QByteArray("board=uno\nsketchbook.path=/home/u/My Sketches\nupload.verify=true\n")
                                  << "/home/u/My Sketches";
    QTest::newRow("Windows line ends and path") << QByteArray("sketchbook.path=C:\\Users\\u\\Arduino\r\n")
                                                << "C:\\Users\\u\\Arduino";
    QTest::newRow("none named") << QByteArray("sketchbook.path.old=/x\nsketchbook.path=\n") << "";
#ifdef Q_OS_LINUX
    QTest::newRow("the last line wins, this system's key as the plain one")
        << QByteArray("sketchbook.path=/a\n#sketchbook.path=/b\nsketchbook.path.linux=/c\nsketchbook.path.windows=D:\\x\n"
                      "sketchbook.path=/d\nsketchbook.path.linux = /e\n")
        << "/e";
#endif
}

// The monitor's standard output: a reader that does not read holds up nothing, what waits is
// bounded, and what did not get out is counted.
void tst_CliLogic::outputQueue()
{
    struct Stream
    {
        QSemaphore entered;
        QSemaphore go;
        QMutex mutex;
        QByteArray taken;
    };
    const auto stream = std::make_shared<Stream>();
    const int max = cli::OutputQueue::MaxQueuedBytes;
    {
        cli::OutputQueue queue([stream](const char *bytes, qint64 size) {
            stream->entered.release();
            stream->go.acquire(); // a reader that does not read until told
            const QMutexLocker lock(&stream->mutex);
            stream->taken.append(bytes, int(size));
            return size;
        });
        queue.write("abc");
        QVERIFY(stream->entered.tryAcquire(1, 5000)); // the first write is under way, and blocked
        queue.write(QByteArray(max, 'm'));
        queue.write("x"); // beyond the bound: dropped
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(queue.finish(10), qint64(3 + max + 1));
        QVERIFY(clock.elapsed() < 5000);
        stream->go.release(2);
        QCOMPARE(queue.finish(5000), qint64(1));
        QVERIFY(!queue.failed());
    }
    const QMutexLocker lock(&stream->mutex);
    QCOMPARE(stream->taken, "abc" + QByteArray(max, 'm'));

    cli::OutputQueue refused([](const char *, qint64) { return qint64(-1); });
    refused.write("lost");
    QCOMPARE(refused.finish(5000), qint64(4));
    QVERIFY(refused.failed());
}

// A result that did not reach standard output is a failure, said on standard error.
void tst_CliLogic::lostOutput_data()
{
    QTest::addColumn<bool>("wasOpen");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("checked");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("written") << true << true << int(cli::ExitSuccess) << int(cli::ExitSuccess) << QByteArray();
    QTest::newRow("write refused") << true << false << int(cli::ExitSuccess) << int(cli::ExitOutputLost)
                                   << QByteArray("quarnel-cli: standard output could not be written (");
    QTest::newRow("closed from the start") << false << true << int(cli::ExitSuccess) << int(cli::ExitOutputLost)
                                           << QByteArray("quarnel-cli: standard output is closed: the result is lost\n");
    QTest::newRow("a failure keeps its code") << true << false << int(cli::ExitUnreachable) << int(cli::ExitUnreachable)
                                              << QByteArray("quarnel-cli: standard output could not be written (");
}

void tst_CliLogic::lostOutput()
{
    QFETCH(bool, wasOpen);
    QFETCH(bool, writable);
    QFETCH(int, exitCode);
    QFETCH(int, checked);
    QFETCH(QByteArray, said);
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("out.txt"));
    std::fclose(std::fopen(path.constData(), "w"));
    FILE *out = std::fopen(path.constData(), writable ? "w" : "r"); // "r": every write fails
    QVERIFY(out);
    std::fputs("the result\n", out);
    StderrCapture captured;
    QCOMPARE(cli::outputChecked(out, wasOpen, exitCode), checked);
    std::fclose(out);
    QVERIFY2(captured.text().startsWith(said) && captured.text().isEmpty() == said.isEmpty(), captured.text().constData());
}

// The path of quarnel-cli as the platform's patterns carry it: each pattern splits, under the
// sketch build tools' rule, into the program and its arguments; a path no quoting carries, or
// one the tools would expand, is refused.
void tst_CliLogic::platformPatterns_data()
{
    QTest::addColumn<QString>("cli");
    QTest::addColumn<QString>("problem");
    QTest::newRow("blanks") << "/opt/my  tools/quarnel-cli" << "";
    QTest::newRow("a quote ending a word") << "/home/u/\"x\" y'/quarnel-cli" << "";
    QTest::newRow("an apostrophe ending a word") << "/home/u's' \"b/quarnel-cli" << "";
    QTest::newRow("both quotes ending words") << "/a\" b' c/quarnel-cli" << "it holds both quotes";
    QTest::newRow("a placeholder") << "/home/u/brace{path}/quarnel-cli" << "the sketch build tools would read its";
    QTest::newRow("a lone brace") << "/home/u/{x/quarnel-cli" << "";
    QTest::newRow("a line end") << "/home/u/a\nb/quarnel-cli" << "it holds a line end";
}

void tst_CliLogic::platformPatterns()
{
    QFETCH(QString, cli);
    QFETCH(QString, problem);
    QString found;
    const QVector<cli::PlatformFile> files = cli::idePlatformFiles(cli, &found);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.startsWith(problem), qPrintable(found));
    QCOMPARE(files.isEmpty(), !problem.isEmpty());
    if (files.isEmpty())
        return;
    // Each pattern as the tools expand it: the keys it names, then split.
    QHash<QString, QString> keys;
    for (const QByteArray &line : files.last().contents.split('\n')) {
        const int equals = line.indexOf('=');
        if (!line.startsWith('#') && equals > 0)
            keys[QString::fromUtf8(line.left(equals))] = QString::fromUtf8(line.mid(equals + 1));
    }
    const QVector<QPair<QString, QString>> patterns{
        {"discovery.quarnel.pattern", "discovery"},
        {"pluggable_discovery.quarnel.pattern", "discovery"},
        {"pluggable_monitor.pattern.network", "pluggable-monitor"},
        {"tools.quarnel.upload.pattern", "upload"},
        {"tools.quarnel.upload.network_pattern", "upload"}};
    for (const auto &pattern : patterns) {
        QString line = keys.value(pattern.first);
        line.replace("{path}", keys.value("discovery.quarnel.path")).replace("{cmd.path}", keys.value("tools.quarnel.cmd.path"));
        const std::optional<QStringList> arguments = cli::toolArguments(line);
        QVERIFY2(arguments && arguments->size() >= 2, qPrintable(line));
        QCOMPARE(arguments->mid(0, 2), (QStringList{cli, pattern.second}));
    }
}

void tst_CliLogic::sketchbookFromPreferences()
{
    QFETCH(QByteArray, preferences);
    QFETCH(QString, sketchbook);
    QCOMPARE(cli::sketchbookFromPreferences(preferences), sketchbook);
}

// ide-setup's files name the quarnel-cli that wrote them, and running it again replaces them.
void tst_CliLogic::platformWrittenAndUpdated()
{
    QTemporaryDir sketchbook;
    const QString dir = cli::platformDirectory(sketchbook.path() + "/");
    QCOMPARE(dir, sketchbook.path() + "/hardware/quarnel/avr");
    QString error;
    QVERIFY(cli::writePlatform(dir, cli::idePlatformFiles("/old/quarnel-cli", &error), &error));
    QVERIFY(cli::writePlatform(dir, cli::idePlatformFiles("/opt/q/quarnel-cli", &error), &error));
    QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList({"boards.txt", "platform.txt"}));
    const QByteArray platformTxt = readFile(dir + "/platform.txt");
    QVERIFY(platformTxt.contains("\ntools.quarnel.cmd.path=/opt/q/quarnel-cli\n"));
    QVERIFY(platformTxt.contains("\ndiscovery.quarnel.path=/opt/q/quarnel-cli\n"));
    QVERIFY(platformTxt.contains("\nversion=" QUARNEL_VERSION "\n"));
    QVERIFY(!platformTxt.contains("/old/") && !platformTxt.contains('@'));
    QVERIFY(readFile(dir + "/boards.txt").contains("\nuno.name=Arduino UNO via Wi-Fi\n"));

    QVERIFY(QFile::remove(dir + "/boards.txt") && QDir().mkdir(dir + "/boards.txt"));
    QVERIFY(!cli::writePlatform(dir, cli::idePlatformFiles("/opt/q/quarnel-cli", &error), &error));
    QVERIFY2(error.startsWith("cannot write " + QDir::toNativeSeparators(dir + "/boards.txt")), qPrintable(error));
}

void tst_CliLogic::glob_data()
{
    QTest::addColumn<QString>("glob");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");

    QTest::newRow("prefix") << "uno-*" << "uno-12" << true;
    QTest::newRow("prefix, other name") << "uno-*" << "mega-1" << false;
    QTest::newRow("whole text only") << "uno" << "uno-1" << false;
    QTest::newRow("letter case counts") << "uno-*" << "UNO-1" << false;
    QTest::newRow("question mark, one character") << "bench-?" << "bench-7" << true;
    QTest::newRow("star backtracks") << "*-a*b" << "x-aab-a-ab" << true;
    QTest::newRow("star backtracks, no match") << "*-a*b" << "x-aab-a-ac" << false;
    QTest::newRow("slash is a character") << "a*c" << "a/b/c" << true;
    QTest::newRow("star where the name holds one") << "uno*" << "uno*1" << true;
}

void tst_CliLogic::glob()
{
    QFETCH(QString, glob);
    QFETCH(QString, text);
    QFETCH(bool, matches);
    QCOMPARE(cli::globMatches(glob, text), matches);
}

// --all --name: the modules whose name matches, their ports from the announcement unless given;
// a module that announces no port is a failed board of its own, not a crash or a skip.
void tst_CliLogic::boardsHeardByName()
{
    const auto heard = [](const char *ip, const char *name, const char *data, const char *at) {
        discovery::Announcement a;
        a.hostIp = QLatin1String(ip);
        a.hostName = QLatin1String(name);
        a.dataPort = QLatin1String(data);
        a.atPort = QLatin1String(at);
        return a;
    };
    const QVector<discovery::Announcement> modules{
        heard("10.0.0.1", "uno-1", "8000", "8001"), heard("10.0.0.2", "mega-1", "8000", "8001"),
        heard("10.0.0.3", "uno-2", "", "8001")};

    const QVector<cli::Board> boards = cli::boardsHeard(modules, "uno-*", {QString(), 0, 0, "UNO"});
    QCOMPARE(boards.size(), 2);
    QCOMPARE(boards.at(0).target.ip, QStringLiteral("10.0.0.1"));
    QCOMPARE(boards.at(0).hostName, QStringLiteral("uno-1"));
    QCOMPARE(int(boards.at(0).target.dataPort), 8000);
    QCOMPARE(int(boards.at(0).target.atPort), 8001);
    QCOMPARE(boards.at(0).state, cli::Board::State::Waiting);
    QCOMPARE(boards.at(1).state, cli::Board::State::Failed);
    QCOMPARE(boards.at(1).exitCode, int(cli::ExitUnreachable));
    QCOMPARE(boards.at(1).failure, QStringLiteral("announces the data port \"\", which is no port number"));

    // Ports given on the command line win over the announced ones.
    const QVector<cli::Board> given = cli::boardsHeard(modules, "uno-2", {QString(), 9000, 9001, "UNO"});
    QCOMPARE(given.size(), 1);
    QCOMPARE(given.at(0).state, cli::Board::State::Waiting);
    QCOMPARE(int(given.at(0).target.dataPort), 9000);

    cli::Board silent;
    silent.target.ip = "10.0.0.9";
    cli::takeAnnouncement(&silent, nullptr, 2.5);
    QCOMPARE(silent.failure, QStringLiteral("no announcement on UDP port 3333 within 2.5 s"));
    QVERIFY(silent.verdictLine.startsWith("quarnel-cli: upload to 10.0.0.9 failed: no announcement"));
}

void tst_CliLogic::summary()
{
    cli::Board done;
    done.target = {"10.0.0.1", 8000, 8001, "UNO"};
    done.hostName = "uno 1\x1b";
    done.state = cli::Board::State::Done;
    done.bytes = 32256;
    done.seconds = 6.04;
    done.retries = 1;
    cli::Board failed = done;
    failed.target.ip = "10.0.0.2";
    failed.hostName.clear();
    failed.state = cli::Board::State::Failed;
    failed.failure = "bootloader did not answer get sync";
    failed.exitCode = cli::ExitUploadFailed;
    failed.bytes = 0;
    failed.retries = 0;
    const QVector<cli::Board> boards{done, failed};

    QCOMPARE(cli::summaryTable(boards, true).split('\n'),
             (QStringList{"IP        HOSTNAME  BYTES  SECONDS  RETRIES  RESULT",
                          "10.0.0.1  uno?1?    32256  6.0      1        written and verified",
                          "10.0.0.2  -         0      6.0      0        failed: bootloader did not answer get sync",
                          "1 of 2 boards written and verified", ""}));
    QCOMPARE(cli::countLine({done, done}, false), QStringLiteral("2 of 2 boards written"));

    QJsonParseError parseError{};
    const QJsonObject json = QJsonDocument::fromJson(cli::summaryJson(boards, false, 1), &parseError).object();
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    QCOMPARE(json.value("written").toInt(), 1);
    QCOMPARE(json.value("total").toInt(), 2);
    QCOMPARE(json.value("exitCode").toInt(), 1);
    const QJsonArray list = json.value("boards").toArray();
    QCOMPARE(list.at(0).toObject().value("hostname").toString(), QStringLiteral("uno 1\x1b"));
    QCOMPARE(list.at(0).toObject().value("result").toString(), QStringLiteral("written"));
    QVERIFY(list.at(0).toObject().value("error").isNull());
    QCOMPARE(list.at(0).toObject().value("retries").toInt(), 1);
    QCOMPARE(list.at(1).toObject().value("result").toString(), QStringLiteral("failed"));
    QCOMPARE(list.at(1).toObject().value("error").toString(), failed.failure);
    QCOMPARE(list.at(1).toObject().value("exitCode").toInt(), 1);
}

void tst_CliLogic::worstExitCode_data()
{
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("all written") << QList<int>{0, 0} << 0;
    QTest::newRow("unreachable") << QList<int>{0, 3} << 3;
    QTest::newRow("verify failed before unreachable") << QList<int>{3, 5, 0} << 5;
    QTest::newRow("upload failed first") << QList<int>{5, 3, 1} << 1;
}

void tst_CliLogic::worstExitCode()
{
    QFETCH(QList<int>, statuses);
    QFETCH(int, exitCode);
    QVector<cli::Board> boards;
    for (int status : statuses) {
        cli::Board b;
        b.exitCode = status;
        boards.append(b);
    }
    QCOMPARE(cli::worstExitCode(boards), exitCode);
}

void tst_CliLogic::displayLines()
{
    cli::Board b;
    b.target.ip = "10.0.0.1";
    b.hostName = "uno-1";
    b.state = cli::Board::State::Writing;
    b.fraction = 0.5f;
    QCOMPARE(cli::BoardDisplay::boardLine(b, 7),
             QStringLiteral("uno-1    10.0.0.1         [##########          ]  50%  writing"));
    b.state = cli::Board::State::Retrying;
    b.retries = 2;
    QCOMPARE(cli::BoardDisplay::eventLine(b), QStringLiteral("10.0.0.1 (uno-1): retry 2"));

    // Plain output: a line per new state and per tenth written, none repeated.
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("out.txt"));
    FILE *out = std::fopen(path.constData(), "w");
    QVERIFY(out);
    QVector<cli::Board> boards{b};
    boards[0].state = cli::Board::State::Connecting;
    boards[0].hostName.clear();
    {
        cli::BoardDisplay display(out, false, &boards);
        const auto step = [&](cli::Board::State state, float fraction) {
            boards[0].state = state;
            boards[0].fraction = fraction;
            display.changed(0);
        };
        step(cli::Board::State::Writing, 0.05f);
        step(cli::Board::State::Writing, 0.15f);
        step(cli::Board::State::Writing, 0.19f);
        step(cli::Board::State::Writing, 0.31f);
        boards[0].failure = "page 9 not acknowledged (program page)";
        step(cli::Board::State::Failed, 0.31f);
        display.end();
    }
    std::fclose(out);
    QCOMPARE(readFile(QString::fromLocal8Bit(path)),
             QByteArray("10.0.0.1: connecting\n10.0.0.1: writing\n10.0.0.1: 10%\n10.0.0.1: 30%\n"
                        "10.0.0.1: failed: page 9 not acknowledged (program page)\n"));
}

QTEST_GUILESS_MAIN(tst_CliLogic)
#include "tst_clilogic.moc"
