// quarnel-cli identify, and upload without --board, against simulated boards that run a printing
// application behind their real bootloaders: the board named, its flash unchanged, its
// application running again; a mixed bench written each board as its type; an image whose build
// names another chip refused.
#include "cliprocess.h"
#include "simprocess.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A board of the type, running serialecho ("tick N" every half second).
bool startPrintingBoard(SimProcess &sim, const QString &ip, const QString &board)
{
    const QString app = board == "UNO" ? QStringLiteral("serialecho.hex") : QStringLiteral("serialecho_mega.hex");
    return sim.start({"--ip", ip, "--board", board, "--announce-ms", "0", "--app", avrPath(app)});
}

// The module's data port brings the application's output.
bool applicationRuns(const SimProcess &sim)
{
    QTcpSocket monitor;
    if (!QTest::qWaitFor([&] {
            monitor.connectToHost(sim.ip(), sim.dataPort());
            return monitor.waitForConnected(500);
        }))
        return false;
    QByteArray heard;
    return QTest::qWaitFor([&] { return monitor.waitForReadyRead(100) && (heard += monitor.readAll()).contains("tick"); },
                           3000);
}

QStringList portsOf(const SimProcess &sim)
{
    return {"--data-port", QString::number(sim.dataPort()), "--at-port", QString::number(sim.atPort())};
}

} // namespace

class tst_Identify : public QObject
{
    Q_OBJECT

private slots:
    void identify_data();
    void identify();
    void mixedBenchWithoutBoardType();

private:
    // A configuration directory of the test's own: the board types the runs remember.
    QStringList environment() const { return {"XDG_CONFIG_HOME=" + config.path()}; }
    QTemporaryDir config;
};

void tst_Identify::identify_data()
{
    QTest::addColumn<QString>("board");      // as simulated
    QTest::addColumn<QString>("chosen");     // the type the user chose before, if any
    QTest::addColumn<QString>("json");
    QTest::newRow("UNO") << "UNO" << ""
                         << R"({"board":"UNO","ip":"127.0.0.71","protocol":"stk500v1","signature":"1e950f"})";
    QTest::newRow("MEGA2560") << "MEGA2560" << ""
                              << R"({"board":"MEGA2560","ip":"127.0.0.71","protocol":"stk500v2","signature":"1e9801"})";
    QTest::newRow("the ATmega2560 chosen as zariV3 stays one")
        << "zariV3" << "zariV3" << R"({"board":"zariV3","ip":"127.0.0.71","protocol":"stk500v2","signature":"1e9801"})";
    QTest::newRow("an UNO chosen as zureD0 is an UNO")
        << "UNO" << "zureD0" << R"({"board":"UNO","ip":"127.0.0.71","protocol":"stk500v1","signature":"1e950f"})";
}

void tst_Identify::identify()
{
    QFETCH(QString, board);
    QFETCH(QString, chosen);
    QFETCH(QString, json);
    QFile::remove(config.filePath("quarnel/boards.ini"));
    if (!chosen.isEmpty()) {
        QVERIFY(QDir().mkpath(config.filePath("quarnel")));
        QVERIFY(writeFile(config.filePath("quarnel/boards.ini"), "[127.0.0.71]\nboard=" + chosen.toLatin1() + "\n"));
    }
    SimProcess sim;
    QVERIFY2(startPrintingBoard(sim, "127.0.0.71", board), qPrintable(sim.errorText()));
    QVERIFY(applicationRuns(sim));
    const QByteArray flash = sim.flash();

    const CliRun run = runCli(QStringList{"identify", "--ip", "127.0.0.71", "--json"} + portsOf(sim), QString(),
                              environment());
    QVERIFY2(run.finished && run.exitCode == 0, run.printed().constData());
    QCOMPARE(QJsonDocument::fromJson(run.out).object(), QJsonDocument::fromJson(json.toUtf8()).object());
    QCOMPARE(sim.flash(), flash);
    QVERIFY(applicationRuns(sim));

    // Learned: what the next upload without --board and the window take.
    const QString kept = QJsonDocument::fromJson(run.out).object().value("board").toString();
    QVERIFY(readFile(config.filePath("quarnel/boards.ini")).contains("board=" + kept.toLatin1()));
}

// One HEX file for an UNO and a Mega, no board type given: the UNO remembered from an earlier
// identification, the Mega identified on the way; both written, each by its own protocol. Then
// an image built for the UNO, its ELF beside it, to the Mega: refused, nothing written.
void tst_Identify::mixedBenchWithoutBoardType()
{
    QFile::remove(config.filePath("quarnel/boards.ini"));
    SimProcess uno;
    SimProcess mega;
    QVERIFY2(startPrintingBoard(uno, "127.0.0.72", "UNO"), qPrintable(uno.errorText()));
    QVERIFY2(startPrintingBoard(mega, "127.0.0.73", "MEGA2560"), qPrintable(mega.errorText()));
    for (const SimProcess *sim : {&uno, &mega}) {
        const CliRun added = runCli(QStringList{"modules", "add", sim->ip().toString()} + portsOf(*sim), QString(),
                                    environment());
        QVERIFY2(added.exitCode == 0, added.printed().constData());
    }
    QCOMPARE(runCli(QStringList{"identify", "--ip", "127.0.0.72"}, QString(), environment()).exitCode, 0);

    QTemporaryDir build;
    QVERIFY(writeFile(build.filePath("Blink.ino.hex"), readFile(avrPath("blink_uno.hex"))));
    const CliRun run = runCli({"upload", "--ip", "127.0.0.72", "--ip", "127.0.0.73", "--json", build.filePath("Blink.ino.hex")},
                              QString(), environment());
    QVERIFY2(run.exitCode == 0, run.printed().constData());
    QVERIFY2(run.err.contains("127.0.0.73: board type not known; identified as MEGA2560 (ATmega2560"), run.err.constData());
    QVERIFY2(!run.err.contains("127.0.0.72: board type not known"), run.err.constData());
    const QByteArray image = readFile(avrPath("blink_uno.bin"));
    QCOMPARE(uno.flash().left(image.size()), image);
    QCOMPARE(mega.flash().left(image.size()), image);

    QVERIFY(writeFile(build.filePath("Blink.ino.elf"), readFile(avrPath("blink_uno.elf"))));
    const int pages = mega.pagesWritten();
    const CliRun refused = runCli({"upload", "--ip", "127.0.0.73", build.filePath("Blink.ino.hex")}, QString(), environment());
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains("the image is built for an ATmega328P (UNO), not an ATmega2560 (MEGA2560)"),
             refused.err.constData());
    QCOMPARE(mega.pagesWritten(), pages);
}

QTEST_GUILESS_MAIN(tst_Identify)
#include "tst_identify.moc"
