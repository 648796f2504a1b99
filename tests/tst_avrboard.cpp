// The simulated board (sim::AvrBoard) driven directly through writeSerial/serialOutput: the real
// bootloaders (Optiboot on the ATmega328P, stk500v2 on the ATmega2560) under libsimavr at real time.
// Times are read on the board's own clock, so a loaded machine slows the board but skews no result.
#include "avrboard.h"
#include "floodlines.h"
#include "testfiles.h"
// The upload path's AVR061 and AVR068 constants: the real bootloaders here judge them on their own.
#include "protocolbytes.h"
#include "stk500v1.h"
#include "stk500v2.h"

#include <QtTest>

#include <memory>
#include <mutex>
#include <vector>

using namespace upload;

using sim::AvrBoard;
Q_DECLARE_METATYPE(AvrBoard::Receiver)

namespace {

const int Baud = 115200;
const double HostFrameUs = 10 * 1e6 / Baud;
// Both bootloaders program UBRR = 16 with U2X: 16 MHz / (8 * 17) = 117647 baud.
const double BoardFrameUs = 10 * 1e6 / 117647.0;
const qint64 SpmUs = 4000;    // one page erase or page write
const qint64 SliceUs = 1000;  // the board hands out what it sent once per 1 ms slice
const int ReplyTimeout = 2000; // ms of wall time: generous, the board may run slow on a loaded machine
const qint64 SettleUs = 25000; // board time to wait after a reply for any byte more
// Board time from power-on by which the bootloader has handed over and the application printed.
const qint64 ApplicationStartUs = 3000000;
const int BoardTimeWaitMs = 60000; // wall time for a wait in board time, on a loaded machine

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

QByteArray pattern(int n, int seed)
{
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + seed) & 0xFF);
    return b;
}

const QByteArray Sync = bytes({STK_GET_SYNC, CRC_EOP});
const QByteArray InsyncOk = bytes({STK_INSYNC, STK_OK});

QByteArray v1LoadAddress(int wordAddress)
{
    return bytes({STK_LOAD_ADDRESS, wordAddress & 0xFF, (wordAddress >> 8) & 0xFF, CRC_EOP});
}

QByteArray v1ProgramPage(const QByteArray &data)
{
    return bytes({STK_PROG_PAGE, (data.size() >> 8) & 0xFF, data.size() & 0xFF, STK_MEMTYPE_FLASH}) + data
           + bytes({CRC_EOP});
}

QByteArray v1ReadPage(int length)
{
    return bytes({STK_READ_PAGE, (length >> 8) & 0xFF, length & 0xFF, STK_MEMTYPE_FLASH, CRC_EOP});
}

QByteArray v2LoadAddress(quint32 wordAddress)
{
    return bytes({CMD_LOAD_ADDRESS, 0x80, int(wordAddress >> 16) & 0xFF, int(wordAddress >> 8) & 0xFF,
                  int(wordAddress) & 0xFF});
}

QByteArray v2ProgramFlash(const QByteArray &data)
{
    return bytes({CMD_PROGRAM_FLASH_ISP, (data.size() >> 8) & 0xFF, data.size() & 0xFF, 0xC1, 0x0A, 0x40, 0x4C,
                  0x20, 0x00, 0x00})
           + data;
}

const QByteArray SignOn = bytes({CMD_SIGN_ON});
const QByteArray EnterProgmode = bytes({CMD_ENTER_PROGMODE_ISP, 0xC8, 0x64, 0x19, 0x20, 0x00, 0x53, 0x03, 0xAC,
                                        0x53, 0x00, 0x00});

// A started board and what it sends, each chunk stamped with the board's clock at the time it
// was handed out (taken on the simulation thread through a direct connection).
class Rig
{
public:
    explicit Rig(AvrBoard::Kind kind, const QByteArray &application = QByteArray(), int baud = Baud,
                 AvrBoard::Receiver receiver = AvrBoard::Receiver::Real)
        : board(kind, application, baud, receiver)
    {
        QObject::connect(&board, &AvrBoard::serialOutput, &board, [this](const QByteArray &data) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_data += data;
            m_chunks.push_back({board.elapsedMicroseconds(), int(m_data.size())});
        }, Qt::DirectConnection);
        QObject::connect(&board, &AvrBoard::pageWritten, &board, [this](quint32 address) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pages.push_back(address);
        }, Qt::DirectConnection);
        QString error;
        started = board.start(&error);
        if (!started)
            qWarning() << "board did not start:" << error;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.clear();
        m_chunks.clear();
        m_pages.clear();
    }

    QByteArray data()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_data;
    }

    std::vector<quint32> pages()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pages;
    }

    // Board time at which byte number index (from 0) had been handed out; -1 if not yet.
    qint64 timeOfByte(int index)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &c : m_chunks)
            if (c.second > index)
                return c.first;
        return -1;
    }

    bool waitBoardTime(qint64 us)
    {
        const qint64 until = board.elapsedMicroseconds() + us;
        return QTest::qWaitFor([&] { return board.elapsedMicroseconds() >= until; }, int(us / 1000) * 3 + 2000);
    }

    // Sends bytes and returns all that comes back: what was expected (or nothing more within the
    // time-out), then whatever follows within SettleUs of board time.
    QByteArray exchange(const QByteArray &command, int expected, int timeoutMs = ReplyTimeout)
    {
        clear();
        sentAt = board.elapsedMicroseconds();
        board.writeSerial(command);
        // Not all came within the time-out: the caller's comparison shows what did.
        if (QTest::qWaitFor([&] { return data().size() >= expected; }, timeoutMs))
            waitBoardTime(SettleUs);
        return data();
    }

    bool resetAndSync()
    {
        board.resetIntoBootloader();
        // What reaches the UART before the bootloader enables it is lost; the sync is answered
        // after the ~375 ms LED blink.
        return waitBoardTime(30000) && exchange(Sync, 2) == InsyncOk;
    }

    int seq = 1;
    bool resetAndSignOn()
    {
        board.resetIntoBootloader();
        seq = 1;
        return waitBoardTime(30000) && exchange(stk500v2Frame(seq++, SignOn), 17).size() == 17;
    }

    QByteArray v2(const QByteArray &body, int expectedBody)
    {
        return exchange(stk500v2Frame(seq++, body), expectedBody + 6);
    }

    AvrBoard board;
    bool started = false;
    qint64 sentAt = 0;

private:
    std::mutex m_mutex;
    QByteArray m_data;
    std::vector<std::pair<qint64, int>> m_chunks;
    std::vector<quint32> m_pages;
};

} // namespace

class tst_AvrBoard : public QObject
{
    Q_OBJECT

private slots:
    void geometry();
    void optibootReplies_data();
    void optibootReplies();
    void optibootPages_data();
    void optibootPages();
    void optibootFlipAddress();
    void optibootLeavesThroughWatchdog();
    void optibootWindows_data();
    void optibootWindows();
    void optibootSerialAndSpmTiming();
    void wrongBaudGarbles();
    void stk500v2Replies_data();
    void stk500v2Replies();
    void stk500v2Pages_data();
    void stk500v2Pages();
    void stk500v2ErasesFromZeroAndAnds();
    void stk500v2FirstMessageWindow_data();
    void stk500v2FirstMessageWindow();
    void stk500v2PageTiming();
    void backToBack_data();
    void backToBack();
    void applicationFromPowerOn_data();
    void applicationFromPowerOn();
    void resetWhileApplicationPrints_data();
    void resetWhileApplicationPrints();
};

void tst_AvrBoard::geometry()
{
    AvrBoard uno(AvrBoard::Kind::Uno, QByteArray(), Baud);
    QCOMPARE(uno.flashSize(), 32768);
    QCOMPARE(uno.pageSize(), 128);
    AvrBoard mega(AvrBoard::Kind::Mega2560, QByteArray(), Baud);
    QCOMPARE(mega.flashSize(), 262144);
    QCOMPARE(mega.pageSize(), 256);
    // Before start, flash() is the image that will run: the idle program and the bootloader.
    const QByteArray f = uno.flash();
    QCOMPARE(f.size(), 32768);
    QCOMPARE(f.left(12), bytes({0x01, 0xE0, 0x03, 0xBF, 0x78, 0x94, 0x88, 0x95, 0xFE, 0xCF, 0xFF, 0xFF}));
    QCOMPARE(f.mid(0x7E00, 2), bytes({0x11, 0x24})); // Optiboot starts with clr r1
    QCOMPARE(f.mid(0x7FFE, 2), bytes({0x04, 0x04})); // and ends with its version word, 4.4
    QCOMPARE(mega.flash().mid(0x3E000, 2), bytes({0x0D, 0x94})); // jmp: the bootloader's vector table

    AvrBoard tooBig(AvrBoard::Kind::Uno, QByteArray(0x7E01, 'x'), Baud);
    QString error;
    QVERIFY(!tooBig.start(&error));
    QVERIFY(error.contains("overlaps the bootloader"));
}

void tst_AvrBoard::optibootReplies_data()
{
    QTest::addColumn<QByteArray>("setup"); // sent first, each command answered INSYNC OK
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("get sync") << QByteArray() << Sync << InsyncOk;
    const struct { const char *name; int parameter; int value; } parameters[] = {
        {"get parameter hw version", 0x80, 3},  {"get parameter sw major", 0x81, 4},
        {"get parameter sw minor", 0x82, 4},    {"get parameter topcard", 0x98, 3},
        {"get parameter vtarget", 0x84, 3},     {"get parameter vadjust", 0x85, 3},
        {"get parameter osc pscale", 0x86, 3},  {"get parameter osc cmatch", 0x87, 3},
        {"get parameter sck duration", 0x89, 3},
    };
    for (const auto &p : parameters)
        QTest::newRow(p.name) << QByteArray() << bytes({STK_GET_PARAMETER, p.parameter, CRC_EOP})
                              << bytes({STK_INSYNC, p.value, STK_OK});
    QTest::newRow("set device")
        << QByteArray()
        << bytes({STK_SET_DEVICE, 0x86, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x80,
                  0x04, 0x00, 0x00, 0x00, 0x80, 0x00, CRC_EOP})
        << InsyncOk;
    QTest::newRow("set device ext") << QByteArray()
                                    << bytes({STK_SET_DEVICE_EXT, 0x05, 0x04, 0xD7, 0xC2, 0x00, CRC_EOP})
                                    << InsyncOk;
    QTest::newRow("enter progmode") << QByteArray() << bytes({STK_ENTER_PROGMODE, CRC_EOP}) << InsyncOk;
    QTest::newRow("read signature") << QByteArray() << bytes({STK_READ_SIGN, CRC_EOP})
                                    << bytes({STK_INSYNC, 0x1E, 0x95, 0x0F, STK_OK});
    QTest::newRow("universal") << QByteArray() << bytes({STK_UNIVERSAL, 0xA0, 0x03, 0xFC, 0x00, CRC_EOP})
                               << bytes({STK_INSYNC, 0x00, STK_OK});
    QTest::newRow("load address") << QByteArray() << v1LoadAddress(0x3F00) << InsyncOk;
    QTest::newRow("program page") << v1LoadAddress(0x100) << v1ProgramPage(pattern(128, 1)) << InsyncOk;
    QTest::newRow("read page") << v1LoadAddress(0x3F00) << v1ReadPage(4)
                               << bytes({STK_INSYNC, 0x11, 0x24, 0x84, 0xB7, STK_OK});
    QTest::newRow("leave progmode") << QByteArray() << bytes({STK_LEAVE_PROGMODE, CRC_EOP}) << InsyncOk;
}

void tst_AvrBoard::optibootReplies()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, reply);
    Rig rig(AvrBoard::Kind::Uno);
    QVERIFY(rig.started);
    QVERIFY(rig.resetAndSync());
    if (!setup.isEmpty())
        QCOMPARE(rig.exchange(setup, 2), InsyncOk);
    QCOMPARE(rig.exchange(command, reply.size()), reply);
}

void tst_AvrBoard::optibootPages_data()
{
    QTest::addColumn<int>("address");
    QTest::newRow("first page") << 0x0000;
    QTest::newRow("middle") << 0x2080;
    QTest::newRow("last application page") << 0x7D80;
}

void tst_AvrBoard::optibootPages()
{
    QFETCH(int, address);
    Rig rig(AvrBoard::Kind::Uno);
    QVERIFY(rig.resetAndSync());
    const QByteArray page = pattern(128, address >> 7);
    QCOMPARE(rig.exchange(v1LoadAddress(address / 2), 2), InsyncOk);
    QCOMPARE(rig.exchange(v1ProgramPage(page), 2), InsyncOk);
    QCOMPARE(rig.pages(), std::vector<quint32>{quint32(address)});
    const QByteArray flash = rig.board.flash();
    QCOMPARE(flash.mid(address, 128), page);
    QCOMPARE(flash.mid(address + 128, 2), address + 128 < 0x7E00 ? bytes({0xFF, 0xFF}) : bytes({0x11, 0x24}));
    QCOMPARE(rig.exchange(v1LoadAddress(address / 2), 2), InsyncOk);
    QCOMPARE(rig.exchange(v1ReadPage(128), 130), bytes({STK_INSYNC}) + page + bytes({STK_OK}));
}

void tst_AvrBoard::optibootFlipAddress()
{
    Rig rig(AvrBoard::Kind::Uno);
    rig.board.setFlipAddress(0x305);
    QVERIFY(rig.resetAndSync());
    const QByteArray page = pattern(128, 3);
    QCOMPARE(rig.exchange(v1LoadAddress(0x300 / 2), 2), InsyncOk);
    QCOMPARE(rig.exchange(v1ProgramPage(page), 2), InsyncOk);
    QByteArray flipped = page;
    flipped[5] = char(flipped[5] ^ 0xFF);
    QCOMPARE(rig.board.flash().mid(0x300, 128), flipped);
    // Read back through the bootloader, as a verify does: the fault shows there too.
    QCOMPARE(rig.exchange(v1LoadAddress(0x300 / 2), 2), InsyncOk);
    QCOMPARE(rig.exchange(v1ReadPage(128), 130).mid(1, 128), flipped);

    rig.board.setFlipAddress(-1);
    QCOMPARE(rig.exchange(v1LoadAddress(0x300 / 2), 2), InsyncOk);
    QCOMPARE(rig.exchange(v1ProgramPage(page), 2), InsyncOk);
    QCOMPARE(rig.board.flash().mid(0x300, 128), page);
}

void tst_AvrBoard::optibootLeavesThroughWatchdog()
{
    Rig rig(AvrBoard::Kind::Uno);
    QVERIFY(rig.resetAndSync());
    QCOMPARE(rig.exchange(bytes({STK_LEAVE_PROGMODE, CRC_EOP}), 2), InsyncOk);
    // A 16 ms watchdog reset starts the application, which does not answer.
    QVERIFY(rig.waitBoardTime(50000));
    QCOMPARE(rig.exchange(Sync, 2, 300), QByteArray());
    // The next external reset enters the bootloader again.
    QVERIFY(rig.resetAndSync());
}

void tst_AvrBoard::optibootWindows_data()
{
    QTest::addColumn<bool>("afterSync"); // the silence follows a first sync, else the reset
    QTest::addColumn<int>("silenceMs");
    QTest::addColumn<bool>("answered");
    // After a reset: ~375 ms of LED blink, then the 1 s watchdog.
    QTest::newRow("first command 1.0 s after reset") << false << 1000 << true;
    QTest::newRow("first command 1.7 s after reset") << false << 1700 << false;
    // Later, each byte received restarts the 1 s watchdog.
    QTest::newRow("0.7 s of silence") << true << 700 << true;
    QTest::newRow("1.4 s of silence") << true << 1400 << false;
}

void tst_AvrBoard::optibootWindows()
{
    QFETCH(bool, afterSync);
    QFETCH(int, silenceMs);
    QFETCH(bool, answered);
    Rig rig(AvrBoard::Kind::Uno);
    if (afterSync)
        QVERIFY(rig.resetAndSync());
    else
        rig.board.resetIntoBootloader();
    QVERIFY(rig.waitBoardTime(qint64(silenceMs) * 1000));
    QCOMPARE(rig.exchange(Sync, 2, 500), answered ? InsyncOk : QByteArray());
}

void tst_AvrBoard::optibootSerialAndSpmTiming()
{
    Rig rig(AvrBoard::Kind::Uno);
    QVERIFY(rig.resetAndSync());
    QCOMPARE(rig.exchange(v1LoadAddress(0x1000), 2), InsyncOk);

    // 133 bytes take 133 frames of 10 bits at 115200 baud; Optiboot erased the page while they came,
    // answers INSYNC, writes the page (4 ms, polling SPMEN) and answers OK.
    const QByteArray command = v1ProgramPage(pattern(128, 9));
    QCOMPARE(rig.exchange(command, 2), InsyncOk);
    const qint64 insync = rig.timeOfByte(0) - rig.sentAt;
    const qint64 ok = rig.timeOfByte(1) - rig.sentAt;
    const qint64 line = qint64(command.size() * HostFrameUs + BoardFrameUs);
    QVERIFY2(insync >= line - SliceUs && insync <= line + 3 * SliceUs,
             qPrintable(QString("INSYNC after %1 us, the line alone takes %2 us").arg(insync).arg(line)));
    QVERIFY2(ok - insync >= SpmUs - SliceUs && ok - insync <= SpmUs + BoardFrameUs + 2 * SliceUs,
             qPrintable(QString("OK %1 us after INSYNC: a page write is %2 us").arg(ok - insync).arg(SpmUs)));

    // Board to host: the 130 bytes of a page read, back to back at 117647 baud.
    QCOMPARE(rig.exchange(v1LoadAddress(0x1000), 2), InsyncOk);
    QCOMPARE(rig.exchange(v1ReadPage(128), 130).size(), 130);
    const qint64 span = rig.timeOfByte(129) - rig.timeOfByte(0);
    const qint64 expected = qint64(129 * BoardFrameUs);
    QVERIFY2(qAbs(span - expected) <= SliceUs,
             qPrintable(QString("130 bytes over %1 us, expected %2 us").arg(span).arg(expected)));
}

void tst_AvrBoard::wrongBaudGarbles()
{
    // The line at 57600 baud, Optiboot at 115200: what it receives is not a sync, nor is its answer.
    Rig rig(AvrBoard::Kind::Uno, QByteArray(), 57600);
    rig.board.resetIntoBootloader();
    QVERIFY(rig.waitBoardTime(30000));
    const QByteArray reply = rig.exchange(Sync, 2, 1000);
    QVERIFY2(reply != InsyncOk && !reply.contains(char(STK_INSYNC)), reply.toHex().constData());
}

void tst_AvrBoard::stk500v2Replies_data()
{
    QTest::addColumn<QByteArray>("setup"); // a body sent first, answered with an 8-byte frame
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("length");      // of the whole reply frame
    QTest::addColumn<QByteArray>("start"); // of the reply's body

    QTest::newRow("sign on") << QByteArray() << SignOn << 17
                             << bytes({CMD_SIGN_ON, STATUS_CMD_OK, 8}) + QByteArray("AVRISP_2");
    for (int p : {0x90, 0x91, 0x92, 0x94})
        QTest::newRow(qPrintable(QString("get parameter %1").arg(p, 2, 16))) << QByteArray()
            << bytes({CMD_GET_PARAMETER, p}) << 9 << bytes({CMD_GET_PARAMETER, STATUS_CMD_OK});
    QTest::newRow("enter progmode") << QByteArray() << EnterProgmode << 8
                                    << bytes({CMD_ENTER_PROGMODE_ISP, STATUS_CMD_OK});
    const int signature[] = {0x1E, 0x98, 0x01};
    for (int i = 0; i < 3; ++i)
        QTest::newRow(qPrintable(QString("spi multi signature %1").arg(i)))
            << QByteArray() << bytes({CMD_SPI_MULTI, 0x04, 0x04, 0x00, 0x30, 0x00, i, 0x00}) << 13
            << bytes({CMD_SPI_MULTI, STATUS_CMD_OK, 0x00, 0x30, 0x00, signature[i], STATUS_CMD_OK});
    QTest::newRow("load address") << QByteArray() << v2LoadAddress(0x100) << 8
                                  << bytes({CMD_LOAD_ADDRESS, STATUS_CMD_OK});
    QTest::newRow("program flash") << v2LoadAddress(0x100) << v2ProgramFlash(pattern(256, 5)) << 8
                                   << bytes({CMD_PROGRAM_FLASH_ISP, STATUS_CMD_OK});
    QTest::newRow("leave progmode") << QByteArray() << bytes({CMD_LEAVE_PROGMODE_ISP, 0x01, 0x01}) << 8
                                    << bytes({CMD_LEAVE_PROGMODE_ISP, STATUS_CMD_OK});
    QTest::newRow("chip erase fails") << QByteArray() << bytes({CMD_CHIP_ERASE_ISP, 0x0A, 0x01, 0xAC, 0x80, 0x00, 0x00})
                                      << 8 << bytes({CMD_CHIP_ERASE_ISP, STATUS_CMD_FAILED});
}

void tst_AvrBoard::stk500v2Replies()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, body);
    QFETCH(int, length);
    QFETCH(QByteArray, start);
    Rig rig(AvrBoard::Kind::Mega2560);
    QVERIFY(rig.started);
    QVERIFY(rig.resetAndSignOn());
    if (!setup.isEmpty())
        QCOMPARE(rig.v2(setup, 2).size(), 8);
    const int seq = rig.seq;
    const QByteArray reply = rig.v2(body, length - 6);
    QCOMPARE(reply.size(), length);
    QCOMPARE(reply.mid(5, start.size()), start);
    QCOMPARE(reply, stk500v2Frame(seq, reply.mid(5, length - 6))); // framing and checksum
}

void tst_AvrBoard::stk500v2Pages_data()
{
    QTest::addColumn<quint32>("loadWord"); // the word address as sent, bits 16..23 in the third byte
    QTest::addColumn<quint32>("landsAt");  // byte address
    QTest::newRow("below 64 KiB") << quint32(0x00400 / 2) << quint32(0x00400);
    QTest::newRow("above 64 KiB") << quint32(0x10400 / 2) << quint32(0x10400);
    QTest::newRow("above 128 KiB") << quint32(0x20600 / 2) << quint32(0x20600);
    QTest::newRow("last application page") << quint32(0x3DF00 / 2) << quint32(0x3DF00);
    // Bits 16..23 left 0: the page lands 128 KiB lower.
    QTest::newRow("above 128 KiB, third byte 0") << quint32(0x20800 / 2 & 0xFFFF) << quint32(0x00800);
}

void tst_AvrBoard::stk500v2Pages()
{
    QFETCH(quint32, loadWord);
    QFETCH(quint32, landsAt);
    Rig rig(AvrBoard::Kind::Mega2560);
    QVERIFY(rig.resetAndSignOn());
    QCOMPARE(rig.v2(EnterProgmode, 2).mid(5, 2), bytes({CMD_ENTER_PROGMODE_ISP, STATUS_CMD_OK}));
    const QByteArray page = pattern(256, int(landsAt >> 8));
    QCOMPARE(rig.v2(v2LoadAddress(loadWord), 2).mid(5, 2), bytes({CMD_LOAD_ADDRESS, STATUS_CMD_OK}));
    QCOMPARE(rig.v2(v2ProgramFlash(page), 2).mid(5, 2), bytes({CMD_PROGRAM_FLASH_ISP, STATUS_CMD_OK}));
    QCOMPARE(rig.pages(), std::vector<quint32>{landsAt});
    // Nothing else changed, but for page 0: the bootloader erases pages from 0 on, one per write.
    QByteArray expected = AvrBoard(AvrBoard::Kind::Mega2560, QByteArray(), Baud).flash();
    expected.replace(0, 256, QByteArray(256, char(0xFF)));
    expected.replace(int(landsAt), 256, page);
    QCOMPARE(rig.board.flash(), expected);
    // Read back through the bootloader.
    QCOMPARE(rig.v2(v2LoadAddress(loadWord), 2).size(), 8);
    const QByteArray r = rig.v2(bytes({CMD_READ_FLASH_ISP, 0x01, 0x00, 0x20}), 259);
    QCOMPARE(r.size(), 6 + 259);
    QCOMPARE(r.mid(7, 256), page);
}

void tst_AvrBoard::stk500v2ErasesFromZeroAndAnds()
{
    // The application area holds 0xF0: a page written without an erase keeps only the bits set in
    // both, as real flash does. The bootloader erases page 0 (and then 1, 2, ...) whatever the
    // load address says, so writing 0x1000 leaves that page unerased.
    QByteArray app(0x2000, char(0xF0));
    app[0] = char(0xFF); // rjmp .-2
    app[1] = char(0xCF);
    Rig rig(AvrBoard::Kind::Mega2560, app);
    QVERIFY(rig.resetAndSignOn());
    QCOMPARE(rig.v2(v2LoadAddress(0x1000 / 2), 2).size(), 8);
    QCOMPARE(rig.v2(v2ProgramFlash(QByteArray(256, char(0x3C))), 2).mid(5, 2),
             bytes({CMD_PROGRAM_FLASH_ISP, STATUS_CMD_OK}));
    QCOMPARE(rig.v2(v2ProgramFlash(QByteArray(256, char(0x3C))), 2).size(), 8); // next page, 0x1100
    const QByteArray flash = rig.board.flash();
    QCOMPARE(flash.mid(0x1000, 512), QByteArray(512, char(0x30)));
    QCOMPARE(flash.mid(0x0000, 512), QByteArray(512, char(0xFF))); // pages 0 and 1 erased instead
    QCOMPARE(flash.mid(0x0200, 256), QByteArray(256, char(0xF0)));
}

void tst_AvrBoard::stk500v2FirstMessageWindow_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("answered");
    QTest::newRow("0.4 s after reset") << 400 << true;
    QTest::newRow("1.3 s after reset") << 1300 << false;
}

void tst_AvrBoard::stk500v2FirstMessageWindow()
{
    QFETCH(int, delayMs);
    QFETCH(bool, answered);
    Rig rig(AvrBoard::Kind::Mega2560);
    rig.board.resetIntoBootloader();
    QVERIFY(rig.waitBoardTime(qint64(delayMs) * 1000));
    QCOMPARE(rig.exchange(stk500v2Frame(1, SignOn), 17, 500).size(), answered ? 17 : 0);
}

void tst_AvrBoard::stk500v2PageTiming()
{
    Rig rig(AvrBoard::Kind::Mega2560);
    QVERIFY(rig.resetAndSignOn());
    QCOMPARE(rig.v2(v2LoadAddress(0x4000 / 2), 2).size(), 8);
    // 272 bytes on the line, a page erase and a page write of 4 ms each, 8 bytes back.
    const QByteArray command = stk500v2Frame(rig.seq++, v2ProgramFlash(pattern(256, 2)));
    QCOMPARE(rig.exchange(command, 8).size(), 8);
    const qint64 answered = rig.timeOfByte(7) - rig.sentAt;
    const qint64 line = qint64(command.size() * HostFrameUs + 8 * BoardFrameUs);
    QVERIFY2(answered >= line + 2 * SpmUs - SliceUs && answered <= line + 2 * SpmUs + 4 * SliceUs,
             qPrintable(QString("answered after %1 us; line %2 us, erase and write %3 us")
                            .arg(answered).arg(line).arg(2 * SpmUs)));
}

void tst_AvrBoard::backToBack_data()
{
    QTest::addColumn<bool>("uno");
    QTest::addColumn<AvrBoard::Receiver>("receiver");
    QTest::addColumn<bool>("answered"); // both commands, and the page written

    // Optiboot answers load address at once and reads on: the page follows without a loss.
    QTest::newRow("Optiboot: load address + program page") << true << AvrBoard::Receiver::Real << true;
    // The stk500v2 bootloader reads nothing while it sends its answer: the next message overruns.
    QTest::newRow("stk500v2: load address + program flash") << false << AvrBoard::Receiver::Real << false;
    QTest::newRow("stk500v2, forgiving receiver") << false << AvrBoard::Receiver::Forgiving << true;
}

// Two commands in one write, as a host that does not wait for the first answer sends them.
void tst_AvrBoard::backToBack()
{
    QFETCH(bool, uno);
    QFETCH(AvrBoard::Receiver, receiver);
    QFETCH(bool, answered);
    Rig rig(uno ? AvrBoard::Kind::Uno : AvrBoard::Kind::Mega2560, QByteArray(), Baud, receiver);
    QVERIFY(uno ? rig.resetAndSync() : rig.resetAndSignOn());
    const quint32 address = 0x1200;
    const QByteArray page = pattern(rig.board.pageSize(), 4);
    QByteArray commands;
    QByteArray replies;
    if (uno) {
        commands = v1LoadAddress(address / 2) + v1ProgramPage(page);
        replies = InsyncOk + InsyncOk;
    } else {
        commands = stk500v2Frame(rig.seq, v2LoadAddress(address / 2)) + stk500v2Frame(rig.seq + 1, v2ProgramFlash(page));
        replies = stk500v2Frame(rig.seq, bytes({CMD_LOAD_ADDRESS, STATUS_CMD_OK}))
                  + stk500v2Frame(rig.seq + 1, bytes({CMD_PROGRAM_FLASH_ISP, STATUS_CMD_OK}));
    }
    const QByteArray reply = rig.exchange(commands, replies.size(), 1000);
    QCOMPARE(reply == replies, answered);
    QCOMPARE(rig.board.flash().mid(int(address), page.size()) == page, answered);
    if (receiver == AvrBoard::Receiver::Real)
        QCOMPARE(rig.board.overrunBytes() == 0, answered);
}

void tst_AvrBoard::applicationFromPowerOn_data()
{
    QTest::addColumn<bool>("uno");
    QTest::newRow("UNO") << true;
    QTest::newRow("MEGA2560") << false;
}

// Powered on, the bootloader hands over to the application, which prints without a host byte.
void tst_AvrBoard::applicationFromPowerOn()
{
    QFETCH(bool, uno);
    const QByteArray application = readFile(avrPath(uno ? QStringLiteral("serialecho.bin") : QStringLiteral("serialecho_mega.bin")));
    QVERIFY(!application.isEmpty());
    Rig rig(uno ? AvrBoard::Kind::Uno : AvrBoard::Kind::Mega2560, application);
    QVERIFY(rig.started);
    const QByteArray ready("serialecho ready\r\n");
    const qint64 until = rig.board.elapsedMicroseconds() + ApplicationStartUs;
    QVERIFY(QTest::qWaitFor([&] { return rig.data().size() >= ready.size() || rig.board.elapsedMicroseconds() > until; },
                            BoardTimeWaitMs));
    QVERIFY2(rig.data().startsWith(ready), rig.data().constData());
}

void tst_AvrBoard::resetWhileApplicationPrints_data()
{
    applicationFromPowerOn_data(); // both boards
}

// The application prints without a pause when the reset comes: what it sent before comes out
// whole and in order, then the line is quiet and the bootloader answers.
void tst_AvrBoard::resetWhileApplicationPrints()
{
    QFETCH(bool, uno);
    const int printedLines = 3;
    const QByteArray application = readFile(avrPath(uno ? QStringLiteral("serialflood.bin") : QStringLiteral("serialflood_mega.bin")));
    QVERIFY(!application.isEmpty());
    Rig rig(uno ? AvrBoard::Kind::Uno : AvrBoard::Kind::Mega2560, application);
    QVERIFY(rig.started);
    int lines = 0;
    const qint64 until = rig.board.elapsedMicroseconds() + ApplicationStartUs;
    QVERIFY(QTest::qWaitFor([&] { return (floodRunUnbroken(rig.data(), nullptr, &lines) && lines >= printedLines)
                                         || rig.board.elapsedMicroseconds() > until; },
                            BoardTimeWaitMs));
    QVERIFY2(lines >= printedLines, rig.data().left(FloodLineBytes).toHex().constData());
    rig.board.resetIntoBootloader();
    QVERIFY(rig.waitBoardTime(SettleUs));
    const QByteArray printed = rig.data();
    QVERIFY2(floodRunUnbroken(printed), printed.right(FloodLineBytes).constData());
    QVERIFY(rig.waitBoardTime(SettleUs));
    QCOMPARE(rig.data().size(), printed.size());
    if (uno) {
        QCOMPARE(rig.exchange(Sync, 2), InsyncOk);
    } else {
        rig.seq = 1;
        QCOMPARE(rig.exchange(stk500v2Frame(rig.seq++, SignOn), 17).size(), 17);
    }
}

QTEST_GUILESS_MAIN(tst_AvrBoard)
#include "tst_avrboard.moc"
