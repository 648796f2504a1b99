#include "hostname.h"

#include <QTcpSocket>

namespace config {

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
