#include "stk500v2driver.h"

#include "stk500v2.h"

#include <QDebug>
#include <QVector>

#include <cstdio>
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
constexpr int SpiMultiResult = FrameData + 3; // frame offset of the byte the chip sent back
constexpr int SignOnAnswer = 11; // command, status, name length, an 8-character programmer name

struct StartupStep
{
    QByteArray body;
    int answerSize;    // body bytes of the answer
    QVector<int> okAt; // body offsets of the answer's status bytes after the first
    QString name;      // for the outcome
    const char *trace; // label of the debug line after every read; none when null
    int signatureByte = -1; // which signature byte the answer carries
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
            {SpiMultiStatus}, QStringLiteral("signature byte %1").arg(n), "read send stk500 multi =", n};
}

StartupStep signOn()
{
    return {bytes({CMD_SIGN_ON}), SignOnAnswer, {}, QStringLiteral("sign-on"), "read send_sign_on reply ="};
}

// What follows the sign-on that found the bootloader.
const QVector<StartupStep> &startupSteps()
{
    static const QVector<StartupStep> steps = {
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

Stk500v2Driver::Stk500v2Driver(const Board &board, DataPipe &pipe, const UploadTimeouts &timeouts)
    : BootloaderDriver(board, pipe, timeouts)
{
}

QByteArray Stk500v2Driver::frame(const QByteArray &body)
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

quint8 Stk500v2Driver::message(const QByteArray &body, int answerSize, const QVector<int> &okAt,
                               const DataPipe::AttemptTrace &trace, QByteArray *reply, int timeMs)
{
    const QByteArray request = frame(body);
    return pipe.exchange(request,
                         ReplyPattern::stk500v2(sequenceNumber, quint8(body.at(0)), answerSize, okAt),
                         timeMs > 0 ? timeMs : timeouts.reply * Attempts, trace, reply);
}

QString Stk500v2Driver::greetingStep() const
{
    return signOn().name;
}

// Every try is the first message again, the same bytes: a bootloader that took an earlier one
// half still finds the next whole.
quint8 Stk500v2Driver::greet(int timeMs)
{
    const StartupStep step = signOn();
    sequenceNumber = 0;
    pipe.send(frame(step.body));
    return pipe.awaitReply(ReplyPattern::stk500v2(sequenceNumber, CMD_SIGN_ON, step.answerSize), timeMs,
                           hexCountTrace(step.trace));
}

quint8 Stk500v2Driver::startup(QByteArray *signature)
{
    *signature = QByteArray(3, '\0');
    for (const StartupStep &step : startupSteps()) {
        QByteArray reply;
        if (message(step.body, step.answerSize, step.okAt,
                    step.trace ? hexCountTrace(step.trace) : DataPipe::AttemptTrace(), &reply)
            != 0)
            return fail(step.name);
        if (step.signatureByte >= 0)
            (*signature)[step.signatureByte] = reply.at(SpiMultiResult);
    }
    return 0;
}

quint8 Stk500v2Driver::writePage(quint32 wordAddress, const QByteArray &page)
{
    if (message(loadAddressBody(wordAddress), StatusAnswer, {}, hexTrace("read send_mtk_header_ reply ="))
        != 0) {
        perror("send stk header erro");
        return fail(QStringLiteral("load address"));
    }
    // A short last page goes out whole, padded with 0xFF, the value of erased flash.
    QByteArray body = bytes({CMD_PROGRAM_FLASH_ISP,
                             quint8(target.pageSize >> 8), quint8(target.pageSize & 0xFF),
                             PROGRAM_MODE_PAGE_RDY,
                             10, // delay
                             SPI_LOAD_PAGE_LOW, SPI_WRITE_PAGE, SPI_READ_FLASH_LOW,
                             0x00, 0x00}); // poll values
    body.append(page);
    body.append(QByteArray(target.pageSize - page.size(), char(0xFF)));
    if (message(body, StatusAnswer, {}, hexTrace("read send_hw_ reply =")) != 0) {
        perror("send data error");
        return fail(QStringLiteral("program page"));
    }
    return 0;
}

quint8 Stk500v2Driver::leave()
{
    if (message(bytes({CMD_LEAVE_PROGMODE_ISP, 1, 1}), StatusAnswer, {}, {}, nullptr, timeouts.leaveProgramming)
        != 0)
        return fail(QStringLiteral("leave programming mode"));
    return 0;
}

quint8 Stk500v2Driver::readPage(quint32 wordAddress, QByteArray *data)
{
    if (message(loadAddressBody(wordAddress), StatusAnswer, {}) != 0)
        return fail(QStringLiteral("load address"));
    const QByteArray read = bytes({CMD_READ_FLASH_ISP, quint8(target.pageSize >> 8),
                                   quint8(target.pageSize & 0xFF), SPI_READ_FLASH_LOW});
    // Answer: command, status, the page, status.
    QByteArray reply;
    if (message(read, target.pageSize + 3, {target.pageSize + 2}, {}, &reply) != 0)
        return fail(QStringLiteral("read page"));
    *data = reply.mid(FrameData, target.pageSize);
    return 0;
}

} // namespace upload
