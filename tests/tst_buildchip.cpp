// The chip a build was made for, read from the ELF file beside its HEX file: real programs of
// the AVR toolchain, and the same files damaged.
#include "buildchip.h"
#include "hexconvert.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using firmware::BuildChip;

namespace {

QByteArray imageOf(const char *hexName)
{
    return firmware::HexFile::read(avrPath(QLatin1String(hexName))).image;
}

QString chipText(const std::optional<BuildChip> &chip)
{
    return chip ? QStringLiteral("%1 avr%2").arg(chip->device).arg(chip->architecture) : QStringLiteral("none");
}

// The ELF with its device note's type changed: as a library without the note would build it.
QByteArray withoutDeviceNote(QByteArray elf)
{
    const int owner = elf.indexOf(QByteArray("AVR\0", 4));
    if (owner >= 4)
        elf[owner - 4] = 9; // the note's type
    return elf;
}

} // namespace

class tst_BuildChip : public QObject
{
    Q_OBJECT

private slots:
    void recorded_data();
    void recorded();
    void fits_data();
    void fits();
    void damagedElfTellsNothing();
    void besideTheHexFile();
};

void tst_BuildChip::recorded_data()
{
    QTest::addColumn<QByteArray>("elf");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("chip");
    const QByteArray uno = readFile(avrPath("blink_uno.elf"));
    const QByteArray mega = readFile(avrPath("blink_mega.elf"));
    QTest::newRow("UNO program") << uno << imageOf("blink_uno.hex") << "atmega328p avr5";
    QTest::newRow("Mega 2560 program") << mega << imageOf("blink_mega.hex") << "atmega2560 avr6";
    QTest::newRow("no device note") << withoutDeviceNote(mega) << imageOf("blink_mega.hex") << " avr6";
    QTest::newRow("another program's ELF") << uno << imageOf("serialecho.hex") << "none";
    QTest::newRow("image longer than the program") << uno << imageOf("blink_uno.hex") + '\0' << "none";
    QTest::newRow("not an ELF file") << imageOf("blink_uno.hex") << imageOf("blink_uno.hex") << "none";
}

void tst_BuildChip::recorded()
{
    QFETCH(QByteArray, elf);
    QFETCH(QByteArray, image);
    QFETCH(QString, chip);
    QVERIFY(!elf.isEmpty() && !image.isEmpty());
    QCOMPARE(chipText(firmware::readBuildChip(elf, image)), chip);
}

void tst_BuildChip::fits_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("architecture");
    QTest::addColumn<bool>("fitsUno"); // ATmega328P, avr5
    QTest::addColumn<QString>("text");
    QTest::newRow("the chip") << "atmega328p" << 5 << true << "an ATmega328P";
    QTest::newRow("another chip of its family") << "atmega168" << 5 << false << "an atmega168";
    QTest::newRow("another family") << "atmega2560" << 6 << false << "an atmega2560";
    QTest::newRow("its family, no name") << "" << 5 << true << "an avr5 chip";
    QTest::newRow("another family, no name") << "" << 6 << false << "an avr6 chip";
}

void tst_BuildChip::fits()
{
    QFETCH(QString, device);
    QFETCH(int, architecture);
    QFETCH(bool, fitsUno);
    QFETCH(QString, text);
    const BuildChip chip{device, architecture};
    QCOMPARE(chip.fits("ATmega328P", 5), fitsUno);
    QCOMPARE(chip.text("ATmega328P"), text);
}

// A cut program tells its chip or nothing, never another; any byte of its headers changed is
// read inside the file.
void tst_BuildChip::damagedElfTellsNothing()
{
    const QByteArray elf = readFile(avrPath("blink_uno.elf"));
    const QByteArray image = imageOf("blink_uno.hex");
    QVERIFY(!elf.isEmpty());
    for (int size = 0; size < elf.size(); size += 3) {
        const QString chip = chipText(firmware::readBuildChip(elf.left(size), image));
        QVERIFY2(QStringList({"none", " avr5", "atmega328p avr5"}).contains(chip), qPrintable(chip));
    }
    for (int at = 0; at < 0x200 && at < elf.size(); ++at) {
        QByteArray changed = elf;
        changed[at] = char(0xff);
        firmware::readBuildChip(changed, image);
    }
}

// The IDE's build folder: Blink.ino.hex beside Blink.ino.elf.
void tst_BuildChip::besideTheHexFile()
{
    QTemporaryDir dir;
    const QString hex = dir.filePath("Blink.ino.hex");
    const QByteArray image = imageOf("blink_mega.hex");
    QVERIFY(writeFile(hex, readFile(avrPath("blink_mega.hex"))));
    QCOMPARE(chipText(firmware::buildChipBeside(hex, image)), QStringLiteral("none"));
    QVERIFY(writeFile(dir.filePath("Blink.ino.elf"), readFile(avrPath("blink_mega.elf"))));
    QCOMPARE(chipText(firmware::buildChipBeside(hex, image)), QStringLiteral("atmega2560 avr6"));
}

QTEST_GUILESS_MAIN(tst_BuildChip)
#include "tst_buildchip.moc"
