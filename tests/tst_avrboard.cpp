// The simulated board (sim::AvrBoard) driven directly through writeSerial/serialOutput: the real
// bootloaders (Optiboot on the ATmega328P, stk500v2 on the ATmega2560) under libsimavr at real time.
#include "avrboard.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QtTest>

#include <chrono>
#include <memory>
#include <vector>

using sim::AvrBoard;

namespace {

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Collects what the board sends, with the wall-clock time each chunk was emitted (taken on the
// simulation thread through a direct connection, so a busy test thread does not skew it).
class Line
{
public:
    explicit Line(AvrBoard &board) : m_board(board)
    {
        QObject::connect(&board, &AvrBoard::serialOutput, &board, [this](const QByteArray &bytes) {
            QMutexLocker lock(&m_mutex);
            m_data += bytes;
            m_chunks.push_back({nowUs(), int(m_data.size())});
        }, Qt::DirectConnection);
        QObject::connect(&board, &AvrBoard::pageWritten, &board, [this](quint32 address) {
            QMutexLocker lock(&m_mutex);
            m_pages.push_back(address);
        }, Qt::DirectConnection);
    }

    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_data.clear();
        m_chunks.clear();
        m_pages.clear();
    }

    int size()
    {
        QMutexLocker lock(&m_mutex);
        return int(m_data.size());
    }

    QByteArray data()
    {
        QMutexLocker lock(&m_mutex);
        return m_data;
    }

    std::vector<quint32> pages()
    {
        QMutexLocker lock(&m_mutex);
        return m_pages;
    }

    // Time at which byte number index (0-based) had been emitted.
    qint64 timeOfByte(int index)
    {
        QMutexLocker lock(&m_mutex);
        for (const auto &c : m_chunks)
            if (c.second > index)
                return c.first;
        return -1;
    }

    // Sends a command and returns all that comes back: waits for expected bytes (or the timeout),
    // then a little longer so that a longer answer than expected shows too.
    QByteArray exchange(const QByteArray &command, int expected, int timeoutMs = 1500, int settleMs = 25)
    {
        clear();
        m_board.writeSerial(command);
        QElapsedTimer t;
        t.start();
        while (size() < expected && t.elapsed() < timeoutMs)
            QThread::msleep(1);
        QThread::msleep(settleMs);
        return data();
    }

private:
    AvrBoard &m_board;
    QMutex m_mutex;
    QByteArray m_data;
    std::vector<std::pair<qint64, int>> m_chunks;
    std::vector<quint32> m_pages;
};

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

// STK500v2 frame: 1B seq sizeH sizeL 0E body checksum (xor of everything before it).
QByteArray frame(int seq, const QByteArray &body)
{
    QByteArray f = bytes({0x1B, seq & 0xFF, (body.size() >> 8) & 0xFF, body.size() & 0xFF, 0x0E}) + body;
    char x = 0;
    for (char c : f)
        x ^= c;
    f.append(x);
    return f;
}

QByteArray v1ProgramPage(const QByteArray &data)
{
    return bytes({0x64, (data.size() >> 8) & 0xFF, data.size() & 0xFF, 0x46}) + data + bytes({0x20});
}

QByteArray v1LoadAddress(int wordAddress)
{
    return bytes({0x55, wordAddress & 0xFF, (wordAddress >> 8) & 0xFF, 0x20});
}

QByteArray v2LoadAddress(quint32 wordAddress)
{
    return bytes({0x06, 0x80, int(wordAddress >> 16) & 0xFF, int(wordAddress >> 8) & 0xFF, int(wordAddress) & 0xFF});
}

QByteArray v2ProgramFlash(const QByteArray &data)
{
    return bytes({0x13, (data.size() >> 8) & 0xFF, data.size() & 0xFF, 0xC1, 0x0A, 0x40, 0x4C, 0x20, 0x00, 0x00}) + data;
}

const QByteArray kSync = bytes({0x30, 0x20});
const QByteArray kInsyncOk = bytes({0x14, 0x10});

std::unique_ptr<AvrBoard> startBoard(AvrBoard::Kind kind, const QByteArray &app = QByteArray())
{
    auto board = std::make_unique<AvrBoard>(kind, app, 115200);
    QString error;
    if (!board->start(&error))
        qWarning() << "start failed:" << error;
    return board;
}

} // namespace

class TstAvrBoard : public QObject
{
    Q_OBJECT

private slots:
    void geometry();
    void optibootReplyLengths();
    void optibootPageTimingAndLine();
    void optibootStartWindow();
    void optibootSilenceTimeout();
    void optibootFlipAddress();
    void stk500v2ReplyLengths();
    void stk500v2HighPages();
    void stk500v2FirstMessageWindow();
    void stk500v2UnerasedPageIsAnded();
    void stk500v2PageTiming();
};

void TstAvrBoard::geometry()
{
    AvrBoard uno(AvrBoard::Kind::Uno, QByteArray(), 115200);
    QCOMPARE(uno.flashSize(), 32768);
    QCOMPARE(uno.pageSize(), 128);
    AvrBoard mega(AvrBoard::Kind::Mega2560, QByteArray(), 115200);
    QCOMPARE(mega.flashSize(), 262144);
    QCOMPARE(mega.pageSize(), 256);
    // Before start, flash() shows the image that will be loaded: idle loop and bootloader.
    QByteArray f = uno.flash();
    QCOMPARE(f.size(), 32768);
    QCOMPARE(quint8(f[0]), quint8(0xFF));
    QCOMPARE(quint8(f[1]), quint8(0xCF));
    QVERIFY(f.mid(0x7E00, 0x1FE) != QByteArray(0x1FE, char(0xFF)));
    QByteArray tooBig(0x7E01, 'x');
    AvrBoard bad(AvrBoard::Kind::Uno, tooBig, 115200);
    QString error;
    QVERIFY(!bad.start(&error));
    QVERIFY(!error.isEmpty());
}

void TstAvrBoard::optibootReplyLengths()
{
    auto board = startBoard(AvrBoard::Kind::Uno);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(30);
    // Sent during the LED blink: buffered, answered when the blink is over (~375 ms).
    QCOMPARE(line.exchange(kSync, 2, 1500), kInsyncOk);
    for (int p : {0x80, 0x81, 0x82, 0x98, 0x84, 0x85, 0x86, 0x87, 0x89}) {
        QByteArray r = line.exchange(bytes({0x41, p, 0x20}), 3);
        QCOMPARE(r.size(), 3);
        QCOMPARE(quint8(r[0]), quint8(0x14));
        QCOMPARE(quint8(r[2]), quint8(0x10));
        if (p == 0x81 || p == 0x82)
            QCOMPARE(quint8(r[1]), quint8(4)); // Optiboot 4.4
        else
            QCOMPARE(quint8(r[1]), quint8(3));
    }
    QByteArray setDevice = bytes({0x42, 0x86, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x03, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0x00, 0x80, 0x04, 0x00, 0x00, 0x00, 0x80, 0x00, 0x20});
    QCOMPARE(line.exchange(setDevice, 2), kInsyncOk);
    QCOMPARE(line.exchange(bytes({0x45, 0x05, 0x04, 0xD7, 0xC2, 0x00, 0x20}), 2), kInsyncOk);
    QCOMPARE(line.exchange(bytes({0x50, 0x20}), 2), kInsyncOk);
    QCOMPARE(line.exchange(bytes({0x75, 0x20}), 5), bytes({0x14, 0x1E, 0x95, 0x0F, 0x10}));
    QCOMPARE(line.exchange(bytes({0x56, 0xA0, 0x03, 0xFC, 0x00, 0x20}), 3), bytes({0x14, 0x00, 0x10}));
    QCOMPARE(line.exchange(v1LoadAddress(0x100), 2), kInsyncOk); // byte address 0x200
    QByteArray page = pattern(128, 1);
    QCOMPARE(line.exchange(v1ProgramPage(page), 2), kInsyncOk);
    QCOMPARE(line.pages(), std::vector<quint32>{0x200});
    QCOMPARE(board->flash().mid(0x200, 128), page);
    // Read back through the bootloader too.
    QCOMPARE(line.exchange(v1LoadAddress(0x100), 2), kInsyncOk);
    QCOMPARE(line.exchange(bytes({0x74, 0x00, 0x80, 0x46, 0x20}), 130), bytes({0x14}) + page + bytes({0x10}));
    // Leave programming mode: Optiboot leaves through a 16 ms watchdog reset into the application.
    QCOMPARE(line.exchange(bytes({0x51, 0x20}), 2), kInsyncOk);
    QThread::msleep(100);
    QCOMPARE(line.exchange(kSync, 2, 300), QByteArray()); // the application does not answer
}

void TstAvrBoard::optibootPageTimingAndLine()
{
    auto board = startBoard(AvrBoard::Kind::Uno);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(30); // bytes on the line while the bootloader has not enabled its UART are lost
    QCOMPARE(line.exchange(kSync, 2, 1500), kInsyncOk);
    QCOMPARE(line.exchange(v1LoadAddress(0x1000), 2), kInsyncOk); // byte address 0x2000

    // Host to board: 133 bytes take at least 133 frames of 10 bits at 115200 baud before the
    // bootloader can answer; the page write (4 ms) separates INSYNC from OK.
    QByteArray command = v1ProgramPage(pattern(128, 9));
    const qint64 sent = nowUs();
    QCOMPARE(line.exchange(command, 2), kInsyncOk);
    const qint64 insync = line.timeOfByte(0);
    const qint64 ok = line.timeOfByte(1);
    const double frameUs = 10 * 1e6 / 115200;
    QVERIFY2(insync - sent >= qint64(0.95 * 133 * frameUs),
             qPrintable(QString("command answered after %1 us").arg(insync - sent)));
    QVERIFY2(ok - insync >= 3000, qPrintable(QString("INSYNC to OK %1 us, SPM page write is 4 ms").arg(ok - insync)));
    QCOMPARE(board->flash().mid(0x2000, 128), pattern(128, 9));

    // Board to host: a 128-byte read comes at the line's pace (Optiboot's UART runs at
    // 16 MHz / (8 * 17) = 117647 baud, 10 bits a frame).
    QCOMPARE(line.exchange(v1LoadAddress(0x1000), 2), kInsyncOk);
    QByteArray r = line.exchange(bytes({0x74, 0x00, 0x80, 0x46, 0x20}), 130);
    QCOMPARE(r.size(), 130);
    const qint64 span = line.timeOfByte(129) - line.timeOfByte(0);
    const double boardFrameUs = 10 * 1e6 / 117647.0;
    QVERIFY2(span >= qint64(129 * boardFrameUs) - 1500,
             qPrintable(QString("130 bytes spread over %1 us").arg(span)));
}

void TstAvrBoard::optibootStartWindow()
{
    auto board = startBoard(AvrBoard::Kind::Uno);
    Line line(*board);
    // First command 1.0 s after the reset: still answered (watchdog 1 s after the ~375 ms blink).
    board->resetIntoBootloader();
    QThread::msleep(1000);
    QCOMPARE(line.exchange(kSync, 2, 500), kInsyncOk);
    // First command 1.7 s after the reset: the bootloader has started the application.
    board->resetIntoBootloader();
    QThread::msleep(1700);
    QCOMPARE(line.exchange(kSync, 2, 300), QByteArray());
}

void TstAvrBoard::optibootSilenceTimeout()
{
    auto board = startBoard(AvrBoard::Kind::Uno);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(30); // bytes on the line while the bootloader has not enabled its UART are lost
    QCOMPARE(line.exchange(kSync, 2, 1500), kInsyncOk);
    QThread::msleep(700);
    QCOMPARE(line.exchange(kSync, 2, 300), kInsyncOk);
    QThread::msleep(1400);
    QCOMPARE(line.exchange(kSync, 2, 300), QByteArray());
}

void TstAvrBoard::optibootFlipAddress()
{
    auto board = startBoard(AvrBoard::Kind::Uno);
    Line line(*board);
    board->setFlipAddress(0x305);
    board->resetIntoBootloader();
    QThread::msleep(30);
    QThread::msleep(30); // bytes on the line while the bootloader has not enabled its UART are lost
    QCOMPARE(line.exchange(kSync, 2, 1500), kInsyncOk);
    QCOMPARE(line.exchange(v1LoadAddress(0x180), 2), kInsyncOk); // 0x300
    QByteArray page = pattern(128, 3);
    QCOMPARE(line.exchange(v1ProgramPage(page), 2), kInsyncOk);
    QByteArray expected = page;
    expected[5] = char(expected[5] ^ 0xFF);
    QCOMPARE(board->flash().mid(0x300, 128), expected);
    board->setFlipAddress(-1);
    QCOMPARE(line.exchange(v1LoadAddress(0x180), 2), kInsyncOk);
    QCOMPARE(line.exchange(v1ProgramPage(page), 2), kInsyncOk);
    QCOMPARE(board->flash().mid(0x300, 128), page);
}

void TstAvrBoard::stk500v2ReplyLengths()
{
    auto board = startBoard(AvrBoard::Kind::Mega2560);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(30);
    int seq = 1;
    QByteArray r = line.exchange(frame(seq++, bytes({0x01})), 17);
    QCOMPARE(r.size(), 17);
    QCOMPARE(r.mid(5, 11), bytes({0x01, 0x00, 0x08}) + QByteArray("AVRISP_2"));
    for (int p : {0x90, 0x91, 0x92, 0x94}) {
        r = line.exchange(frame(seq++, bytes({0x03, p})), 9);
        QCOMPARE(r.size(), 9);
        QCOMPARE(quint8(r[5]), quint8(0x03));
        QCOMPARE(quint8(r[6]), quint8(0x00));
    }
    r = line.exchange(frame(seq++, bytes({0x10, 0xC8, 0x64, 0x19, 0x20, 0x00, 0x53, 0x03, 0xAC, 0x53, 0x00, 0x00})), 8);
    QCOMPARE(r.size(), 8);
    QCOMPARE(r.mid(5, 2), bytes({0x10, 0x00}));
    QByteArray signature;
    for (int i = 0; i < 3; ++i) {
        r = line.exchange(frame(seq++, bytes({0x1D, 0x04, 0x04, 0x00, 0x30, 0x00, i, 0x00})), 13);
        QCOMPARE(r.size(), 13);
        signature.append(r[10]);
    }
    QCOMPARE(signature, bytes({0x1E, 0x98, 0x01}));
    r = line.exchange(frame(seq++, v2LoadAddress(0x100)), 8); // byte 0x200
    QCOMPARE(r.size(), 8);
    QCOMPARE(r.mid(5, 2), bytes({0x06, 0x00}));
    QByteArray page = pattern(256, 5);
    r = line.exchange(frame(seq++, v2ProgramFlash(page)), 8);
    QCOMPARE(r.size(), 8);
    QCOMPARE(r.mid(5, 2), bytes({0x13, 0x00}));
    QCOMPARE(line.pages(), std::vector<quint32>{0x200});
    QCOMPARE(board->flash().mid(0x200, 256), page);
    // Chip erase is answered with STATUS_CMD_FAILED (0xC0).
    r = line.exchange(frame(seq++, bytes({0x12, 0x0A, 0x01, 0xAC, 0x80, 0x00, 0x00})), 8);
    QCOMPARE(r.size(), 8);
    QCOMPARE(r.mid(5, 2), bytes({0x12, 0xC0}));
    r = line.exchange(frame(seq++, bytes({0x11, 0x01, 0x01})), 8);
    QCOMPARE(r.size(), 8);
    QCOMPARE(r.mid(5, 2), bytes({0x11, 0x00}));
}

void TstAvrBoard::stk500v2HighPages()
{
    auto board = startBoard(AvrBoard::Kind::Mega2560);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(30);
    int seq = 1;
    QCOMPARE(line.exchange(frame(seq++, bytes({0x01})), 17).size(), 17);
    QCOMPARE(line.exchange(frame(seq++, bytes({0x10, 0xC8, 0x64, 0x19, 0x20, 0x00, 0x53, 0x03, 0xAC, 0x53, 0x00, 0x00})), 8).size(), 8);
    const struct { quint32 byteAddress; quint32 loadWord; int seed; } cases[] = {
        {0x10400, 0x10400 / 2, 11},    // above 64 KiB: word address 0x8200, third byte 0
        {0x20600, 0x20600 / 2, 12},    // above 128 KiB: third byte 0x01
        {0x3C000, 0x3C000 / 2, 13},    // top of the application area
        {0x00800, 0x20800 / 2 & 0xFFFF, 14}, // meant for 0x20800 with the third byte left 0
    };
    for (const auto &c : cases) {
        QCOMPARE(line.exchange(frame(seq++, v2LoadAddress(c.loadWord)), 8).mid(5, 2), bytes({0x06, 0x00}));
        QByteArray page = pattern(256, c.seed);
        QCOMPARE(line.exchange(frame(seq++, v2ProgramFlash(page)), 8).mid(5, 2), bytes({0x13, 0x00}));
        QCOMPARE(board->flash().mid(int(c.byteAddress), 256), page);
        // and read back through the bootloader (CMD_READ_FLASH_ISP: 14 00 00 20 ... answer 3 + 256 bytes)
        QCOMPARE(line.exchange(frame(seq++, v2LoadAddress(c.loadWord)), 8).size(), 8);
        QByteArray r = line.exchange(frame(seq++, bytes({0x14, 0x01, 0x00, 0x20})), 6 + 259);
        QCOMPARE(r.size(), 6 + 259);
        QCOMPARE(r.mid(7, 256), page);
    }
    // The third byte left 0 lands the page 128 KiB lower; nothing reached 0x20800.
    QCOMPARE(board->flash().mid(0x20800, 256), QByteArray(256, char(0xFF)));
    // The bootloader erased pages 0, 1, 2, 3 one after the other, whatever the load addresses said.
    QCOMPARE(board->flash().mid(0, 0x400).count(char(0xFF)), 0x400);
}

void TstAvrBoard::stk500v2FirstMessageWindow()
{
    auto board = startBoard(AvrBoard::Kind::Mega2560);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(400);
    QCOMPARE(line.exchange(frame(1, bytes({0x01})), 17, 500).size(), 17);
    board->resetIntoBootloader();
    QThread::msleep(1300);
    QCOMPARE(line.exchange(frame(1, bytes({0x01})), 17, 300), QByteArray());
}

void TstAvrBoard::stk500v2UnerasedPageIsAnded()
{
    // The application area holds 0xF0 everywhere: a page written without an erase keeps only
    // the bits set in both (the bootloader erases page 0 while writing 0x1000).
    QByteArray app(0x2000, char(0xF0));
    app[0] = char(0xFF);
    app[1] = char(0xCF);
    auto board = startBoard(AvrBoard::Kind::Mega2560, app);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(30);
    QCOMPARE(line.exchange(frame(1, bytes({0x01})), 17).size(), 17);
    QCOMPARE(line.exchange(frame(2, v2LoadAddress(0x1000 / 2)), 8).size(), 8);
    QByteArray page(256, char(0x3C));
    QCOMPARE(line.exchange(frame(3, v2ProgramFlash(page)), 8).mid(5, 2), bytes({0x13, 0x00}));
    QByteArray f = board->flash();
    QCOMPARE(f.mid(0x1000, 256), QByteArray(256, char(0x30)));
    QCOMPARE(f.mid(0, 256), QByteArray(256, char(0xFF))); // page 0 erased instead
    QCOMPARE(f.mid(0x100, 256), QByteArray(256, char(0xF0)));
}

void TstAvrBoard::stk500v2PageTiming()
{
    auto board = startBoard(AvrBoard::Kind::Mega2560);
    Line line(*board);
    board->resetIntoBootloader();
    QThread::msleep(30);
    QCOMPARE(line.exchange(frame(1, bytes({0x01})), 17).size(), 17);
    QCOMPARE(line.exchange(frame(2, v2LoadAddress(0x4000 / 2)), 8).size(), 8);
    // 272 bytes on the line, then a page erase and a page write of 4 ms each, then 8 bytes back.
    const qint64 sent = nowUs();
    QByteArray r = line.exchange(frame(3, v2ProgramFlash(pattern(256, 2))), 8);
    QCOMPARE(r.size(), 8);
    const qint64 answered = line.timeOfByte(7);
    const double lineUs = 272 * 10 * 1e6 / 115200 + 8 * 10 * 1e6 / 117647.0;
    QVERIFY2(answered - sent >= qint64(lineUs + 8000 - 1500),
             qPrintable(QString("answered after %1 us, line alone %2 us").arg(answered - sent).arg(lineUs)));
}

QTEST_GUILESS_MAIN(TstAvrBoard)
#include "tst_avrboard.moc"
