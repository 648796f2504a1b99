// The STK500v1 path of the upload worker: a fixed start-up dialogue, the image in pages of the
// board's size, leaving programming mode. Every reply must be STK_INSYNC ... STK_OK of the step's length.

#include "stk500v1.h"
#include "thread.h"

#include <QDebug>
#include <QVector>

#include <initializer_list>

namespace upload {

namespace {

constexpr int Attempts = 5;             // read attempts per reply
constexpr int ProgramPageAttempts = 10; // read attempts for the reply to a program page
constexpr int InSyncOk = 2;             // reply bytes of a command that returns nothing

enum class Trace { HexLen, ParameterHex, Hex, CommandBefore };

struct StartupStep
{
    QByteArray command;
    int expected;      // reply bytes
    QString name;      // for the outcome
    const char *trace; // label of the debug line
    Trace style;
    const char *failure; // diagnostic when the reply does not add up
    bool fatal;
};

QByteArray bytes(std::initializer_list<quint8> list)
{
    QByteArray out;
    for (quint8 b : list)
        out.append(char(b));
    return out;
}

StartupStep sync()
{
    return {bytes({STK_GET_SYNC, CRC_EOP}), InSyncOk, QStringLiteral("get sync"),
            "read hello reply 1=", Trace::HexLen, "send a 0 error", true};
}

StartupStep parameter(quint8 p, const char *failure, bool fatal = true)
{
    return {bytes({STK_GET_PARAMETER, p, CRC_EOP}), 3,
            QStringLiteral("get parameter 0x%1").arg(p, 2, 16, QLatin1Char('0')),
            "read send_A reply =", Trace::ParameterHex, failure, fatal};
}

StartupStep readEeprom(quint8 i)
{
    return {bytes({STK_UNIVERSAL, SPI_READ_EEPROM, 0x03, quint8(0xFC + i), 0x00, CRC_EOP}), 3,
            QStringLiteral("universal (EEPROM byte %1)").arg(i), nullptr, Trace::CommandBefore,
            "send v error", true};
}

const QVector<StartupStep> &startupSteps()
{
    static const QVector<StartupStep> steps = {
        sync(),
        sync(),
        sync(),
        parameter(Parm_STK_HW_VER, "send a 0x80 error"),
        parameter(Parm_STK_SW_MAJOR, "send a 0x80 error"),
        parameter(Parm_STK_SW_MINOR, "send A error 0x82"),
        // Not every bootloader knows the top card; its absence is harmless.
        parameter(Param_STK500_TOPCARD_DETECT, "send A error 0x98", false),
        parameter(Parm_STK_VTARGET, "send A error 0x84"),
        parameter(Parm_STK_VADJUST, "send A error 0x85"),
        parameter(Parm_STK_OSC_PSCALE, "send A error 0x86"),
        parameter(Parm_STK_OSC_CMATCH, "send A error 0x87"),
        parameter(Parm_STK_SCK_DURATION, "send A error 0x89"),
        parameter(Parm_STK_SW_MAJOR, "send A error 0x81"),
        parameter(Parm_STK_SW_MINOR, "send A error 0x82"),
        {bytes({STK_SET_DEVICE,
                0x86,                   // device code
                0x00, 0x00,             // revision, programming type
                0x01, 0x01, 0x01,       // parallel mode, polling, self-timed
                0x01, 0x03,             // lock bytes, fuse bytes
                0xFF, 0xFF, 0xFF, 0xFF, // flash and EEPROM poll values
                0x00, 0x80,             // page size: 128
                0x04, 0x00,             // EEPROM size: 1024
                0x00, 0x00, 0x80, 0x00, // flash size: 32768
                CRC_EOP}),
         InSyncOk, QStringLiteral("set device"), "read send_B reply 1=", Trace::HexLen,
         "send B error", true},
        {bytes({STK_SET_DEVICE_EXT,
                0x05,       // command size
                0x04,       // EEPROM page size
                0xD7, 0xC2, // PAGEL and BS2 signals
                0x00,       // reset disable
                CRC_EOP}),
         InSyncOk, QStringLiteral("set extended device"), "read send_e reply 1=", Trace::HexLen,
         "send_E error", true},
        {bytes({STK_ENTER_PROGMODE, CRC_EOP}), InSyncOk, QStringLiteral("enter programming mode"),
         "read send_p reply =", Trace::Hex, "send P error", true},
        {bytes({STK_READ_SIGN, CRC_EOP}), 5, QStringLiteral("read signature"),
         "read send_u reply =", Trace::Hex, "send u error", true},
        readEeprom(0),
        readEeprom(1),
        readEeprom(2),
        readEeprom(3),
    };
    return steps;
}

DataPipe::AttemptTrace traceFor(const StartupStep &step)
{
    switch (step.style) {
    case Trace::HexLen:
        return [label = step.trace](const QByteArray &attempt, qint64 count) {
            qDebug() << label << DataPipe::untilZero(attempt).toHex() << "len=" << count;
        };
    case Trace::ParameterHex:
        return [label = step.trace, p = int(quint8(step.command.at(1)))](const QByteArray &attempt,
                                                                         qint64) {
            qDebug() << label << p << DataPipe::untilZero(attempt).toHex();
        };
    case Trace::Hex:
        return [label = step.trace](const QByteArray &attempt, qint64) {
            qDebug() << label << DataPipe::untilZero(attempt).toHex();
        };
    case Trace::CommandBefore:
        break;
    }
    return {};
}

QByteArray loadAddressCommand(quint32 wordAddress)
{
    return bytes({STK_LOAD_ADDRESS, quint8(wordAddress & 0xFF), quint8((wordAddress >> 8) & 0xFF),
                  CRC_EOP});
}

DataPipe::AttemptTrace countHexTrace(const char *label)
{
    return [label](const QByteArray &attempt, qint64 count) {
        qDebug() << label << count << DataPipe::untilZero(attempt).toHex();
    };
}

} // namespace

void Thread::stk500v1Driver()
{
    if (modeSwitchStep() != 0)
        return;
    if (stk500v1Startup() != 0)
        return;
    pageLoop({target->pageSize, '\0', &Thread::stk500v1WritePage, &Thread::stk500v1ReadPage,
              &Thread::stk500v1LeaveProgramming});
}

quint8 Thread::stk500v1Startup()
{
    for (const StartupStep &step : startupSteps()) {
        if (step.style == Trace::CommandBefore)
            qDebug() << "send v data =" << DataPipe::untilZero(step.command).toHex()
                     << step.command.size();
        if (pipe->exchange(step.command, ReplyPattern::stk500v1(step.expected),
                           timeouts.reply * Attempts, traceFor(step))
            == 0)
            continue;
        perror(step.failure);
        if (step.fatal) {
            result = startupFailed(step.name);
            return 1;
        }
    }
    return 0;
}

// Load address and program page go out in one write, and then both replies are collected: one
// round trip per page instead of two, which over a Wi-Fi link is most of the time a page takes.
// This is safe on a real board, whose receiver holds only two unread bytes (plus one in its shift
// register) and loses what comes beyond: Optiboot answers load address with two bytes written to
// an idle transmitter, without waiting, and goes straight on to read the next command, so its
// receive buffer never holds more than two unread bytes. Nothing may follow a program page in the
// same way (the bootloader writes the flash for milliseconds and reads nothing meanwhile), and no
// STK500v2 message may follow another (that bootloader reads nothing while it sends its answer).
quint8 Thread::stk500v1WritePage(quint32 wordAddress, qint64 page)
{
    QByteArray programPage = bytes({STK_PROG_PAGE, 0x00, quint8(lastReadCount), STK_MEMTYPE_FLASH});
    programPage.append(pageBuffer.constData(), lastReadCount);
    programPage.append(char(CRC_EOP));
    pipe->send(loadAddressCommand(wordAddress) + programPage);

    const ReplyPattern insyncOk = ReplyPattern::stk500v1(InSyncOk);
    if (pipe->receive(insyncOk, timeouts.reply * Attempts, countHexTrace("send header lenght ="), nullptr,
                      DataPipe::Behind::AnotherReply)
        != 0) {
        perror("send header erro");
        result = pageFailed(page, QStringLiteral("load address"));
        return 1;
    }
    if (pipe->receive(insyncOk, timeouts.reply * ProgramPageAttempts, countHexTrace("send data lenght =")) != 0) {
        perror("send data error");
        result = pageFailed(page, QStringLiteral("program page"));
        return 1;
    }
    return 0;
}

quint8 Thread::stk500v1LeaveProgramming()
{
    const auto trace = [](const QByteArray &attempt, qint64) {
        qDebug() << "read send_q reply =" << DataPipe::untilZero(attempt).toHex();
    };
    if (pipe->exchange(bytes({STK_LEAVE_PROGMODE, CRC_EOP}), ReplyPattern::stk500v1(InSyncOk),
                       timeouts.leaveProgramming, trace)
        == 0)
        return 0;
    perror("send q error");
    return 1;
}

quint8 Thread::stk500v1ReadPage(quint32 wordAddress, QByteArray *data)
{
    const int time = timeouts.reply * Attempts;
    if (pipe->exchange(loadAddressCommand(wordAddress), ReplyPattern::stk500v1(InSyncOk), time) != 0)
        return 1;
    const QByteArray read = bytes({STK_READ_PAGE, 0x00, quint8(target->pageSize), STK_MEMTYPE_FLASH,
                                   CRC_EOP});
    QByteArray reply;
    if (pipe->exchange(read, ReplyPattern::stk500v1(target->pageSize + 2), time, {}, &reply) != 0)
        return 1;
    *data = reply.mid(1, target->pageSize);
    return 0;
}

} // namespace upload
