// The upload worker end to end: through a simulated module into the real bootloaders on
// simulated boards; the simulated flash must equal the image byte for byte, and avrdude, an
// independent STK500 client, must read the same bytes back through the module.
#include "simprocess.h"
#include "thread.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

namespace {

const int IoMs = 5000;
const int AvrdudeMs = 120000;
const int UploadMs = 120000;

QString avrPath(const QString &name)
{
    return QStringLiteral(QUARNEL_BIN_DIR "/../avr/") + name;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray atExchange(QTcpSocket &socket, const QByteArray &command)
{
    socket.write(command);
    QByteArray reply;
    while (reply.size() < 2 && socket.waitForReadyRead(IoMs))
        reply += socket.readAll();
    return reply;
}

struct Report
{
    int kind;
    float value;
};

// Runs the workers to their end and returns the reports of each, in order.
QList<QList<Report>> runWorkers(const QList<Thread *> &workers)
{
    QList<QList<Report>> reports;
    QObject receiver;
    QEventLoop loop;
    int running = workers.size();
    for (int i = 0; i < workers.size(); ++i) {
        reports.append(QList<Report>());
        QObject::connect(workers.at(i), &Thread::updateover, &receiver,
                         [&reports, i](QString, int kind, float value) {
                             reports[i].append({kind, value});
                         },
                         Qt::QueuedConnection);
        QObject::connect(workers.at(i), &QThread::finished, &receiver, [&running, &loop] {
            if (--running == 0)
                loop.quit();
        }, Qt::QueuedConnection);
    }
    QTimer::singleShot(UploadMs, &loop, &QEventLoop::quit);
    for (Thread *worker : workers)
        worker->start();
    loop.exec();
    for (Thread *worker : workers)
        worker->wait();
    return reports;
}

// Progress for every page and, after an exact multiple of the page size, once more for the
// empty read; the last progress is 1.0 and the verdict (1, 1.0) follows.
void checkReports(const QList<Report> &reports, qint64 imageSize, int pageSize, float verdict)
{
    const qint64 progressReports = imageSize / pageSize + 1;
    QCOMPARE(reports.size(), int(progressReports + 1));
    for (int i = 0; i + 1 < reports.size(); ++i) {
        QCOMPARE(reports.at(i).kind, 2);
        const qint64 read = qMin<qint64>(qint64(i + 1) * pageSize, imageSize);
        QCOMPARE(reports.at(i).value, float(double(read) / double(imageSize)));
    }
    QCOMPARE(reports.last().kind, 1);
    QCOMPARE(reports.last().value, verdict);
}

// avrdude switches the module as the worker does, then reads the image's length of flash and
// compares it with the image.
void avrdudeReadsImage(SimProcess &sim, const QString &board, const QString &imagePath)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    QVERIFY2(!program.isEmpty(), "avrdude is not installed (scripts/install-deps installs it)");
    const bool uno = board == QLatin1String("UNO");
    const QStringList part = uno ? QStringList{"-c", "arduino", "-p", "atmega328p"}
                                 : QStringList{"-c", "wiring", "-p", "atmega2560", "-D"};
    // The bootloaders wait only about a second for their first command: avrdude starts right
    // after the reset, while the AT connection is still held.
    QTcpSocket at;
    at.connectToHost(sim.ip(), sim.atPort());
    QVERIFY(at.waitForConnected(IoMs));
    QCOMPARE(atExchange(at, "AT+U2W=CLIENT\r\n"), QByteArray("OK\r\n"));
    QCOMPARE(atExchange(at, uno ? "AT+MCUUPDATE=UNO" : "AT+MCUUPDATE=MEGA"), QByteArray("OK\r\n"));
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(program, part + QStringList{"-P", QStringLiteral("net:%1:%2").arg(sim.ip().toString()).arg(sim.dataPort()),
                                          "-U", QStringLiteral("flash:v:%1:r").arg(imagePath)});
    QVERIFY(run.waitForFinished(AvrdudeMs));
    const QByteArray log = run.readAll();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, log.constData());
    QVERIFY2(log.contains("bytes of flash verified"), log.constData());
}

} // namespace

class TestUploadSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upload_data();
    void upload();
    void verifyFindsWrongByte_data();
    void verifyFindsWrongByte();
    void twoBoardsAtOnce();
};

void TestUploadSim::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestUploadSim::upload_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("verify"); // read back through the bootloader before leaving

    QTest::newRow("UNO, a small program, verified") << "UNO" << "blink_uno" << "127.0.0.70" << true;
    QTest::newRow("UNO, nearly full") << "UNO" << "full_uno" << "127.0.0.71" << false;
    QTest::newRow("MEGA2560, a small program") << "MEGA2560" << "blink_mega" << "127.0.0.72" << false;
    QTest::newRow("MEGA2560, above 64 KiB") << "MEGA2560" << "big_mega" << "127.0.0.73" << false;
    QTest::newRow("MEGA2560, above 128 KiB, verified") << "MEGA2560" << "huge_mega" << "127.0.0.74" << true;
}

void TestUploadSim::upload()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, ip);
    QFETCH(bool, verify);

    const QString imagePath = avrPath(image + QStringLiteral(".bin"));
    const QByteArray bin = readFile(imagePath);
    QVERIFY2(!bin.isEmpty(), qPrintable(imagePath));
    SimProcess sim;
    QVERIFY2(sim.start({"--ip", ip, "--board", board, "--announce-ms", "0"}), qPrintable(sim.errorText()));

    Thread worker(QString::number(sim.atPort()), QString::number(sim.dataPort()), ip, board);
    worker.setImagePath(imagePath);
    worker.setVerify(verify);
    QElapsedTimer clock;
    clock.start();
    const QList<Report> reports = runWorkers({&worker}).first();
    qInfo("%s: %d bytes in %lld ms", qPrintable(image), int(bin.size()), clock.elapsed());

    QCOMPARE(worker.outcome().text(), QStringLiteral("upload complete"));
    checkReports(reports, bin.size(), board == QLatin1String("UNO") ? 128 : 256, 1.0f);
    QCOMPARE(sim.flash().left(bin.size()), bin);
    avrdudeReadsImage(sim, board, imagePath);
    QVERIFY(sim.stop());
}

void TestUploadSim::verifyFindsWrongByte_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("flipped");

    QTest::newRow("UNO") << "UNO" << "blink_uno" << "127.0.0.77" << 0x81;
    QTest::newRow("MEGA2560") << "MEGA2560" << "blink_mega" << "127.0.0.78" << 0x102;
}

// The board stores one byte wrong while every reply says OK: only the read-back sees it.
void TestUploadSim::verifyFindsWrongByte()
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
    const QList<Report> reports = runWorkers({&worker}).first();

    QCOMPARE(worker.outcome().kind, UploadOutcome::Kind::VerifyMismatch);
    QCOMPARE(worker.outcome().address, qint64(flipped));
    checkReports(reports, bin.size(), board == QLatin1String("UNO") ? 128 : 256, 0.0f);
    QVERIFY(sim.stop());
}

void TestUploadSim::twoBoardsAtOnce()
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
    const QList<QList<Report>> reports = runWorkers({&unoWorker, &megaWorker});

    QCOMPARE(unoWorker.outcome().text(), QStringLiteral("upload complete"));
    QCOMPARE(megaWorker.outcome().text(), QStringLiteral("upload complete"));
    checkReports(reports.at(0), unoImage.size(), 128, 1.0f);
    checkReports(reports.at(1), megaImage.size(), 256, 1.0f);
    QCOMPARE(uno.flash().left(unoImage.size()), unoImage);
    QCOMPARE(mega.flash().left(megaImage.size()), megaImage);
    QVERIFY(uno.stop());
    QVERIFY(mega.stop());
}

QTEST_GUILESS_MAIN(TestUploadSim)
#include "tst_uploadsim.moc"
