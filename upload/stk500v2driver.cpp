// The STK500v2 path of the upload worker: sign-on, parameters, programming mode, signature,
// the image in pages of the board's size, leaving programming mode. Every reply must be the answer frame to
// its request: same sequence number and command, STATUS_CMD_OK, a right checksum.

#include "stk500v2.h"
#include "thread.h"

#include <QDebug>
#include <QVector>

#include <initializer_list>

namespace upload {

namespace {

constexpr int Attempts = 5;    // read attempts per reply
constexpr int FrameExtra = 6; // start, sequence, two size bytes, token, checksum
constexpr int FrameData = 7; // frame offset of an answer's first byte after command and status
constexpr int StatusAnswer = 2; // body bytes of an answer that carries nothing: command, status
// An SPI multi answer: command, status, the four bytes received, status.
constexpr int SpiMultiAnswer = 7;
constexpr int SpiMultiStatus = 6; // body offset of its second status byte

struct StartupStep
{
    QByteArray body;
    int answerSize;    // body bytes of the answer
    QVector<int> okAt; // body offsets of the answer's status bytes after the first
    QString name;      // for the outcome
    const char *trace; // label of the debug line after every read; none when null
};

QByteArray bytes(std::initializer_list<quint8> list)
{
    QByteArray out;
    for (quint8 b : list)
        out.append(char(b));
    return out;
}

StartupStep parameter(quint8 p, const char *name)
{
    // Answer: command, status, the value.
    return {bytes({CMD_GET_PARAMETER, p}), 3, {}, QString::fromLatin1(name), nullptr};
}

StartupStep signature(quint8 n)
{
    return {bytes({CMD_SPI_MULTI, 4, 4, 0, SPI_READ_SIGNATURE, 0x00, n, 0x00}), SpiMultiAnswer,
            {SpiMultiStatus}, QStringLiteral("signature byte %1").arg(n), "read send stk500 multi ="};
}

const QVector<StartupStep> &startupSteps()
{
    static const QVector<StartupStep> steps = {
        // Answer: command, status, name length, an 8-character programmer name.
        {bytes({CMD_SIGN_ON}), 11, {}, QStringLiteral("sign-on"), "read send_sign_on reply ="},
        parameter(PARAM_HW_VER, "hardware version"),
        parameter(PARAM_SW_MAJOR, "software major version"),
        parameter(PARAM_SW_MINOR, "software minor version"),
        parameter(PARAM_VTARGET, "target voltage"),
        {bytes({CMD_ENTER_PROGMODE_ISP,
                200, // time-out
                100, // stabilisation delay
                25,  // command execution delay
                32,  // synchronisation loops
                0,   // byte delay
                0x53, 3, // poll value and index
                SPI_PROGRAMMING_ENABLE, 0x53, 0x00, 0x00}),
         StatusAnswer, {}, QStringLiteral("enter programming mode"), nullptr},
        signature(0),
        signature(1),
        signature(2),
    };
    return steps;
}

QByteArray loadAddressBody(quint32 wordAddress)
{
    return bytes({CMD_LOAD_ADDRESS,
                  LOAD_ADDRESS_EXTENDED,
                  quint8((wordAddress >> 16) & 0xFF),
                  quint8((wordAddress >> 8) & 0xFF),
                  quint8(wordAddress & 0xFF)});
}

DataPipe::AttemptTrace hexCountTrace(const char *label)
{
    return [label](const QByteArray &attempt, qint64 count) {
        qDebug() << label << DataPipe::untilZero(attempt).toHex() << count;
    };
}

DataPipe::AttemptTrace hexTrace(const char *label)
{
    return [label](const QByteArray &attempt, qint64) {
        qDebug() << label << DataPipe::untilZero(attempt).toHex();
    };
}

} // namespace

void Thread::stk500v2Driver()
{
    if (modeSwitchStep() != 0)
        return;
    if (stk500v2Startup() != 0)
        return;
    pageLoop({target->pageSize, char(0xFF), &Thread::stk500v2WritePage, &Thread::stk500v2ReadPage,
              &Thread::stk500v2LeaveProgramming, true});
}

// The whole message in one buffer, with the next sequence number.
QByteArray Thread::stk500v2Frame(const QByteArray &body)
{
    ++sequenceNumber;
    QByteArray frame;
    frame.reserve(body.size() + FrameExtra);
    frame.append(char(MESSAGE_START));
    frame.append(char(sequenceNumber));
    frame.append(char(body.size() >> 8));
    frame.append(char(body.size() & 0xFF));
    frame.append(char(TOKEN));
    frame.append(body);
    quint8 checksum = 0;
    for (char c : frame)
        checksum ^= quint8(c);
    frame.append(char(checksum));
    return frame;
}

quint8 Thread::stk500v2Message(const QByteArray &body, int answerSize, const QVector<int> &okAt,
                               const DataPipe::AttemptTrace &trace, QByteArray *reply, int timeMs)
{
    const QByteArray frame = stk500v2Frame(body);
    return pipe->exchange(frame,
                          ReplyPattern::stk500v2(sequenceNumber, quint8(body.at(0)), answerSize, okAt),
                          timeMs > 0 ? timeMs : timeouts.reply * Attempts, trace, reply);
}

quint8 Thread::stk500v2Startup()
{
    // Whatever the module passed on before the bootloader was spoken to is not an answer.
    qDebug() << "read send_sign_on reply 1=" << DataPipe::untilZero(pipe->readPending()).toHex();
    for (const StartupStep &step : startupSteps()) {
        if (stk500v2Message(step.body, step.answerSize, step.okAt,
                            step.trace ? hexCountTrace(step.trace) : DataPipe::AttemptTrace())
            != 0) {
            result = startupFailed(step.name);
            return 1;
        }
    }
    return 0;
}

quint8 Thread::stk500v2WritePage(quint32 wordAddress, qint64 page)
{
    if (stk500v2Message(loadAddressBody(wordAddress), StatusAnswer, {},
                        hexTrace("read send_mtk_header_ reply ="))
        != 0) {
        perror("send stk header erro");
        result = pageFailed(page, QStringLiteral("load address"));
        return 1;
    }
    // A short last page goes out whole, padded with 0xFF, the value of erased flash.
    QByteArray body = bytes({CMD_PROGRAM_FLASH_ISP,
                             quint8(target->pageSize >> 8), quint8(target->pageSize & 0xFF),
                             PROGRAM_MODE_PAGE_RDY,
                             10, // delay
                             SPI_LOAD_PAGE_LOW, SPI_WRITE_PAGE, SPI_READ_FLASH_LOW,
                             0x00, 0x00}); // poll values
    body.append(pageBuffer);
    if (stk500v2Message(body, StatusAnswer, {}, hexTrace("read send_hw_ reply =")) != 0) {
        perror("send data error");
        result = pageFailed(page, QStringLiteral("program page"));
        return 1;
    }
    return 0;
}

quint8 Thread::stk500v2LeaveProgramming()
{
    return stk500v2Message(bytes({CMD_LEAVE_PROGMODE_ISP, 1, 1}), StatusAnswer, {}, {}, nullptr,
                           timeouts.leaveProgramming);
}

quint8 Thread::stk500v2ReadPage(quint32 wordAddress, QByteArray *data)
{
    if (stk500v2Message(loadAddressBody(wordAddress), StatusAnswer, {}) != 0)
        return 1;
    const QByteArray read = bytes({CMD_READ_FLASH_ISP, quint8(target->pageSize >> 8),
                                   quint8(target->pageSize & 0xFF), SPI_READ_FLASH_LOW});
    // Answer: command, status, the page, status.
    QByteArray reply;
    if (stk500v2Message(read, target->pageSize + 3, {target->pageSize + 2}, {}, &reply) != 0)
        return 1;
    *data = reply.mid(FrameData, target->pageSize);
    return 0;
}

} // namespace upload
