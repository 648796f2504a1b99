#include "stk500v1driver.h"

#include "datapipe.h"
#include "stk500v1.h"

#include <QDebug>
#include <QVector>

#include <cstdio>
#include <initializer_list>

namespace upload {

namespace {

constexpr int Attempts = 5;             // read attempts per reply
constexpr int ProgramPageAttempts = 10; // read attempts for the reply to a program page
constexpr int InSyncOk = 2;             // reply bytes of a command that returns nothing
constexpr int SignatureReply = 5;       // STK_INSYNC, three signature bytes, STK_OK

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

QByteArray bigEndian(qint64 value, int size)
{
    QByteArray out;
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xFF));
    return out;
}

// What follows the sync that found the bootloader, with the board's sizes at set device.
QVector<StartupStep> startupSteps(const Board &board)
{
    const QByteArray setDevice = bytes({STK_SET_DEVICE,
                                        0x86,                    // device code
                                        0x00, 0x00,              // revision, programming type
                                        0x01, 0x01, 0x01,        // parallel mode, polling, self-timed
                                        0x01, 0x03,              // lock bytes, fuse bytes
                                        0xFF, 0xFF, 0xFF, 0xFF}) // flash and EEPROM poll values
                                 + bigEndian(board.pageSize, 2) + bigEndian(board.eepromSize, 2)
                                 + bigEndian(board.flashSize, 4) + char(CRC_EOP);
    return {
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
        {setDevice, InSyncOk, QStringLiteral("set device"), "read send_B reply 1=", Trace::HexLen,
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
        {bytes({STK_READ_SIGN, CRC_EOP}), SignatureReply, QStringLiteral("read signature"),
         "read send_u reply =", Trace::Hex, "send u error", true},
        readEeprom(0),
        readEeprom(1),
        readEeprom(2),
        readEeprom(3),
    };
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

Stk500v1Driver::Stk500v1Driver(const Board &board, DataPipe &pipe, const UploadTimeouts &timeouts)
    : BootloaderDriver(board, pipe, timeouts)
{
}

QString Stk500v1Driver::greetingStep() const
{
    return sync().name;
}

quint8 Stk500v1Driver::greet(int timeMs)
{
    const StartupStep step = sync();
    pipe.send(step.command);
    return pipe.awaitReply(ReplyPattern::stk500v1(step.expected), timeMs, traceFor(step));
}

void Stk500v1Driver::greetingFailed() const
{
    perror(sync().failure);
}

quint8 Stk500v1Driver::startup(QByteArray *signature)
{
    for (const StartupStep &step : startupSteps(target)) {
        if (step.style == Trace::CommandBefore)
            qDebug() << "send v data =" << DataPipe::untilZero(step.command).toHex()
                     << step.command.size();
        QByteArray reply;
        if (pipe.exchange(step.command, ReplyPattern::stk500v1(step.expected),
                          timeouts.reply * Attempts, traceFor(step), &reply)
            == 0) {
            if (quint8(step.command.at(0)) == STK_READ_SIGN)
                *signature = reply.mid(1, 3);
            continue;
        }
        perror(step.failure);
        if (step.fatal)
            return fail(step.name);
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
quint8 Stk500v1Driver::writePage(quint32 wordAddress, const QByteArray &page)
{
    QByteArray programPage = bytes({STK_PROG_PAGE, 0x00, quint8(page.size()), STK_MEMTYPE_FLASH});
    programPage.append(page);
    programPage.append(char(CRC_EOP));
    pipe.send(loadAddressCommand(wordAddress) + programPage);

    const ReplyPattern insyncOk = ReplyPattern::stk500v1(InSyncOk);
    if (pipe.receive(insyncOk, timeouts.reply * Attempts, countHexTrace("send header lenght ="), nullptr,
                     DataPipe::Behind::AnotherReply)
        != 0) {
        perror("send header erro");
        return fail(QStringLiteral("load address"));
    }
    if (pipe.receive(insyncOk, timeouts.reply * ProgramPageAttempts, countHexTrace("send data lenght =")) != 0) {
        perror("send data error");
        return fail(QStringLiteral("program page"));
    }
    return 0;
}

quint8 Stk500v1Driver::leave()
{
    const auto trace = [](const QByteArray &attempt, qint64) {
        qDebug() << "read send_q reply =" << DataPipe::untilZero(attempt).toHex();
    };
    if (pipe.exchange(bytes({STK_LEAVE_PROGMODE, CRC_EOP}), ReplyPattern::stk500v1(InSyncOk),
                      timeouts.leaveProgramming, trace)
        == 0)
        return 0;
    perror("send q error");
    return fail(QStringLiteral("leave programming mode"));
}

quint8 Stk500v1Driver::readPage(quint32 wordAddress, QByteArray *data)
{
    const int time = timeouts.reply * Attempts;
    if (pipe.exchange(loadAddressCommand(wordAddress), ReplyPattern::stk500v1(InSyncOk), time) != 0)
        return fail(QStringLiteral("load address"));
    const QByteArray read = bytes({STK_READ_PAGE, 0x00, quint8(target.pageSize), STK_MEMTYPE_FLASH,
                                   CRC_EOP});
    QByteArray reply;
    if (pipe.exchange(read, ReplyPattern::stk500v1(target.pageSize + 2), time, {}, &reply) != 0)
        return fail(QStringLiteral("read page"));
    *data = reply.mid(1, target.pageSize);
    return 0;
}

} // namespace upload
