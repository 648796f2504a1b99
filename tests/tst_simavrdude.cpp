// avrdude, an independent STK500 client, writes and verifies real programs through a simulated
// module into the real bootloaders; the simulated flash must then equal the image byte for byte.
#include "simprocess.h"

#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>

namespace {

const int IoMs = 5000;
const int AvrdudeMs = 90000;

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

} // namespace

class TestSimAvrdude : public QObject
{
    Q_OBJECT

private slots:
    void upload_data();
    void upload();
};

void TestSimAvrdude::upload_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("preload"); // an application the image covers completely
    QTest::addColumn<int>("applicationEnd"); // the bootloader starts here
    QTest::addColumn<QStringList>("avrdude");

    const QStringList uno{"-c", "arduino", "-p", "atmega328p"};
    const QStringList mega{"-c", "wiring", "-p", "atmega2560", "-D"};
    QTest::newRow("UNO blink") << "UNO" << "blink_uno" << "" << 0x7E00 << uno;
    QTest::newRow("UNO near-full over an application") << "UNO" << "full_uno" << "blink_uno" << 0x7E00 << uno;
    // An application makes the 2560's bootloader hand over soon: avrdude has to be quick.
    QTest::newRow("MEGA2560 above 64 KiB over an application")
        << "MEGA2560" << "big_mega" << "blink_mega" << 0x3E000 << mega;
}

void TestSimAvrdude::upload()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, preload);
    QFETCH(int, applicationEnd);
    QFETCH(QStringList, avrdude);

    const QString program = QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    QVERIFY2(!program.isEmpty(), "avrdude is not installed (scripts/install-deps installs it)");
    const QByteArray bin = readFile(avrPath(image + QStringLiteral(".bin")));
    QVERIFY2(!bin.isEmpty(), qPrintable(avrPath(image + QStringLiteral(".bin"))));

    const QString flashOut = QDir(QDir::tempPath())
                                 .filePath(QStringLiteral("tst_simavrdude-%1.bin").arg(QCoreApplication::applicationPid()));
    QFile::remove(flashOut);
    QStringList arguments{"--ip", "127.0.0.60", "--board", board, "--announce-ms", "0", "--flash-out", flashOut};
    if (!preload.isEmpty())
        arguments << QStringLiteral("--app") << avrPath(preload + QStringLiteral(".hex"));
    SimProcess sim;
    QVERIFY2(sim.start(arguments), qPrintable(sim.errorText()));

    // The AT connection is held while avrdude runs, and avrdude starts right after the reset:
    // the bootloaders wait only about a second for their first command.
    QTcpSocket at;
    at.connectToHost(sim.ip(), sim.atPort());
    QVERIFY(at.waitForConnected(IoMs));
    QCOMPARE(atExchange(at, "AT+U2W=CLIENT\r\n"), QByteArray("OK\r\n"));
    QCOMPARE(atExchange(at, board == QLatin1String("UNO") ? "AT+MCUUPDATE=UNO" : "AT+MCUUPDATE=MEGA"),
             QByteArray("OK\r\n"));
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(program, avrdude + QStringList{"-P", QStringLiteral("net:%1:%2").arg(sim.ip().toString()).arg(sim.dataPort()),
                                             "-U", QStringLiteral("flash:w:%1:i").arg(avrPath(image + QStringLiteral(".hex")))});
    QVERIFY(run.waitForFinished(AvrdudeMs));
    const QByteArray log = run.readAll();
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, log.constData());
    QVERIFY2(log.contains("bytes of flash verified"), log.constData());

    // avrdude has closed the data connection: the flash file follows.
    const QByteArray flash = SimProcess::waitForFile(flashOut, applicationEnd == 0x7E00 ? 0x8000 : 0x40000);
    QVERIFY(!flash.isEmpty());
    QCOMPARE(flash, sim.flash());
    QCOMPARE(flash.left(bin.size()), bin);
    const QByteArray rest = flash.mid(bin.size(), applicationEnd - bin.size());
    QCOMPARE(rest.count(char(0xFF)), rest.size());
    QVERIFY(sim.stop());
    QFile::remove(flashOut);
}

QTEST_GUILESS_MAIN(TestSimAvrdude)
#include "tst_simavrdude.moc"
