#include "atsession.h"

#include "datapipe.h"
#include "modulesocket.h"

#include <QDebug>
#include <QTcpSocket>

namespace upload {

namespace {

const QByteArray ClientModeCommand = QByteArrayLiteral("AT+U2W=CLIENT\r\n");
const int MinimumAtReply = 2; // bytes; any answer this long counts as acceptance

} // namespace

AtSession::AtSession(int connectTimeout, int replyTimeout)
    : connectTimeout(connectTimeout), replyTimeout(replyTimeout)
{
}

AtSession::~AtSession()
{
    close();
}

bool AtSession::connectTo(const QString &ip, quint16 port)
{
    socket = std::make_unique<QTcpSocket>();
    return connectSocket(socket.get(), ip, port, connectTimeout);
}

QByteArray AtSession::command(const QByteArray &bytes, int wanted)
{
    socket->write(bytes);
    socket->flush();
    const QDeadlineTimer deadline(replyTimeout);
    QByteArray reply;
    while (reply.size() < wanted && (socket->bytesAvailable() > 0 || waitForData(socket.get(), deadline)))
        reply += socket->read(ReadChunk - reply.size());
    return reply;
}

quint8 AtSession::modeSwitch(const Board &board, int *refusedCommand)
{
    // A reply may come in pieces: collected until it has two bytes or the wait is over. Bytes
    // beyond the first read that has two stay in the socket's buffer.
    if (command(ClientModeCommand, MinimumAtReply).size() < MinimumAtReply) {
        *refusedCommand = 1;
        return 1;
    }
    qDebug() << "protocol =" << int(board.protocol);
    const QByteArray reply = command(QByteArray(board.updateCommand), MinimumAtReply);
    qDebug() << "read client reply =" << QString::fromLatin1(DataPipe::untilZero(reply));
    if (reply.size() >= MinimumAtReply)
        return 0;
    closeSocket(socket.get());
    *refusedCommand = 2;
    return 1;
}

void AtSession::rename(const QString &name)
{
    command(QByteArrayLiteral("AT+HOSTNAME=") + name.toLatin1(), 1);
}

void AtSession::close()
{
    closeSocket(socket.get());
    socket.reset();
}

} // namespace upload
