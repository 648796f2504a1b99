#include "portbridge.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace monitor {

PortBridge::PortBridge(PortResolver resolver, const MonitorTimeouts &timeouts, QObject *parent)
    : QObject(parent)
    , resolver(std::move(resolver))
    , timeouts(timeouts)
{
}

PortBridge::~PortBridge()
{
    PortBridge::close();
}

bool PortBridge::splitAddress(const QString &text, QString *host, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    *host = colon < 0 ? text : text.left(colon);
    if (colon < 0) {
        *port = 0;
        return !host->isEmpty();
    }
    bool number = false;
    const uint value = text.midRef(colon + 1).toUInt(&number, 10);
    *port = quint16(value);
    return number && value >= 1 && value <= 65535 && !host->isEmpty();
}

QTcpSocket *PortBridge::connected(const QString &host, quint16 port, QString *error)
{
    auto *socket = new QTcpSocket(this);
    socket->connectToHost(host, port);
    if (!socket->waitForConnected(timeouts.connect)) {
        *error = socket->state() == QAbstractSocket::ConnectingState
                     ? QStringLiteral("no connection within %1 ms").arg(timeouts.connect)
                     : socket->errorString();
        delete socket;
        return nullptr;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return socket;
}

QString PortBridge::open(const QString &clientAddress, const QString &portAddress)
{
    close();
    QString ip;
    quint16 dataPort = 0;
    if (!splitAddress(portAddress, &ip, &dataPort) || QHostAddress(ip).protocol() != QAbstractSocket::IPv4Protocol)
        return QStringLiteral("unknown port %1: expected a module's IPv4 address, optionally with :DATAPORT")
            .arg(portAddress);
    QString clientHost;
    quint16 clientPort = 0;
    if (!splitAddress(clientAddress, &clientHost, &clientPort) || clientPort == 0)
        return QStringLiteral("invalid client address %1: expected HOST:PORT").arg(clientAddress);
    QString error;
    if (dataPort == 0 && (dataPort = resolver(ip, &error)) == 0)
        return error;
    board = connected(ip, dataPort, &error);
    if (!board)
        return connectFailureText(ip, dataPort, error);
    client = connected(clientHost, clientPort, &error);
    if (!client) {
        close();
        return QStringLiteral("cannot connect to the client at %1: %2").arg(clientAddress, error);
    }
    connect(board, &QTcpSocket::readyRead, this, [this] { pass(board, client); });
    connect(client, &QTcpSocket::readyRead, this, [this] { pass(client, board); });
    connect(board, &QTcpSocket::disconnected, this,
            [this] { onEnded(QStringLiteral("lost the connection with the module's data port")); });
    connect(client, &QTcpSocket::disconnected, this,
            [this] { onEnded(QStringLiteral("lost TCP/IP connection with the client!")); });
    // Bytes that came while the second connection was made.
    pass(board, client);
    return QString();
}

void PortBridge::pass(QTcpSocket *from, QTcpSocket *to)
{
    if (from && to && from->bytesAvailable() > 0)
        to->write(from->readAll());
}

void PortBridge::onEnded(const QString &why)
{
    if (!board && !client)
        return;
    pass(board, client);
    pass(client, board);
    close();
    emit dropped(why);
}

void PortBridge::close()
{
    for (QTcpSocket **socket : {&board, &client}) {
        if (!*socket)
            continue;
        (*socket)->disconnect(this);
        (*socket)->flush();
        (*socket)->disconnectFromHost();
        (*socket)->deleteLater();
        *socket = nullptr;
    }
}

} // namespace monitor
