#ifndef SIM_ATCOMMAND_H
#define SIM_ATCOMMAND_H

#include <QByteArray>
#include <QList>

namespace sim {

// One command received on a module's AT-command port.
struct AtCommand
{
    enum class Kind {
        U2wClient, // "AT+U2W=CLIENT": hand the data port to the serial line
        McuUpdate, // "AT+MCUUPDATE=MEGA" or "=UNO": reset the board into its bootloader
        Hostname,  // "AT+HOSTNAME=<name>": the name later announcements carry
        Invalid,   // anything else, including a host name the module refuses
    };
    Kind kind = Kind::Invalid;
    QByteArray argument; // the text after '=' (target or host name), line end removed
};

const int MaxHostnameLength = 32; // bytes

// The host senders do not end every command with a line end ("AT+MCUUPDATE=UNO" and
// "AT+HOSTNAME=<name>" come alone in one write), so the commands are taken from what one read
// delivered: every line that ends in LF (or CR LF) is a command, and whatever follows the last
// line end is one more command. Empty lines are dropped.
QList<QByteArray> splitAtCommands(const QByteArray &chunk);

// Classifies one command. Command names are matched as sent, in capitals.
AtCommand parseAtCommand(const QByteArray &command);

} // namespace sim

#endif // SIM_ATCOMMAND_H
