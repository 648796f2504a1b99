#include "hexconvert.h"
#include "protocolbytes.h"
#include "stderrcapture.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <sys/stat.h>

using namespace firmware;

namespace {

QByteArray data(int address, const QByteArray &bytes)
{
    return hexRecord(0x00, address, bytes);
}

QByteArray bytesFrom(int first, int count)
{
    QByteArray b;
    for (int i = 0; i < count; ++i)
        b.append(char(first + i));
    return b;
}

QByteArray zeros(int count)
{
    return QByteArray(count, '\0');
}

QByteArray lines(const QList<QByteArray> &records)
{
    QByteArray text;
    for (const QByteArray &r : records)
        text += r + '\n';
    return text;
}

const QByteArray End(":00000001FF");
const QByteArray OldImage("the old image");
const char CutShort[] = "no end record (\":00000001FF\"); the file may be cut short";
const char Malformed[] = "not a well-formed Intel HEX file (see the problems above)";

// The diagnostic lines of one conversion, without the "<path>: " that starts each.
QStringList diagnosticLines(const QByteArray &err, const QString &path)
{
    QStringList out;
    const QString prefix = path + QStringLiteral(": ");
    for (const QString &line : QString::fromLocal8Bit(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out << (line.startsWith(prefix) ? line.mid(prefix.size()) : line);
    return out;
}

} // namespace

// Intel HEX to the raw flash image.
class tst_HexConvert : public QObject
{
    Q_OBJECT

private slots:
    void hexByte_data();
    void hexByte();
    void convert_data();
    void convert();
    void feedInPieces_data();
    void feedInPieces();
    void realPrograms_data();
    void realPrograms();
    void unreadableInputKeepsImage_data();
    void unreadableInputKeepsImage();
    void uncreatableOutput();
    void openReaderKeepsOldImage();
    void defaultOutputPath();
};

void tst_HexConvert::hexByte_data()
{
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << QByteArray("00") << 0;
    QTest::newRow("upper FF") << QByteArray("FF") << 255;
    QTest::newRow("lower ff") << QByteArray("ff") << 255;
    QTest::newRow("mixed Ab") << QByteArray("Ab") << 0xAB;
    QTest::newRow("digits 9a") << QByteArray("9a") << 0x9A;
    QTest::newRow("G counts sixteen") << QByteArray("G0") << 256;
    QTest::newRow("blank below zero") << QByteArray(" 0") << -256;
    QTest::newRow("high byte") << QByteArray("\xff" "0") << 16 * (0xFF - 0x57);
}

void tst_HexConvert::hexByte()
{
    QFETCH(QByteArray, digits);
    QFETCH(int, value);
    QCOMPARE(::hexByte(digits.at(0), digits.at(1)), value);
}

void tst_HexConvert::convert_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QString>("error"); // empty: the image is written
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QStringList>("diagnostics");

    const QByteArray a = bytesFrom(0x10, 16), b = bytesFrom(0x40, 16), c = bytesFrom(0x80, 16);
    QTest::newRow("sixteen-byte records from 0")
        << lines({data(0, a), data(0x10, b), data(0x20, c), End}) << "" << a + b + c << QStringList();
    QTest::newRow("first record at 0x0100")
        << lines({data(0x100, a), End}) << "" << zeros(0x100) + a << QStringList();
    QTest::newRow("gap between records")
        << lines({data(0, a.left(4)), data(0x10, b.left(4)), End}) << ""
        << a.left(4) + zeros(12) + b.left(4) << QStringList();
    QTest::newRow("count 0 writes nothing")
        << lines({data(0, a.left(4)), data(0x1000, QByteArray()), End}) << "" << a.left(4) << QStringList();
    QTest::newRow("lower case digits")
        << lines({data(0, a).toLower(), data(0x10, b).toLower(), End}) << "" << a + b << QStringList();
    QTest::newRow("CR LF line ends")
        << lines({data(0, a), data(0x10, b), End}).replace("\n", "\r\n") << "" << a + b << QStringList();
    QTest::newRow("later record wins")
        << lines({data(0, a), data(4, b.left(4)), End}) << "" << a.left(4) + b.left(4) + a.mid(8) << QStringList();
    QTest::newRow("record across 64 KiB")
        << lines({data(0xFFF8, a), End}) << "" << zeros(0xFFF8) + a << QStringList();
    QTest::newRow("extended linear address")
        << lines({data(0, a), ":020000040001F9", data(0, b), End}) << ""
        << a + zeros(0x10000 - 16) + b << QStringList();
    QTest::newRow("extended linear address back to 0")
        << lines({":020000040001F9", data(0, b), ":020000040000FA", data(0, a), End}) << ""
        << a + zeros(0x10000 - 16) + b << QStringList();
    QTest::newRow("extended segment address")
        << lines({hexRecord(0x02, 0, QByteArray::fromHex("1000")), data(0x10, b), End}) << ""
        << zeros(0x10010) + b << QStringList();
    QTest::newRow("above 128 KiB")
        << lines({":020000040002F8", data(0x8000, c), End}) << "" << zeros(0x28000) + c << QStringList();
    QTest::newRow("end record without line end")
        << lines({data(0, a), data(0x10, b)}) + End << "" << a + b << QStringList();
    QTest::newRow("no end record") << lines({data(0, a), data(0x10, b)}) << QString(CutShort) << QByteArray() << QStringList();
    QTest::newRow("empty file") << QByteArray() << QString(CutShort) << QByteArray() << QStringList();
    QTest::newRow("blank lines skipped")
        << lines({"", data(0, a), " \t", QByteArray(600, ' ') + "\r", End}).replace("\n", "\r\n") << "" << a
        << QStringList();
    const QString notRecord = QStringLiteral("line %1: not a record: it does not begin with ':'");
    QTest::newRow("text in place of a record refused")
        << lines({data(0, a), "comment " + data(0x10, b), data(0x20, c), End}) << QString(Malformed) << QByteArray()
        << QStringList{notRecord.arg(2)};
    QTest::newRow("record after a blank or ';' refused")
        << lines({data(0, a), " " + data(0x10, b), ";" + data(0x20, c), End}) << QString(Malformed) << QByteArray()
        << QStringList{notRecord.arg(2), notRecord.arg(3)};
    QTest::newRow("end record stops") << lines({data(0, a), End, data(0x10, b)}) << "" << a << QStringList();
    QTest::newRow("end record with CR LF stops")
        << lines({data(0, a), End, data(0x10, b)}).replace("\n", "\r\n") << "" << a << QStringList();
    QTest::newRow("lower-case end record stops")
        << lines({data(0, a), ":00000001ff", data(0x10, b)}) << "" << a << QStringList();
    QTest::newRow("end record with trailing blank stops")
        << lines({data(0, a), End + " ", data(0x10, b)}) << "" << a << QStringList();
    QTest::newRow("text after the end record refused")
        << lines({data(0, a), End, "", "built by hand"}) << QString(Malformed) << QByteArray()
        << QStringList{notRecord.arg(4)};
    QTest::newRow("end record with a wrong checksum")
        << lines({data(0, a), ":00000001FE"}) << QString(Malformed) << QByteArray()
        << QStringList{QStringLiteral("line 2: checksum 0xfe, expected 0xff")};
    QTest::newRow("data records only, no end record")
        << lines({data(0, a)}) << QString(CutShort) << QByteArray() << QStringList();
    QTest::newRow("end record alone") << lines({End}) << "no data records" << QByteArray() << QStringList();
    QTest::newRow("27 data bytes")
        << lines({data(0, bytesFrom(1, 27)), End}) << "" << bytesFrom(1, 27) << QStringList();
    QTest::newRow("28 data bytes")
        << lines({data(0, bytesFrom(1, 28)), End}) << "" << bytesFrom(1, 28) << QStringList();
    QTest::newRow("255 data bytes")
        << lines({data(0x20, bytesFrom(0, 255)), End}) << "" << zeros(0x20) + bytesFrom(0, 255) << QStringList();
    QTest::newRow("trailing text after the checksum")
        << lines({data(0, a) + QByteArray(3000, 'x'), data(0x10, b), End}) << "" << a + b << QStringList();
    QTest::newRow("wrong checksum refused and named")
        << lines({data(0, a), ":0400100001020304E0", End}) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 2: checksum 0xe0, expected 0xe2")};
    QTest::newRow("missing checksum refused and named")
        << lines({":0400000001020304", End}) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 1: checksum missing")};
    QTest::newRow("truncated record refused")
        << lines({data(0, a), data(0x10, b).left(9 + 20), data(0x20, c), End}) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 2: record announces 16 data bytes but the line holds 10; skipped")};
    QTest::newRow("truncated last record without line end")
        << lines({data(0, a)}) + data(0x10, b).left(11) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 2: record announces 16 data bytes but the line holds 1; skipped")};
    QTest::newRow("record too short for its header")
        << lines({":0400", data(0, a), End}) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 1: record too short for its header; skipped")};
    QTest::newRow("byte count not hexadecimal")
        << lines({":GG00000001020304F2", data(0, a), End}) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 1: byte count \"GG\" is not hexadecimal; skipped")};
    QTest::newRow("byte count with a percent sign")
        << lines({":%1000000F0", data(0, a), End}) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 1: byte count \"%1\" is not hexadecimal; skipped")};
    QTest::newRow("address record with one byte")
        << lines({":0100000401FA", data(0, a), End}) << QString(Malformed) << QByteArray() << QStringList{QStringLiteral("line 1: address record with 1 data bytes instead of 2; skipped")};
    QTest::newRow("address beyond the image limit refused")
        << lines({data(0, a), ":020000040100F9", data(0, b), End}) << "data beyond the 1024 KiB image limit" << QByteArray()
        << QStringList{QStringLiteral("line 3: data at 0x1000000 lies beyond the 1024 KiB image limit; no image written")};
    QTest::newRow("record ending past the limit refused")
        << lines({":02000004000FEB", data(0xFFF8, a), End}) << "data beyond the 1024 KiB image limit" << QByteArray()
        << QStringList{QStringLiteral("line 2: data at 0xffff8 lies beyond the 1024 KiB image limit; no image written")};
    QTest::newRow("record ending at the limit written")
        << lines({":02000004000FEB", data(0xFFF0, a), End}) << "" << zeros(0xFFFF0) + a << QStringList();

    QList<QByteArray> bad;
    QStringList badDiagnostics;
    for (int i = 0; i < 25; ++i) {
        bad << ":0100000000FE";
        if (i < 20)
            badDiagnostics << QStringLiteral("line %1: checksum 0xfe, expected 0xff").arg(i + 1);
    }
    badDiagnostics << QStringLiteral("5 more problems not listed");
    QTest::newRow("many problems listed up to a limit") << lines(bad) << QString(Malformed) << QByteArray() << badDiagnostics;
}

void tst_HexConvert::convert()
{
    QFETCH(QByteArray, hex);
    QFETCH(QString, error);
    const bool written = error.isEmpty();
    QFETCH(QByteArray, image);
    QFETCH(QStringList, diagnostics);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString in = dir.filePath(QStringLiteral("in.hex"));
    const QString out = dir.filePath(QStringLiteral("out.bin"));
    QVERIFY(writeFile(in, hex));
    QVERIFY(writeFile(out, OldImage));

    StderrCapture err;
    QCOMPARE(hexToBin(in, out), written);
    QCOMPARE(readFile(out), written ? image : OldImage);
    QCOMPARE(diagnosticLines(err.text(), in),
             written ? diagnostics : diagnostics + QStringList{error + QStringLiteral("; no image written")});
    // The image was made beside the old one and nothing of that is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), QStringList({"in.hex", "out.bin"}));
}

void tst_HexConvert::feedInPieces_data()
{
    QTest::addColumn<QByteArray>("hex");
    const QByteArray a = bytesFrom(0x10, 16);
    QTest::newRow("CR LF") << lines({data(0, a), data(0x20, a), End}).replace("\n", "\r\n");
    QTest::newRow("long line and end record")
        << lines({data(0, a) + QByteArray(1500, ' '), data(0x10, bytesFrom(0, 255)), End, data(0x200, a)});
    QTest::newRow("truncated record and no line end")
        << lines({data(0, a), data(0x10, a).left(20)}) + data(0x40, a);
    QTest::newRow("extended linear address") << lines({":020000040001F9", data(0, a), ":0100000000FE"});
    QTest::newRow("long blank line, then long text")
        << lines({QByteArray(1500, ' '), data(0, a), QByteArray(1500, '\t') + "x", End});
}

// The same text fed in pieces of any size gives the same image and the same diagnostics.
void tst_HexConvert::feedInPieces()
{
    QFETCH(QByteArray, hex);
    HexImage whole;
    whole.feed(hex.constData(), std::size_t(hex.size()));
    whole.finish();
    for (int piece : {1, 2, 3, 7, 13, 64, 511, 4096}) {
        HexImage split;
        for (int at = 0; at < hex.size(); at += piece)
            split.feed(hex.constData() + at, std::size_t(qMin(piece, hex.size() - at)));
        split.finish();
        QCOMPARE(split.image(), whole.image());
        QCOMPARE(split.diagnostics(), whole.diagnostics());
        QCOMPARE(split.ended(), whole.ended());
    }
}

void tst_HexConvert::realPrograms_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("crlf");
    for (const char *name : {"blink_uno", "blink_mega", "full_uno", "big_mega", "huge_mega"})
        QTest::newRow(name) << QString::fromLatin1(name) << false;
    QTest::newRow("huge_mega with CR LF") << QStringLiteral("huge_mega") << true;
}

// Byte for byte what avr-objcopy makes of the same HEX file (the .bin beside it).
void tst_HexConvert::realPrograms()
{
    QFETCH(QString, name);
    QFETCH(bool, crlf);
    QTemporaryDir dir;
    QString in = avrPath(name + QStringLiteral(".hex"));
    if (crlf) {
        QByteArray text = readFile(in);
        QVERIFY(!text.isEmpty());
        in = dir.filePath(QStringLiteral("crlf.hex"));
        QVERIFY(writeFile(in, text.replace("\r\n", "\n").replace("\n", "\r\n")));
    }
    const QByteArray expected = readFile(avrPath(name + QStringLiteral(".bin")));
    QVERIFY(!expected.isEmpty());
    const QString out = dir.filePath(QStringLiteral("update.bin"));
    StderrCapture err;
    QVERIFY(hexToBin(in, out));
    QCOMPARE(err.text(), QByteArray());
    const QByteArray image = readFile(out);
    QCOMPARE(image.size(), expected.size());
    QVERIFY(image == expected);
}

void tst_HexConvert::unreadableInputKeepsImage_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("why");
    QTest::newRow("missing") << "missing" << QByteArray("no such file");
    QTest::newRow("a directory") << "directory" << QByteArray("not a regular file");
    QTest::newRow("a link to /dev/zero") << "device" << QByteArray("not a regular file");
    QTest::newRow("a FIFO without a writer") << "fifo" << QByteArray("not a regular file");
    QTest::newRow("a sparse file above the limit") << "large" << QByteArray("larger than 64 MiB, too large for a program of an AVR");
}

// Only a regular file of a bounded size is opened: nothing here may block or take long.
void tst_HexConvert::unreadableInputKeepsImage()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, why);
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.hex"));
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(in));
    } else if (kind == QLatin1String("device")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), in));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(QFile::encodeName(in).constData(), 0600), 0);
    } else if (kind == QLatin1String("large")) {
        QFile large(in);
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(HexFile::MaxFileSize + 1));
    }
    const QString out = dir.filePath(QStringLiteral("update.bin"));
    QVERIFY(writeFile(out, OldImage));
    StderrCapture err;
    QVERIFY(!hexToBin(in, out));
    QCOMPARE(err.text(), "File open error!!!\n: " + why + '\n');
    QCOMPARE(readFile(out), OldImage);
}

void tst_HexConvert::uncreatableOutput()
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.hex"));
    QVERIFY(writeFile(in, lines({data(0, bytesFrom(0, 4)), End})));
    StderrCapture err;
    QVERIFY(!hexToBin(in, dir.filePath(QStringLiteral("no/such/dir/update.bin"))));
    QCOMPARE(err.text(), QByteArray("File creat error!!!\n: No such file or directory\n"));
}

// An upload reading the image while a new conversion runs keeps reading the image it opened.
void tst_HexConvert::openReaderKeepsOldImage()
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.hex"));
    const QString out = dir.filePath(QStringLiteral("update.bin"));
    const QByteArray first = bytesFrom(0, 200), second = bytesFrom(100, 16);
    QVERIFY(writeFile(out, first));
    FILE *reader = std::fopen(QFile::encodeName(out).constData(), "rb");
    QVERIFY(reader);
    char head[100];
    QCOMPARE(std::fread(head, 1, sizeof head, reader), sizeof head);

    QVERIFY(writeFile(in, lines({data(0, second), End})));
    QVERIFY(hexToBin(in, out));

    char rest[200];
    const std::size_t got = std::fread(rest, 1, sizeof rest, reader);
    std::fclose(reader);
    QCOMPARE(QByteArray(head, sizeof head) + QByteArray(rest, int(got)), first);
    QCOMPARE(readFile(out), second);
}

void tst_HexConvert::defaultOutputPath()
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.hex"));
    QVERIFY(writeFile(in, lines({data(0, bytesFrom(7, 9)), End})));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const bool converted = hexToBin(in);
    QVERIFY(QDir::setCurrent(previous));
    QVERIFY(converted);
    QCOMPARE(readFile(dir.filePath(QStringLiteral("update.bin"))), bytesFrom(7, 9));
}

QTEST_GUILESS_MAIN(tst_HexConvert)
#include "tst_hexconvert.moc"
