// avrdude, an independent STK500 client, writes and verifies real programs through a simulated
// module into the real bootloaders; the simulated flash must then equal the image byte for byte.
#include "avrdude.h"
#include "simprocess.h"
#include "testfiles.h"

#include <QtTest>

Q_DECLARE_METATYPE(AvrdudeOrder)

namespace {

const int AvrdudeMs = 90000;

} // namespace

class tst_SimAvrdude : public QObject
{
    Q_OBJECT

private slots:
    void upload_data();
    void upload();
};

void tst_SimAvrdude::upload_data()
{
    QTest::addColumn<QString>("board");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("preload"); // an application the image covers completely
    QTest::addColumn<int>("applicationEnd"); // the bootloader starts here
    QTest::addColumn<AvrdudeOrder>("order");

    const AvrdudeOrder after = AvrdudeOrder::AfterReset;
    QTest::newRow("UNO blink") << "UNO" << "blink_uno" << "" << 0x7E00 << after;
    QTest::newRow("UNO near-full over an application") << "UNO" << "full_uno" << "blink_uno" << 0x7E00 << after;
    // An application makes the 2560's bootloader hand over soon: avrdude has to be quick.
    QTest::newRow("MEGA2560 above 64 KiB over an application")
        << "MEGA2560" << "big_mega" << "blink_mega" << 0x3E000 << after;
    // A board that never stops printing, avrdude on its data port before the reset.
    QTest::newRow("UNO over a flooding application")
        << "UNO" << "full_uno" << "serialflood" << 0x7E00 << AvrdudeOrder::BeforeReset;
    QTest::newRow("MEGA2560 over a flooding application")
        << "MEGA2560" << "big_mega" << "serialflood_mega" << 0x3E000 << AvrdudeOrder::BeforeReset;
}

void tst_SimAvrdude::upload()
{
    QFETCH(QString, board);
    QFETCH(QString, image);
    QFETCH(QString, preload);
    QFETCH(int, applicationEnd);
    QFETCH(AvrdudeOrder, order);

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

    avrdudeThroughModule(sim, board, QStringLiteral("flash:w:%1:i").arg(avrPath(image + QStringLiteral(".hex"))),
                         AvrdudeMs, order);
    if (QTest::currentTestFailed())
        return;

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

QTEST_GUILESS_MAIN(tst_SimAvrdude)
#include "tst_simavrdude.moc"
