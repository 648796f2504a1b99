#include "hostname.h"

#include "atsession.h"

namespace config {

QString hostNameProblem(const QString &name, OutsideLatin1 outside)
{
    for (const QChar c : name) {
        if (outside == OutsideLatin1::Refused && c.unicode() > 0xFF)
            return QStringLiteral("the name holds \"%1\", which is not a Latin-1 character").arg(c);
    }
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    for (const QChar c : name) {
        const ushort code = c.unicode();
        if (code < 0x20 || (code >= 0x7F && code < 0xA0))
            return QStringLiteral("the name holds a control character (0x%1)").arg(code, 2, 16, QLatin1Char('0'));
    }
    if (name.toLatin1().size() > MaxHostNameLength)
        return QStringLiteral("the name is longer than %1 bytes").arg(MaxHostNameLength);
    return QString();
}

bool sendHostName(const QString &ip, quint16 atPort, const QString &name, int connectTimeout, int replyTimeout)
{
    upload::AtSession session(connectTimeout, replyTimeout);
    if (!session.connectTo(ip, atPort))
        return false;
    session.rename(name);
    return true;
}

} // namespace config
