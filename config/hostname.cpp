#include "hostname.h"

#include <QTcpSocket>

namespace config {

QString hostNameProblem(const QString &name)
{
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

QByteArray hostNameCommand(const QString &name)
{
    return QByteArrayLiteral("AT+HOSTNAME=") + name.toLatin1();
}

bool sendHostName(const QString &ip, quint16 atPort, const QString &name, int connectTimeout, int replyTimeout)
{
    QTcpSocket socket;
    socket.connectToHost(ip, atPort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (!socket.waitForConnected(connectTimeout))
        return false;

    socket.write(hostNameCommand(name));
    socket.flush();
    // The module's answer carries nothing the tool uses; one wait gives it the chance to arrive.
    socket.waitForReadyRead(replyTimeout);
    socket.read(100);
    socket.close();
    return true;
}

} // namespace config
