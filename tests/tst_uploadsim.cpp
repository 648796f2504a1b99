// The upload worker end to end: through a simulated module into the real bootloaders on
// simulated boards; the simulated flash must equal the image byte for byte, and avrdude, an
// independent STK500 client, must read the same bytes back through the module.
#include "avrdude.h"
#include "cliprocess.h"
#include "simprocess.h"
#include "testfiles.h"
#include "thread.h"
#include "uploadpeer.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace upload;

namespace {

const int AvrdudeMs = 120000;
const int UploadMs = 120000;

} // namespace

class tst_UploadSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upload_data();
    void upload();
    void verifyFindsWrongByte_data();
    void verifyFindsWrongByte();
    void twoBoardsAtOnce();
    void printingBoard_data();
    void printingBoard();
};

void tst_UploadSim::initTestCase()
{
    hideUploadTrace();
}

void tst_UploadSim::upload_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("verify"); // read back through the bootloader before leaving
    QTest::addColumn<QStringList>("simArguments");

    QTest::newRow("UNO, a small program, verified") << "UNO" << "blink_uno" << "127.0.0.70" << true << QStringList();
    QTest::newRow("UNO, nearly full") << "UNO" << "full_uno" << "127.0.0.71" << false << QStringList();
    QTest::newRow("MEGA2560, a small program") << "MEGA2560" << "blink_mega" << "127.0.0.72" << false << QStringList();
    QTest::newRow("MEGA2560, every reply in 64 pieces, verified")
        << "MEGA2560" << "blink_mega" << "127.0.0.69" << true << QStringList{"--split-replies", "64"};
    QTest::newRow("MEGA2560, above 64 KiB") << "MEGA2560" << "big_mega" << "127.0.0.73" << false << QStringList();
    QTest::newRow("MEGA2560, above 128 KiB, verified")
        << "MEGA2560" << "huge_mega" << "127.0.0.74" << true << QStringList();
}

void tst_UploadSim::upload()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, ip);
    QFETCH(bool, verify);
    QFETCH(QStringList, simArguments);

    const QString imagePath = avrPath(image + QStringLiteral(".bin"));
    const QByteArray bin = readFile(imagePath);
    QVERIFY2(!bin.isEmpty(), qPrintable(imagePath));
    SimProcess sim;
    QVERIFY2(sim.start(QStringList{"--ip", ip, "--board", board, "--announce-ms", "0"} + simArguments),
             qPrintable(sim.errorText()));

    Thread worker(QString::number(sim.atPort()), QString::number(sim.dataPort()), ip, board);
    worker.setImagePath(imagePath);
    worker.setVerify(verify);
    QElapsedTimer clock;
    clock.start();
    const QList<Report> reports = runWorker(worker, UploadMs);
    qInfo("%s: %d bytes in %lld ms", qPrintable(image), int(bin.size()), clock.elapsed());

    QCOMPARE(worker.outcome().text(), QStringLiteral("upload complete"));
    const int pageSize = board == QLatin1String("UNO") ? 128 : 256;
    QCOMPARE(reportLines(reports), expectedLines(ip, pageFractions(bin.size(), pageSize), 1.0f));
    QCOMPARE(sim.flash().left(bin.size()), bin);
    // avrdude reads the image's length of flash back and compares it with the image.
    avrdudeThroughModule(sim, board, QStringLiteral("flash:v:%1:r").arg(imagePath), AvrdudeMs);
    QVERIFY(sim.stop());
}

void tst_UploadSim::verifyFindsWrongByte_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("flipped");

    QTest::newRow("UNO") << "UNO" << "blink_uno" << "127.0.0.77" << 0x81;
    QTest::newRow("MEGA2560") << "MEGA2560" << "blink_mega" << "127.0.0.78" << 0x102;
}

// The board stores one byte wrong while every reply says OK: only the read-back sees it.
void tst_UploadSim::verifyFindsWrongByte()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, ip);
    QFETCH(int, flipped);

    const QString imagePath = avrPath(image + QStringLiteral(".bin"));
    const QByteArray bin = readFile(imagePath);
    QVERIFY(bin.size() > flipped);
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", board, "--announce-ms", "0", "--flip-address",
                        QString::number(flipped)}),
             qPrintable(sim.errorText()));

    Thread worker(QString::number(sim.atPort()), QString::number(sim.dataPort()), ip, board);
    worker.setImagePath(imagePath);
    worker.setVerify(true);
    const QList<Report> reports = runWorker(worker, UploadMs);

    QCOMPARE(worker.outcome().kind, UploadOutcome::Kind::VerifyMismatch);
    QCOMPARE(worker.outcome().address, qint64(flipped));
    const int pageSize = board == QLatin1String("UNO") ? 128 : 256;
    QCOMPARE(reportLines(reports), expectedLines(ip, pageFractions(bin.size(), pageSize), 0.0f));
    QVERIFY(sim.stop());
}

void tst_UploadSim::twoBoardsAtOnce()
{
    const QByteArray unoImage = readFile(avrPath("full_uno.bin"));
    const QByteArray megaImage = readFile(avrPath("big_mega.bin"));
    QVERIFY(!unoImage.isEmpty() && !megaImage.isEmpty());
    SimProcess uno;
    SimProcess mega;
    QVERIFY2(uno.start({"--ip", "127.0.0.75", "--board", "UNO", "--announce-ms", "0"}), qPrintable(uno.errorText()));
    QVERIFY2(mega.start({"--ip", "127.0.0.76", "--board", "MEGA2560", "--announce-ms", "0"}),
             qPrintable(mega.errorText()));

    Thread unoWorker(QString::number(uno.atPort()), QString::number(uno.dataPort()), "127.0.0.75", "UNO");
    Thread megaWorker(QString::number(mega.atPort()), QString::number(mega.dataPort()), "127.0.0.76", "MEGA2560");
    unoWorker.setImagePath(avrPath("full_uno.bin"));
    megaWorker.setImagePath(avrPath("big_mega.bin"));
    const QList<QList<Report>> reports = runWorkers({&unoWorker, &megaWorker}, UploadMs);

    QCOMPARE(unoWorker.outcome().text(), QStringLiteral("upload complete"));
    QCOMPARE(megaWorker.outcome().text(), QStringLiteral("upload complete"));
    QCOMPARE(reportLines(reports.at(0)),
             expectedLines("127.0.0.75", pageFractions(unoImage.size(), 128), 1.0f));
    QCOMPARE(reportLines(reports.at(1)),
             expectedLines("127.0.0.76", pageFractions(megaImage.size(), 256), 1.0f));
    QCOMPARE(uno.flash().left(unoImage.size()), unoImage);
    QCOMPARE(mega.flash().left(megaImage.size()), megaImage);
    QVERIFY(uno.stop());
    QVERIFY(mega.stop());
}

void tst_UploadSim::printingBoard_data()
{
    QTest::addColumn<QString>("simBoard");
    QTest::addColumn<QString>("board"); // chosen with --board
    QTest::addColumn<QString>("delayMs");
    QTest::addColumn<bool>("answerBeforeReset");
    QTest::addColumn<QString>("failure"); // empty: the image is written

    const QString megaNotUno = "the board answers as an ATmega2560 (MEGA2560), not an ATmega328P (UNO)";
    for (const char *delay : {"0", "5", "20"}) {
        QTest::addRow("UNO, %s ms", delay) << "UNO" << "UNO" << delay << false << QString();
        QTest::addRow("MEGA2560, %s ms", delay) << "MEGA2560" << "MEGA2560" << delay << false << QString();
    }
    // A link this slow brings the first sync's answer after the second sync went out.
    QTest::newRow("UNO, 300 ms") << "UNO" << "UNO" << "300" << false << QString();
    QTest::newRow("UNO, 0 ms, the module answering before the reset") << "UNO" << "UNO" << "0" << true << QString();
    QTest::newRow("MEGA2560, 0 ms, the module answering before the reset")
        << "MEGA2560" << "MEGA2560" << "0" << true << QString();
    QTest::newRow("a MEGA2560 chosen for an UNO")
        << "UNO" << "MEGA2560" << "5" << false
        << "the board answers as an ATmega328P (UNO), not an ATmega2560 (MEGA2560)";
    QTest::newRow("an UNO chosen for a MEGA2560") << "MEGA2560" << "UNO" << "5" << false << megaNotUno;
}

// A board that prints without pause from power-on, uploaded through quarnel-cli in the order a
// user goes: the application runs, the upload resets the board and finds its bootloader.
void tst_UploadSim::printingBoard()
{
    QFETCH(QString, simBoard);
    QFETCH(QString, board);
    QFETCH(QString, delayMs);
    QFETCH(bool, answerBeforeReset);
    QFETCH(QString, failure);

    const bool uno = simBoard == QLatin1String("UNO");
    const QString image = avrPath(board == QLatin1String("UNO") ? "blink_uno" : "blink_mega");
    const QByteArray bin = readFile(image + ".bin");
    QVERIFY(!bin.isEmpty());
    QStringList simArguments{"--ip", uno ? "127.0.0.79" : "127.0.0.80", "--board", simBoard, "--announce-ms", "0",
                             "--delay-ms", delayMs, "--app", avrPath(uno ? "serialflood.hex" : "serialflood_mega.hex")};
    if (answerBeforeReset)
        simArguments << "--answer-before-reset";
    SimProcess sim;
    QVERIFY2(sim.start(simArguments), qPrintable(sim.errorText()));
    const QByteArray before = sim.flash();

    const CliRun run = runCli({"upload", "--json", "--ip", sim.ip().toString(), "--board", board, "--data-port",
                               QString::number(sim.dataPort()), "--at-port", QString::number(sim.atPort()),
                               image + ".hex"},
                              QString(), {}, UploadMs);
    QVERIFY2(run.finished, run.printed().constData());
    if (failure.isEmpty()) {
        QVERIFY2(run.exitCode == 0, run.printed().constData());
        QCOMPARE(sim.flash().left(bin.size()), bin);
    } else {
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains(failure.toUtf8()) && run.err.contains(failure.toUtf8()), run.printed().constData());
        QCOMPARE(sim.flash(), before);
    }
    QVERIFY(sim.stop());
}

QTEST_GUILESS_MAIN(tst_UploadSim)
#include "tst_uploadsim.moc"
