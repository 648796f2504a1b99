// quarnel-cli on the real discovery port: scan lists simulated modules with their names and
// ports; upload and rename take missing ports from the module's announcement, and say so
// clearly when none comes or what comes is unusable; hostile datagrams do not upset a scan;
// upload --all --name writes every module of that name; a module that never announces, added by
// address, is listed, written and renamed all the same.
#include "simprocess.h"
#include "cliprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>

namespace {

const int AnnouncePeriodMs = 200; // of the simulated modules here
const int RunMs = 30000;

// Runs the tool while sending `datagrams` to the discovery port every 100 ms.
CliRun runWhileAnnouncing(const QStringList &arguments, const QList<QByteArray> &datagrams)
{
    QUdpSocket sender;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, &sender, [&sender, &datagrams] {
        for (const QByteArray &d : datagrams)
            sender.writeDatagram(d, QHostAddress::LocalHost, 3333);
    });
    timer.start();
    QProcess process;
    QSignalSpy finished(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    startCli(process, arguments);
    finished.wait(RunMs);
    timer.stop();
    return finishCli(process, 0);
}

QJsonArray scanJson(const CliRun &run)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(run.out, &error);
    return error.error == QJsonParseError::NoError ? doc.array() : QJsonArray();
}

QJsonObject moduleAt(const QJsonArray &modules, const QString &ip)
{
    for (const QJsonValue &m : modules) {
        if (m.toObject().value("ip").toString() == ip)
            return m.toObject();
    }
    return QJsonObject();
}

} // namespace

class tst_CliScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scanListsModules_data();
    void scanListsModules();
    void scanOfHostileDatagrams();
    void uploadWithAnnouncedPorts();
    void renameWithAnnouncedPort();
    void noUsableAnnouncement_data();
    void noUsableAnnouncement();
    void uploadToAllNamed();
    void thousandModulesUnderFileLimit();
    void interruptWhileListening();
    void moduleAddedByAddress();
    void discoveryPortComesAndGoes();
    void discoveryStartsWithModulesHeardLately();
};

void tst_CliScan::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
}

void tst_CliScan::scanListsModules_data()
{
    QTest::addColumn<bool>("json");
    QTest::newRow("table") << false;
    QTest::newRow("JSON") << true;
}

void tst_CliScan::scanListsModules()
{
    QFETCH(bool, json);

    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.180", "--count", "3", "--name", "bench", "--board", "none", "--announce-ms",
                        QString::number(AnnouncePeriodMs)}),
             qPrintable(sim.errorText()));
    QStringList arguments{"scan", "--seconds", "1"};
    if (json)
        arguments << "--json";
    const CliRun run = runCli(arguments, QString(), {}, RunMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());

    const QJsonArray modules = scanJson(run);
    const QList<QByteArray> lines = run.outLines();
    if (!json)
        QCOMPARE(lines.first().simplified(), QByteArray("IP DATA AT AGE HOSTNAME"));
    for (int i = 0; i < 3; ++i) {
        const QString ip = sim.ip(i).toString();
        const QString name = QStringLiteral("bench-%1").arg(i + 1);
        if (json) {
            const QJsonObject m = moduleAt(modules, ip);
            QVERIFY2(!m.isEmpty(), run.out.constData());
            QCOMPARE(m.value("hostname").toString(), name);
            QCOMPARE(m.value("dataPort").toString(), QString::number(sim.dataPort()));
            QCOMPARE(m.value("atPort").toString(), QString::number(sim.atPort()));
            QVERIFY(m.value("secondsSinceHeard").toDouble() < 1.0);
        } else {
            const auto row = std::find_if(lines.begin(), lines.end(),
                                          [&ip](const QByteArray &l) { return l.startsWith(ip.toUtf8() + ' '); });
            QVERIFY2(row != lines.end(), run.out.constData());
            const QList<QByteArray> fields = row->simplified().split(' ');
            QCOMPARE(fields.size(), 5);
            QCOMPARE(fields.at(1), QByteArray::number(sim.dataPort()));
            QCOMPARE(fields.at(2), QByteArray::number(sim.atPort()));
            QVERIFY(fields.at(3).toDouble() < 1.0);
            QCOMPARE(fields.at(4), name.toUtf8());
        }
    }
    QVERIFY(sim.stop());
}

// Junk of every kind around one good announcement: the scan lists the good one, prints no
// control character, and ends on time.
void tst_CliScan::scanOfHostileDatagrams()
{
    const QList<QByteArray> datagrams{
        QByteArray(60000, '{'),
        QByteArray("not an object"),
        QByteArray(16, '\0'),
        QByteArray(R"({"hostname":"no address"})"),
        QByteArray(R"({"host ip":"127.0.0.181","data port":8000,"atcomd port":8001,"hostname":"x\u001b]0;owned\u0007y"})"),
    };
    const CliRun run = runWhileAnnouncing({"scan", "--seconds", "0.8"}, datagrams);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    const QList<QByteArray> lines = run.outLines();
    const auto row = std::find_if(lines.begin(), lines.end(),
                                  [](const QByteArray &l) { return l.startsWith("127.0.0.181 "); });
    QVERIFY2(row != lines.end(), run.out.constData());
    QCOMPARE(row->simplified(), QByteArray("127.0.0.181 8000 8001 ") + row->simplified().split(' ').at(3)
                                    + " x?]0;owned?y");
    QVERIFY(!run.out.contains('\x1b') && !run.out.contains('\x07'));
    QVERIFY(!run.out.contains("no address"));
}

void tst_CliScan::uploadWithAnnouncedPorts()
{
    const QByteArray bin = readFile(avrPath("blink_uno.bin"));
    QVERIFY(!bin.isEmpty());
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.182", "--board", "UNO", "--control-port", "0", "--announce-ms",
                        QString::number(AnnouncePeriodMs)}),
             qPrintable(sim.errorText()));
    const CliRun run = runCli({"upload", "--ip", "127.0.0.182", "--board", "UNO", "--verify", avrPath("blink_uno.hex")},
                              QString(), {}, RunMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QCOMPARE(run.outLines().last(),
             QByteArray("quarnel-cli: 127.0.0.182: upload complete, ") + QByteArray::number(bin.size())
                 + " bytes written and verified");
    QCOMPARE(sim.flash().left(bin.size()), bin);
    QVERIFY(sim.stop());
}

// The module's next announcements carry the name it was given.
void tst_CliScan::renameWithAnnouncedPort()
{
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.183", "--board", "none", "--name", "before", "--announce-ms",
                        QString::number(AnnouncePeriodMs)}),
             qPrintable(sim.errorText()));
    const CliRun rename = runCli({"rename", "--ip", "127.0.0.183", "shelf-2"}, QString(), {}, RunMs);
    QVERIFY2(rename.finished && rename.exitCode == 0, rename.printed().constData());
    QCOMPARE(rename.outLines().last(),
             QStringLiteral("quarnel-cli: 127.0.0.183: sent AT+HOSTNAME=shelf-2 to AT-command port %1").arg(sim.atPort()).toUtf8());

    const CliRun scan = runCli({"scan", "--seconds", "1", "--json"}, QString(), {}, RunMs);
    QVERIFY2(scan.finished && scan.exitCode == 0, scan.printed().constData());
    QCOMPARE(moduleAt(scanJson(scan), "127.0.0.183").value("hostname").toString(), QStringLiteral("shelf-2"));
    QVERIFY(sim.stop());
}

void tst_CliScan::noUsableAnnouncement_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("announcement"); // sent meanwhile; empty: none
    QTest::addColumn<QString>("line");

    // Announced ports that are no port numbers make the announcement ignored; these are absent.
    const QByteArray badPorts = R"({"host ip":"127.0.0.185","hostname":"no ports"})";
    QTest::newRow("upload, nobody announces")
        << QStringList{"upload", "--ip", "127.0.0.184", "--board", "UNO", "--seconds", "0.5", avrPath("blink_uno.hex")}
        << QByteArray()
        << "quarnel-cli: no announcement from 127.0.0.184 on UDP port 3333 within 0.5 s; check that the module is on "
           "and on this network (quarnel-cli scan), or give its ports with --data-port and --at-port";
    QTest::newRow("rename, nobody announces")
        << QStringList{"rename", "--ip", "127.0.0.184", "--seconds", "0.5", "n"} << QByteArray()
        << "quarnel-cli: no announcement from 127.0.0.184 on UDP port 3333 within 0.5 s; check that the module is on "
           "and on this network (quarnel-cli scan), or give its ports with --at-port";
    QTest::newRow("upload, no data port")
        << QStringList{"upload", "--ip", "127.0.0.185", "--board", "UNO", avrPath("blink_uno.hex")} << badPorts
        << "quarnel-cli: 127.0.0.185 announces the data port \"\", which is no port number; give it with --data-port";
    QTest::newRow("rename, no AT port")
        << QStringList{"rename", "--ip", "127.0.0.185", "n"} << badPorts
        << "quarnel-cli: 127.0.0.185 announces the AT-command port \"\", which is no port number; give it with "
           "--at-port";
}

void tst_CliScan::noUsableAnnouncement()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, announcement);
    QFETCH(QString, line);

    const CliRun run = announcement.isEmpty() ? runCli(arguments, QString(), {}, RunMs)
                                              : runWhileAnnouncing(arguments, {announcement});
    QVERIFY2(run.finished, run.printed().constData());
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.lastErrorLine(), line.toUtf8());
    QCOMPARE(run.out, QByteArray());
}

// Every module named uno-... flashed in one command; the others are left alone.
void tst_CliScan::uploadToAllNamed()
{
    const QByteArray bin = readFile(avrPath("blink_uno.bin"));
    SimProcess unos;
    SimProcess mega;
    QVERIFY2(unos.start({"--ip", "127.0.0.196", "--count", "2", "--name", "uno", "--board", "UNO", "--control-port", "0",
                         "--announce-ms", QString::number(AnnouncePeriodMs)}),
             qPrintable(unos.errorText()));
    QVERIFY2(mega.start({"--ip", "127.0.0.198", "--name", "mega", "--board", "none", "--announce-ms",
                         QString::number(AnnouncePeriodMs)}),
             qPrintable(mega.errorText()));

    const CliRun run = runCli({"upload", "--all", "--name", "uno-*", "--seconds", "1", "--board", "UNO", "--verify",
                               "--json", avrPath("blink_uno.hex")},
                              QString(), {}, RunMs);
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QJsonParseError error{};
    const QJsonObject summary = QJsonDocument::fromJson(run.out, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, run.out.constData());
    QCOMPARE(summary.value("written").toInt(), 2);
    QCOMPARE(summary.value("total").toInt(), 2);
    QCOMPARE(summary.value("verified").toBool(), true);
    const QJsonArray boards = summary.value("boards").toArray();
    for (int i = 0; i < 2; ++i) {
        const QJsonObject b = boards.at(i).toObject();
        QCOMPARE(b.value("ip").toString(), unos.ip(i).toString());
        QCOMPARE(b.value("hostname").toString(), QStringLiteral("uno-%1").arg(i + 1));
        QCOMPARE(b.value("result").toString(), QStringLiteral("written"));
        QCOMPARE(b.value("bytes").toInt(), bin.size());
        QCOMPARE(unos.flash(i).left(bin.size()), bin);
    }
    // The display went to standard error, one line per event.
    QVERIFY2(run.err.contains("127.0.0.197 (uno-2): done\n"), run.err.constData());
    QVERIFY(!run.err.contains("127.0.0.198"));
    QVERIFY(unos.stop());
    QVERIFY(mega.stop());
}

// A thousand modules, more than 1,024 open files allow at once: every board gets its own verdict
// and the run ends with a summary. Each board holds its sockets for the AT-reply time-out: the
// data port is one module's AT port, the AT port another's that never answers.
void tst_CliScan::thousandModulesUnderFileLimit()
{
    const int count = 1000;
    const QStringList fleetArguments{"--ip", "127.0.16.1", "--count", QString::number(count), "--name", "fleet",
                                     "--board", "none"};
    SimProcess fleet;
    QVERIFY2(fleet.start(fleetArguments + QStringList{"--announce-ms", "500"}), qPrintable(fleet.errorText()));
    SimProcess silent;
    QVERIFY2(silent.start(fleetArguments + QStringList{"--announce-ms", "0", "--at-reply", "none"}),
             qPrintable(silent.errorText()));
    QProcess process;
    // The soft and the hard limit both, so that the tool cannot raise its own.
    process.start("/bin/sh", {"-c", "ulimit -n 1024 && exec \"$0\" \"$@\"", CliRun::program(), "upload", "--all",
                              "--name", "fleet-*", "--seconds", "2", "--board", "UNO", "--json", "--data-port",
                              QString::number(fleet.atPort()), "--at-port", QString::number(silent.atPort()),
                              avrPath("blink_uno.hex")});
    const CliRun run = finishCli(process, RunMs);
    QVERIFY2(run.finished, run.printed().right(2000).constData());
    QCOMPARE(run.exitCode, 1);
    QJsonParseError error{};
    const QJsonObject summary = QJsonDocument::fromJson(run.out, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, run.printed().right(2000).constData());
    QCOMPARE(summary.value("total").toInt(), count);
    for (const QJsonValue &b : summary.value("boards").toArray()) {
        QVERIFY2(b.toObject().value("error").toString() == "module refused the upload mode at AT command 1",
                 QJsonDocument(b.toObject()).toJson().constData());
    }
    QVERIFY(fleet.stop());
    QVERIFY(silent.stop());
}

// Ctrl-C before any module was heard: the listening ends at once, and nothing is left behind.
void tst_CliScan::interruptWhileListening()
{
    QTemporaryDir temp;
    const QDir tempDir(temp.path());
    QProcess process;
    startCli(process, {"upload", "--all", "--name", "nobody-*", "--seconds", "30", "--board", "UNO",
                       avrPath("blink_uno.hex")},
             QString(), {"TMPDIR=" + temp.path()});
    // The image is written once the signals are taken.
    QTRY_VERIFY(!tempDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    ::kill(pid_t(process.processId()), SIGINT);
    const CliRun run = finishCli(process, RunMs / 10);
    QVERIFY2(run.finished, run.printed().constData());
    QCOMPARE(run.exitCode, 130);
    QCOMPARE(run.lastErrorLine(), QByteArray("quarnel-cli: interrupted before a module whose host name matches "
                                             "\"nobody-*\" was heard; nothing uploaded"));
    QCOMPARE(tempDir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// A module on a network that drops broadcasts: added once, then scanned, uploaded to with --all
// and with --ip (no announcement waited for), renamed and removed.
void tst_CliScan::moduleAddedByAddress()
{
    QTemporaryDir config;
    const QStringList env{"XDG_CONFIG_HOME=" + config.path()};
    const auto cli = [&env](const QStringList &arguments) { return runCli(arguments, QString(), env, RunMs); };
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.187", "--board", "UNO", "--name", "unheard", "--announce-ms", "0"}),
             qPrintable(sim.errorText()));
    const QString ip = sim.ip().toString();
    CliRun run = cli({"modules", "add", ip, "--data-port", QString::number(sim.dataPort()), "--at-port",
                      QString::number(sim.atPort()), "--name", "shelf"});
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());

    run = cli({"scan", "--seconds", "0.5", "--json"});
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    const QJsonObject listed = moduleAt(scanJson(run), ip);
    QCOMPARE(listed.value("hostname").toString(), QStringLiteral("shelf"));
    QCOMPARE(listed.value("known").toBool(), true);
    QVERIFY(listed.value("secondsSinceHeard").isNull());

    // The IDE's Port menu lists it too, from the same probe.
    QProcess discovery;
    startCli(discovery, {"discovery"}, QString(), env);
    QVERIFY(discovery.waitForStarted());
    discovery.write("START_SYNC\n");
    QByteArray events;
    const QByteArray port = "\"label\":\"shelf at " + ip.toUtf8() + "\",\"prefs\":{\"auth_upload\":\"no\",\"port\":\""
                            + QByteArray::number(sim.dataPort()) + ':' + QByteArray::number(sim.atPort()) + '"';
    QTRY_VERIFY2_WITH_TIMEOUT((events += discovery.readAllStandardOutput()).contains(port), events.constData(), RunMs);
    discovery.write("QUIT\n");
    QVERIFY(finishCli(discovery, RunMs).finished);

    const QByteArray bin = readFile(avrPath("blink_uno.bin"));
    const int pages = 1 + int(bin.size() - 1) / 128;
    run = cli({"upload", "--all", "--name", "shelf", "--seconds", "0.5", "--board", "UNO", "--json", avrPath("blink_uno.hex")});
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QCOMPARE(QJsonDocument::fromJson(run.out).object().value("written").toInt(), 1);
    QCOMPARE(sim.pagesWritten(), pages);
    run = cli({"upload", "--ip", ip, "--seconds", "0.5", "--board", "UNO", avrPath("blink_uno.hex")});
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QCOMPARE(sim.pagesWritten(), 2 * pages);
    QCOMPARE(sim.flash().left(bin.size()), bin);

    run = cli({"rename", "--ip", ip, "--seconds", "0.5", "shelf-2"});
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    run = cli({"modules", "list"});
    QCOMPARE(run.outLines().value(1).simplified(),
             QStringLiteral("%1 %2 %3 shelf-2").arg(ip).arg(sim.dataPort()).arg(sim.atPort()).toUtf8());
    run = cli({"modules", "remove", ip});
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QCOMPARE(cli({"modules", "list", "--json"}).out.simplified(), QByteArray("[ ]"));
    QVERIFY(sim.stop());
}

// quarnel-cli discovery as arduino-cli starts it: a module becomes a port with its name and
// ports, and is removed once it has fallen silent (the window's presence rule).
void tst_CliScan::discoveryPortComesAndGoes()
{
    QProcess discovery;
    startCli(discovery, {"discovery"});
    QVERIFY(discovery.waitForStarted());
    discovery.write("HELLO 1 \"arduino-cli test\"\nSTART_SYNC\n");
    QByteArray out;
    const auto waitFor = [&](const QByteArray &text, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (!out.contains(text) && clock.elapsed() < ms && discovery.state() == QProcess::Running) {
            discovery.waitForReadyRead(100);
            out += discovery.readAllStandardOutput();
        }
        return out.contains(text);
    };
    QVERIFY2(waitFor("\"start_sync\"", RunMs), out.constData());
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", "127.0.0.121", "--board", "none", "--name", "ide-port", "--at-port", "8001",
                        "--announce-ms", QString::number(AnnouncePeriodMs)}),
             qPrintable(sim.errorText()));
    QVERIFY2(waitFor(R"({"eventType":"add","port":{"address":"127.0.0.121","label":"ide-port at 127.0.0.121",)"
                     R"("properties":{"atport":"8001","dataport":"8000","hostname":"ide-port"},"protocol":"network",)"
                     R"("protocolLabel":"Quarnel Wi-Fi modules"}})" "\n",
                     RunMs),
             out.constData());
    QVERIFY(sim.stop());
    QVERIFY2(waitFor(R"({"eventType":"remove","port":{"address":"127.0.0.121","protocol":"network"}})" "\n", RunMs),
             out.constData());
    discovery.write("QUIT\n");
    const CliRun run = finishCli(discovery, RunMs);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(out.startsWith("{\"eventType\":\"hello\",\"message\":\"OK\",\"protocolVersion\":1}\n"
                           "{\"eventType\":\"start_sync\",\"message\":\"OK\"}\n"));
    QVERIFY2(run.out.endsWith("{\"eventType\":\"quit\",\"message\":\"OK\"}\n"), run.printed().constData());
    QCOMPARE(run.err, QByteArray());
}

// arduino-cli gives a discovery one second by default, and a module announces every two: a
// discovery started after another program (here a scan) heard the module reports it at once,
// long before its next announcement.
void tst_CliScan::discoveryStartsWithModulesHeardLately()
{
    QTemporaryDir config;
    const QStringList env{"XDG_CONFIG_HOME=" + config.path()};
    QProcess scanning;
    startCli(scanning, {"scan", "--seconds", "2", "--json"}, QString(), env);
    QVERIFY(scanning.waitForStarted());
    SimProcess sim; // announces as it starts, then a minute later
    QVERIFY2(sim.start({"--ip", "127.0.0.122", "--board", "none", "--name", "heard-once", "--announce-ms", "60000"}),
             qPrintable(sim.errorText()));
    const CliRun scan = finishCli(scanning, RunMs);
    QVERIFY2(scan.finished && scan.exitCode == 0, scan.printed().constData());

    QProcess discovery;
    startCli(discovery, {"discovery"}, QString(), env);
    QVERIFY(discovery.waitForStarted());
    discovery.write("HELLO 1 \"arduino-cli arduino-cli/1.5.1\"\nSTART_SYNC\n");
    QByteArray out;
    QTRY_VERIFY2_WITH_TIMEOUT((out += discovery.readAllStandardOutput()).contains(R"("address":"127.0.0.122")"),
                              out.constData(), 10000);
    discovery.write("QUIT\n");
    QVERIFY(finishCli(discovery, RunMs).finished);
    QVERIFY(sim.stop());
}

QTEST_GUILESS_MAIN(tst_CliScan)
#include "tst_cliscan.moc"
