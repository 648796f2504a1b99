#include "byterelay.h"

#include <QTcpSocket>

namespace bench {

const QHostAddress ByteRelay::Address = QHostAddress(QStringLiteral("127.0.0.1"));

ByteRelay::ByteRelay(const QHostAddress &target, quint16 targetPort, QObject *parent)
    : QObject(parent), target(target), targetPort(targetPort)
{
    connect(&server, &QTcpServer::newConnection, this, &ByteRelay::accept);
}

ByteRelay::~ByteRelay()
{
    closeBoth();
}

bool ByteRelay::listen()
{
    return server.listen(Address, 0);
}

void ByteRelay::accept()
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        if (client) { // one connection at a time, as the module serves
            socket->abort();
            socket->deleteLater();
            continue;
        }
        client = socket;
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        upstream = new QTcpSocket(this);
        connect(upstream, &QTcpSocket::connected, this,
                [this] { upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
        connect(client, &QTcpSocket::readyRead, this, &ByteRelay::fromClient);
        connect(upstream, &QTcpSocket::readyRead, this, &ByteRelay::fromTarget);
        connect(client, &QTcpSocket::disconnected, this, &ByteRelay::closeBoth);
        connect(upstream, &QTcpSocket::disconnected, this, &ByteRelay::closeBoth);
        upstream->connectToHost(target, targetPort); // writes wait in its buffer until it stands
        fromClient();
    }
}

void ByteRelay::fromClient()
{
    const QByteArray bytes = client ? client->readAll() : QByteArray();
    if (bytes.isEmpty())
        return;
    totals.toTarget += bytes.size();
    if (lastWasAnswer)
        ++totals.bursts;
    lastWasAnswer = false;
    upstream->write(bytes);
}

void ByteRelay::fromTarget()
{
    const QByteArray bytes = upstream ? upstream->readAll() : QByteArray();
    if (bytes.isEmpty())
        return;
    totals.fromTarget += bytes.size();
    lastWasAnswer = true;
    if (client)
        client->write(bytes);
}

void ByteRelay::closeBoth()
{
    for (QTcpSocket *socket : {client, upstream}) {
        if (!socket)
            continue;
        socket->disconnect(this);
        socket->flush();
        socket->disconnectFromHost();
        socket->deleteLater();
    }
    client = nullptr;
    upstream = nullptr;
}

} // namespace bench
