#include "uploadpeer.h"

#include <QtTest>

using namespace upload;

using Fault = ScriptedModule::Fault;
using Kind = UploadOutcome::Kind;

namespace {

const QString Ip = QStringLiteral("127.0.0.1");
const int PageSize = 128; // bytes, the UNO's flash page

// The fixed start-up dialogue, byte for byte.
const QStringList StartupHex = {
    "3020", "3020", "3020",
    "418020", "418120", "418220", "419820", "418420", "418520", "418620", "418720", "418920",
    "418120", "418220",
    "428600000101010103ffffffff008004000000800020",
    "450504d7c20020",
    "5020",
    "7520",
    "56a003fc0020", "56a003fd0020", "56a003fe0020", "56a003ff0020",
};

QList<QByteArray> fromHex(const QStringList &hex)
{
    QList<QByteArray> out;
    for (const QString &h : hex)
        out << QByteArray::fromHex(h.toLatin1());
    return out;
}

QByteArray loadAddress(int word)
{
    return QByteArray::fromHex("55") + char(word & 0xFF) + char(word >> 8) + char(0x20);
}

QByteArray programPage(const QByteArray &data)
{
    return QByteArray::fromHex("6400") + char(data.size()) + 'F' + data + char(0x20);
}

} // namespace

// The STK500v1 path against a scripted bootloader: every byte sent, the reports, and the faults.
class tst_Stk500v1 : public ScratchDirTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandBytes_data();
    void commandBytes();
    void faults_data();
    void faults();
    void wholeApplicationArea();
    void verify_data();
    void verify();
};

void tst_Stk500v1::initTestCase()
{
    hideUploadTrace(); // the thread test checks the trace
}

void tst_Stk500v1::commandBytes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("pageLengths");
    QTest::addColumn<QList<int>>("wordAddresses");

    QTest::newRow("300 bytes: 128, 128, 44") << 300 << QList<int>{128, 128, 44} << QList<int>{0, 64, 128};
    QTest::newRow("256 bytes: two pages, then the empty read") << 256 << QList<int>{128, 128}
                                                              << QList<int>{0, 64};
    QTest::newRow("1 byte") << 1 << QList<int>{1} << QList<int>{0};
    QTest::newRow("128 bytes: one page") << 128 << QList<int>{128} << QList<int>{0};
}

void tst_Stk500v1::commandBytes()
{
    QFETCH(int, size);
    QFETCH(QList<int>, pageLengths);
    QFETCH(QList<int>, wordAddresses);

    const QByteArray image = testImage(size);
    QVERIFY(writeFile("update.bin", image));
    ScriptedModule module(ScriptedModule::Protocol::Stk500v1);
    QVERIFY(module.listen());

    UploadOutcome outcome;
    const QList<Report> reports = uploadTo(module, "UNO", &outcome);

    QList<QByteArray> expected = fromHex(StartupHex);
    int offset = 0;
    for (int i = 0; i < pageLengths.size(); ++i) {
        expected << loadAddress(wordAddresses.at(i)) << programPage(image.mid(offset, pageLengths.at(i)));
        offset += pageLengths.at(i);
    }
    expected << QByteArray::fromHex("5120");
    QCOMPARE(module.requests(), expected);
    QCOMPARE(module.atReceived(), QByteArray("AT+U2W=CLIENT\r\nAT+MCUUPDATE=UNO"));
    QCOMPARE(reportLines(reports), expectedLines(Ip, pageFractions(size, PageSize), 1.0f));
    QCOMPARE(outcome.kind, Kind::Success);
    QCOMPARE(module.flash().left(size), image);
}

void tst_Stk500v1::faults_data()
{
    addFaultColumns();
    const int size = FaultImageSize;
    const QStringList complete = expectedLines(Ip, pageFractions(size, PageSize), 1.0f);
    const QStringList handshakeFailed = {reportLine(Ip, 1, 0.0f)};

    // The first sync finds the bootloader: a try that gets no reply, or a wrong one, is followed by
    // another, and an answer to a later try by one more that confirms it.
    QTest::newRow("silent first sync, then the answer") << QByteArray::fromHex("3020") << 0 << Fault::Silent
                                                        << complete << "upload complete" << 22 + 3 * 2 + 1 + 1 + 1;
    QTest::newRow("silent third sync") << QByteArray::fromHex("3020") << 2 << Fault::Silent
                                       << handshakeFailed << "bootloader did not answer get sync" << 3;
    QTest::newRow("one extra byte to the first sync, then the answer")
        << QByteArray::fromHex("3020") << 0 << Fault::ExtraByte << complete << "upload complete" << 22 + 3 * 2 + 1 + 1 + 1;
    QTest::newRow("one extra byte to the second sync")
        << QByteArray::fromHex("3020") << 1 << Fault::ExtraByte << handshakeFailed
        << "bootloader answered get sync wrongly (expected 14 10, got 14 10 10)" << 2;
    QTest::newRow("one byte short of the signature")
        << QByteArray::fromHex("75") << 0 << Fault::MissingByte << handshakeFailed
        << "bootloader did not answer read signature" << 18;
    QTest::newRow("0x98 alone fails and the upload goes on")
        << QByteArray::fromHex("4198") << 0 << Fault::Silent << complete << "upload complete" << -1;
    QTest::newRow("0x84 fails") << QByteArray::fromHex("4184") << 0 << Fault::Silent << handshakeFailed
                                << "bootloader did not answer get parameter 0x84" << 8;
    QTest::newRow("second 0x81 fails") << QByteArray::fromHex("4181") << 1 << Fault::Silent << handshakeFailed
                                       << "bootloader did not answer get parameter 0x81" << 13;
    QTest::newRow("set device fails") << QByteArray::fromHex("42") << 0 << Fault::ExtraByte << handshakeFailed
                                      << "bootloader answered set device wrongly (expected 14 10, got 14 10 10)"
                                      << 15;
    QTest::newRow("last EEPROM read fails") << QByteArray::fromHex("56a003ff") << 0 << Fault::Silent
                                            << handshakeFailed
                                            << "bootloader did not answer universal (EEPROM byte 3)" << 22;
    QTest::newRow("every reply in pieces") << QByteArray() << -1 << Fault::Split << complete
                                           << "upload complete" << -1;
    // Every try of the bootloader's wait, then the other protocol's: the number of requests varies.
    QTest::newRow("replies not closed by STK_OK") << QByteArray() << -1 << Fault::LastByteFlipped
                                                  << handshakeFailed
                                                  << "bootloader answered get sync wrongly (expected 14 10, got 14 ef)"
                                                  << AnyCount;
    QTest::newRow("last page not programmed")
        << QByteArray::fromHex("64") << 2 << Fault::Silent
        << expectedLines(Ip, {{128, size}, {256, size}, {size, size}}, 0.0f)
        << "page 2 not acknowledged (program page)" << 22 + 6;
    // Load address and program page go out together, and in one stream of replies a byte too
    // many after the first cannot be told from a wrong start of the second.
    QTest::newRow("second load address gets an extra byte")
        << QByteArray::fromHex("55") << 1 << Fault::ExtraByte
        << expectedLines(Ip, {{128, size}, {256, size}}, 0.0f)
        << "page 1 not acknowledged (program page: expected 14 10, got 10 14 10)" << 22 + 4;
    QTest::newRow("both replies of each page in one segment")
        << QByteArray::fromHex("55") << -1 << Fault::Joined << complete << "upload complete" << -1;
    QTest::newRow("both replies of each page in three segments")
        << QByteArray::fromHex("55") << -1 << Fault::JoinedInThree << complete << "upload complete" << -1;
    QTest::newRow("every reply STK_NOSYNC") << QByteArray() << -1 << Fault::NoSync << handshakeFailed
                                            << "bootloader answered get sync wrongly (expected 14 10, got 15 15)"
                                            << AnyCount;
    QTest::newRow("the board's program answers a page")
        << QByteArray::fromHex("64") << 1 << Fault::Application
        << expectedLines(Ip, {{128, size}, {256, size}}, 0.0f)
        << "page 1 not acknowledged (program page: expected 14 10, got 74 69)" << 22 + 4;
    QTest::newRow("leaving programming mode fails after the last page")
        << QByteArray::fromHex("51") << 0 << Fault::Silent << complete << "upload complete" << -1;
}

void tst_Stk500v1::faults()
{
    checkFaultRow(ScriptedModule::Protocol::Stk500v1, "UNO", 22 + 3 * 2 + 1);
}

// The largest image a UNO takes, 252 pages below Optiboot; the last starts at word 0x3EC0.
void tst_Stk500v1::wholeApplicationArea()
{
    const QByteArray image = testImage(32256);
    QVERIFY(writeFile("update.bin", image));
    ScriptedModule module(ScriptedModule::Protocol::Stk500v1);
    QVERIFY(module.listen());

    UploadOutcome outcome;
    const QList<Report> reports = uploadTo(module, "UNO", &outcome);
    QCOMPARE(outcome.kind, Kind::Success);
    QCOMPARE(reportLine(reports.last().ip, reports.last().kind, reports.last().value), reportLine(Ip, 1, 1.0f));

    const QList<QByteArray> requests = module.requests();
    const int pages = 32256 / PageSize;
    QCOMPARE(requests.size(), 22 + 2 * pages + 1);
    QCOMPARE(requests.at(22 + 2 * (pages - 1)), loadAddress(0x3EC0));
    QCOMPARE(module.flash().left(image.size()), image);
}

void tst_Stk500v1::verify_data()
{
    addVerifyColumns();
    QTest::newRow("flash equals the image") << QByteArray() << Fault::Silent << qint64(-1)
                                            << "upload complete" << 1.0f;
    QTest::newRow("a byte written wrong") << QByteArray() << Fault::Silent << qint64(1000)
                                          << "verify: flash differs from the image at 0x003e8" << 0.0f;
    QTest::newRow("read-back not closed by STK_OK")
        << QByteArray::fromHex("74") << Fault::LastByteFlipped << qint64(-1)
        << "verify: flash at 0x00000 could not be read back" << 0.0f;
    QTest::newRow("read-back one byte short")
        << QByteArray::fromHex("74") << Fault::MissingByte << qint64(-1)
        << "verify: flash at 0x00000 could not be read back" << 0.0f;
}

void tst_Stk500v1::verify()
{
    QFETCH(float, verdict);
    const int size = 1100;
    QList<QByteArray> requests;
    checkVerifyRow(ScriptedModule::Protocol::Stk500v1, "UNO", size, PageSize, &requests);
    if (QTest::currentTestFailed())
        return;
    const int pages = (size + 127) / 128;
    const int readBack = 22 + 2 * pages;
    QVERIFY(requests.size() > readBack + 1);
    QCOMPARE(requests.at(readBack), loadAddress(0));
    QCOMPARE(requests.at(readBack + 1), QByteArray::fromHex("7400804620"));
    if (verdict == 1.0f) {
        QCOMPARE(requests.size(), readBack + 2 * pages + 1);
        QCOMPARE(requests.at(readBack + 2 * (pages - 1)), loadAddress((pages - 1) * 64));
        QCOMPARE(requests.last(), QByteArray::fromHex("5120"));
    } else {
        QVERIFY(requests.last() != QByteArray::fromHex("5120"));
    }
}

QTEST_GUILESS_MAIN(tst_Stk500v1)
#include "tst_stk500v1.moc"
