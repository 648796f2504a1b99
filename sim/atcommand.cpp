#include "atcommand.h"

namespace sim {

namespace {

const QByteArray U2wClientCommand = QByteArrayLiteral("AT+U2W=CLIENT");
const QByteArray McuUpdatePrefix = QByteArrayLiteral("AT+MCUUPDATE=");
// The module only resets the board; the target names the bootloader family the host will speak.
const QList<QByteArray> McuUpdateTargets = {QByteArrayLiteral("MEGA"), QByteArrayLiteral("UNO")};
const QByteArray HostnamePrefix = QByteArrayLiteral("AT+HOSTNAME=");

QByteArray withoutLineEnd(QByteArray command)
{
    while (command.endsWith('\n') || command.endsWith('\r'))
        command.chop(1);
    return command;
}

// A host name is printable Latin-1 text of 1..MaxHostnameLength bytes: it goes into announcements.
bool acceptableHostname(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > MaxHostnameLength)
        return false;
    for (char c : name) {
        const auto byte = quint8(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

} // namespace

QList<QByteArray> splitAtCommands(const QByteArray &chunk)
{
    QList<QByteArray> commands;
    int start = 0;
    while (start < chunk.size()) {
        const int lineFeed = chunk.indexOf('\n', start);
        const int end = lineFeed < 0 ? chunk.size() : lineFeed + 1;
        const QByteArray command = withoutLineEnd(chunk.mid(start, end - start));
        if (!command.isEmpty())
            commands.append(command);
        start = end;
    }
    return commands;
}

AtCommand parseAtCommand(const QByteArray &command)
{
    AtCommand result;
    const QByteArray text = withoutLineEnd(command);
    if (text == U2wClientCommand) {
        result.kind = AtCommand::Kind::U2wClient;
    } else if (text.startsWith(McuUpdatePrefix) && McuUpdateTargets.contains(text.mid(McuUpdatePrefix.size()))) {
        result.kind = AtCommand::Kind::McuUpdate;
        result.argument = text.mid(McuUpdatePrefix.size());
    } else if (text.startsWith(HostnamePrefix) && acceptableHostname(text.mid(HostnamePrefix.size()))) {
        result.kind = AtCommand::Kind::Hostname;
        result.argument = text.mid(HostnamePrefix.size());
    }
    return result;
}

} // namespace sim
