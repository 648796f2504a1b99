#include "protocolbytes.h"
#include "uploadpeer.h"

#include <QtTest>

using namespace upload;

using Fault = ScriptedModule::Fault;
using Kind = UploadOutcome::Kind;

namespace {

const QString Ip = QStringLiteral("127.0.0.1");
const int Startup = 9; // messages before the first page
const int PageSize = 256; // bytes, the flash page of the STK500v2 boards

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray loadAddressBody(quint32 word)
{
    return hex("0680") + char(word >> 16) + char(word >> 8) + char(word);
}

QByteArray programBody(const QByteArray &page)
{
    return hex("130100c10a404c200000") + page;
}

QList<QByteArray> startupFrames()
{
    return {
        hex("1b0100010e0114"),
        hex("1b0200020e039086"),
        stk500v2Frame(3, hex("0391")),
        stk500v2Frame(4, hex("0392")),
        stk500v2Frame(5, hex("0394")),
        stk500v2Frame(6, hex("10c86419200053 03ac530000")),
        stk500v2Frame(7, hex("1d040400300000 00")),
        stk500v2Frame(8, hex("1d040400300001 00")),
        stk500v2Frame(9, hex("1d040400300002 00")),
    };
}

int pagesOf(int size)
{
    return (size + PageSize - 1) / PageSize;
}

} // namespace

// The STK500v2 path against a scripted bootloader: every frame sent, the reports, the faults.
class tst_Stk500v2 : public ScratchDirTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void frameHelper();
    void commandBytes_data();
    void commandBytes();
    void sequenceWraps();
    void faults_data();
    void faults();
    void highAddresses_data();
    void highAddresses();
    void boards_data();
    void boards();
    void verify_data();
    void verify();
};

void tst_Stk500v2::initTestCase()
{
    hideUploadTrace(); // the thread test checks the trace
}

// The test's own framing agrees with the frames the protocol documents give in full.
void tst_Stk500v2::frameHelper()
{
    QCOMPARE(stk500v2Frame(1, hex("01")), hex("1b0100010e0114"));
    QCOMPARE(stk500v2Frame(2, hex("0390")), hex("1b0200020e039086"));
    QCOMPARE(stk500v2Frame(10, loadAddressBody(0)), hex("1b0a00050e06800000009c"));
    QCOMPARE(stk500v2Frame(12, loadAddressBody(128)), hex("1b0c00050e06800000801a"));
}

void tst_Stk500v2::commandBytes_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("300 bytes: a full page and a padded one") << 300;
    QTest::newRow("512 bytes: two pages, then the empty read") << 512;
    QTest::newRow("1 byte") << 1;
}

void tst_Stk500v2::commandBytes()
{
    QFETCH(int, size);
    const QByteArray image = testImage(size);
    QVERIFY(writeFile("update.bin", image));
    ScriptedModule module(ScriptedModule::Protocol::Stk500v2);
    QVERIFY(module.listen());

    UploadOutcome outcome;
    const QList<Report> reports = uploadTo(module, "MEGA2560", &outcome);

    QList<QByteArray> expected = startupFrames();
    int sequence = Startup;
    for (int page = 0; page < pagesOf(size); ++page) {
        QByteArray data = image.mid(page * 256, 256);
        data.append(QByteArray(256 - data.size(), char(0xFF)));
        expected << stk500v2Frame(sequence + 1, loadAddressBody(quint32(page * 128)))
                 << stk500v2Frame(sequence + 2, programBody(data));
        sequence += 2;
    }
    expected << stk500v2Frame(++sequence, hex("110101"));

    const QList<QByteArray> requests = module.requests();
    QCOMPARE(requests, expected);
    QVERIFY(requests.at(Startup + 1).startsWith(hex("1b0b010a0e130100c10a404c200000")));
    QCOMPARE(module.atReceived(), QByteArray("AT+U2W=CLIENT\r\nAT+MCUUPDATE=MEGA"));
    QCOMPARE(reportLines(reports), expectedLines(Ip, pageFractions(size, PageSize), 1.0f));
    QCOMPARE(outcome.kind, Kind::Success);
    QCOMPARE(module.flash().left(size), image);
}

void tst_Stk500v2::sequenceWraps()
{
    const int size = 130 * 256;
    QVERIFY(writeFile("update.bin", testImage(size)));
    ScriptedModule module(ScriptedModule::Protocol::Stk500v2);
    QVERIFY(module.listen());
    UploadOutcome outcome;
    uploadTo(module, "MEGA2560", &outcome);
    QCOMPARE(outcome.kind, Kind::Success);

    const QList<QByteArray> requests = module.requests();
    QCOMPARE(requests.size(), Startup + 2 * 130 + 1);
    const QByteArray loadOfPage123 = requests.at(Startup + 2 * 123);
    QCOMPARE(loadOfPage123, stk500v2Frame(0, loadAddressBody(123 * 128)));
    QCOMPARE(quint8(requests.at(Startup + 2 * 123 + 1).at(1)), quint8(1));
    QCOMPARE(requests.last(), stk500v2Frame((Startup + 2 * 130 + 1) % 256, hex("110101")));
}

void tst_Stk500v2::faults_data()
{
    addFaultColumns();
    const int size = FaultImageSize;
    const QStringList complete = expectedLines(Ip, pageFractions(size, PageSize), 1.0f);
    const QStringList handshakeFailed = {reportLine(Ip, 1, 0.0f)};

    // The sign-on finds the bootloader: a try that gets no reply, or a wrong one, is followed by
    // another, the same bytes again, and an answer to a later try by one more that confirms it.
    QTest::newRow("silent sign-on, then the answer") << hex("01") << 0 << Fault::Silent << complete
                                                     << "upload complete" << Startup + 2 * 2 + 1 + 1 + 1;
    QTest::newRow("sign-on one byte long, then the answer")
        << hex("01") << 0 << Fault::ExtraByte << complete << "upload complete" << Startup + 2 * 2 + 1 + 1 + 1;
    QTest::newRow("sign-on one byte short, then the answer")
        << hex("01") << 0 << Fault::MissingByte << complete << "upload complete" << Startup + 2 * 2 + 1 + 1 + 1;
    QTest::newRow("sign-on followed by a flood, then the answer")
        << hex("01") << 0 << Fault::Flood << complete << "upload complete" << AnyCount;
    QTest::newRow("target voltage silent") << hex("0394") << 0 << Fault::Silent << handshakeFailed
                                           << "bootloader did not answer target voltage" << 5;
    QTest::newRow("enter programming mode one byte long")
        << hex("10") << 0 << Fault::ExtraByte << handshakeFailed
        << "bootloader answered enter programming mode wrongly (expected 1b 06 00 02 0e 10 00 01, got 1b 06 00 02 "
           "0e 10 00 01 10)"
        << 6;
    QTest::newRow("third signature byte silent") << hex("1d") << 2 << Fault::Silent << handshakeFailed
                                                 << "bootloader did not answer signature byte 2" << 9;
    QTest::newRow("a failing status fails the step")
        << QByteArray() << -1 << Fault::FailedStatus << handshakeFailed
        << "bootloader answered sign-on wrongly (expected 1b 01 00 0b 0e 01 00 (10 bytes), got 1b 01 00 0b 0e 01 "
           "c0 08 41 56 52 49 53 50 5f 32 b4)"
        << AnyCount;
    QTest::newRow("every reply in pieces") << QByteArray() << -1 << Fault::Split << complete
                                           << "upload complete" << -1;
    QTest::newRow("last page not programmed")
        << hex("13") << 1 << Fault::Silent << expectedLines(Ip, {{256, size}, {size, size}}, 0.0f)
        << "page 1 not acknowledged (program page)" << Startup + 4;
    QTest::newRow("first load address one byte short")
        << hex("06") << 0 << Fault::MissingByte << expectedLines(Ip, {{256, size}}, 0.0f)
        << "page 0 not acknowledged (load address)" << Startup + 1;
    QTest::newRow("answer with the previous sequence number")
        << hex("03") << 0 << Fault::WrongSequence << handshakeFailed
        << "bootloader answered hardware version wrongly (expected 1b 02 00 03 0e 03 00 xx xx, got 1b 01 00 03 0e 03 "
           "00 02 16)"
        << 2;
    QTest::newRow("every reply in 64 pieces") << QByteArray() << -1 << Fault::Pieces << complete
                                              << "upload complete" << -1;
    QTest::newRow("the board's program answers a page")
        << hex("13") << 1 << Fault::Application << expectedLines(Ip, {{256, size}, {size, size}}, 0.0f)
        << "page 1 not acknowledged (program page: expected 1b 0d 00 02 0e 13 00 09, got 74 69 63 6b 0d 0a 74 69)"
        << Startup + 4;
    QTest::newRow("leaving programming mode fails") << hex("11") << 0 << Fault::Silent << complete
                                                    << "upload complete" << -1;
}

void tst_Stk500v2::faults()
{
    checkFaultRow(ScriptedModule::Protocol::Stk500v2, "MEGA2560", Startup + 2 * 2 + 1);
}

// Word addresses above 16 bits travel in the load address's third byte.
void tst_Stk500v2::highAddresses_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("page");
    QTest::addColumn<QByteArray>("loadAddress");

    QTest::newRow("above 64 KiB: page 256") << 72386 << 256 << hex("0680008000");
    QTest::newRow("above 128 KiB: page 512") << 140434 << 512 << hex("0680010000");
    QTest::newRow("above 128 KiB: last page") << 140434 << 548 << hex("0680011200");
    QTest::newRow("the whole application area: last page") << 253952 << 991 << hex("068001ef80");
}

void tst_Stk500v2::highAddresses()
{
    QFETCH(int, size);
    QFETCH(int, page);
    QFETCH(QByteArray, loadAddress);

    const QByteArray image = testImage(size, 7);
    QVERIFY(writeFile("update.bin", image));
    ScriptedModule module(ScriptedModule::Protocol::Stk500v2);
    QVERIFY(module.listen());
    UploadOutcome outcome;
    uploadTo(module, "MEGA2560", &outcome);
    QCOMPARE(outcome.kind, Kind::Success);

    const QByteArray request = module.requests().at(Startup + 2 * page);
    QCOMPARE(request.mid(5, request.size() - 6), loadAddress);
    QCOMPARE(module.flash().left(size), image);
    const int padded = pagesOf(size) * 256;
    QCOMPARE(module.flash().mid(size, padded - size), QByteArray(padded - size, char(0xFF)));
}

void tst_Stk500v2::boards_data()
{
    QTest::addColumn<QString>("board");
    QTest::newRow("MEGA2560") << "MEGA2560";
    QTest::newRow("zariV3") << "zariV3";
    QTest::newRow("zureD0") << "zureD0";
}

void tst_Stk500v2::boards()
{
    QFETCH(QString, board);
    QVERIFY(writeFile("update.bin", testImage(10)));
    ScriptedModule module(ScriptedModule::Protocol::Stk500v2);
    QVERIFY(module.listen());
    UploadOutcome outcome;
    QCOMPARE(reportLines(uploadTo(module, board, &outcome)),
             expectedLines(Ip, {{10, 10}}, 1.0f));
    QCOMPARE(module.atReceived(), QByteArray("AT+U2W=CLIENT\r\nAT+MCUUPDATE=MEGA"));
    QCOMPARE(module.requests().first(), hex("1b0100010e0114"));
}

void tst_Stk500v2::verify_data()
{
    addVerifyColumns();
    QTest::newRow("flash equals the image") << QByteArray() << Fault::Silent << qint64(-1)
                                            << "upload complete" << 1.0f;
    QTest::newRow("a byte written wrong in the last page")
        << QByteArray() << Fault::Silent << qint64(600) << "verify: flash differs from the image at 0x00258"
        << 0.0f;
    QTest::newRow("read-back with a bad checksum")
        << hex("14") << Fault::LastByteFlipped << qint64(-1)
        << "verify: flash at 0x00000 could not be read back" << 0.0f;
    QTest::newRow("read-back with a failing status")
        << hex("14") << Fault::FailedStatus << qint64(-1)
        << "verify: flash at 0x00000 could not be read back" << 0.0f;
    QTest::newRow("read-back one byte long") << hex("14") << Fault::ExtraByte << qint64(-1)
                                             << "verify: flash at 0x00000 could not be read back" << 0.0f;
}

void tst_Stk500v2::verify()
{
    QFETCH(float, verdict);
    const int size = 700;
    QList<QByteArray> requests;
    checkVerifyRow(ScriptedModule::Protocol::Stk500v2, "MEGA2560", size, PageSize, &requests);
    if (QTest::currentTestFailed())
        return;
    const int readBack = Startup + 2 * pagesOf(size);
    QVERIFY(requests.size() > readBack + 1);
    QCOMPARE(requests.at(readBack), stk500v2Frame(readBack + 1, loadAddressBody(0)));
    QCOMPARE(requests.at(readBack + 1), stk500v2Frame(readBack + 2, hex("14010020")));
    if (verdict == 1.0f) {
        QCOMPARE(requests.size(), readBack + 2 * pagesOf(size) + 1);
        QCOMPARE(requests.at(readBack + 4), stk500v2Frame(readBack + 5, loadAddressBody(256)));
        QCOMPARE(requests.last().mid(5, 3), hex("110101"));
    } else {
        QVERIFY(requests.last().mid(5, 3) != hex("110101"));
    }
}

QTEST_GUILESS_MAIN(tst_Stk500v2)
#include "tst_stk500v2.moc"
