#include "modulelink.h"
#include "portnumber.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QTcpSocket>
#include <QThread>

#include <cstdio>

namespace upload {

namespace {

const QByteArray ClientModeCommand = QByteArrayLiteral("AT+U2W=CLIENT\r\n");
const int MinimumAtReply = 2; // bytes; any answer this long counts as acceptance
// bytes; a module that floods a port fills this much and is then held back by TCP
const qint64 ReadBufferLimit = qint64(64) * 1024;

const int InterruptSlice = 100; // ms; a worker told to stop does so within this

// A socket wait cut into slices, so that a worker whose window is closing stops promptly; false
// as soon as the thread is asked to stop, the time is up or the connection is gone.
bool waitOn(QTcpSocket *socket, bool (QAbstractSocket::*wait)(int), int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (QThread::currentThread()->isInterruptionRequested())
            return false;
        const int slice = int(qMin<qint64>(InterruptSlice, deadline.remainingTime()));
        if ((socket->*wait)(slice))
            return true;
        if (deadline.hasExpired() || socket->state() == QAbstractSocket::UnconnectedState)
            return false;
    }
}

void closeSocket(QTcpSocket *socket)
{
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->close();
}

bool connectSocket(QTcpSocket *socket, const QString &ip, const QString &port, int timeoutMs)
{
    socket->connectToHost(ip, portNumber(port), QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
    if (!waitOn(socket, &QAbstractSocket::waitForConnected, timeoutMs))
        return false;
    // Every exchange is a small request waiting for a small reply: never hold a segment back.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(ReadBufferLimit);
    return true;
}

} // namespace

ModuleLink::ModuleLink(const UploadTimeouts &timeouts) : timeouts(timeouts) {}

ModuleLink::~ModuleLink()
{
    close();
}

QByteArray ModuleLink::untilZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

ModuleLink::Connect ModuleLink::connectTo(const QString &ip, const QString &dataPort,
                                          const QString &atPort)
{
    atSocket = std::make_unique<QTcpSocket>();
    dataSocket = std::make_unique<QTcpSocket>();
    qDebug() << "current_ip =" << ip << dataPort << atPort;

    if (!connectSocket(dataSocket.get(), ip, dataPort, timeouts.connect)) {
        perror("connect data server error");
        return Connect::DataPortUnreachable;
    }
    if (!connectSocket(atSocket.get(), ip, atPort, timeouts.connect)) {
        perror("connect at server error");
        closeSocket(dataSocket.get());
        closeSocket(atSocket.get());
        return Connect::AtPortUnreachable;
    }
    return Connect::Connected;
}

quint8 ModuleLink::modeSwitch(const Board &board, int *refusedCommand)
{
    // Only the first read after each command counts; later bytes stay in the socket's buffer.
    const auto command = [this](const QByteArray &bytes) {
        atSocket->write(bytes);
        atSocket->flush();
        waitOn(atSocket.get(), &QAbstractSocket::waitForReadyRead, timeouts.atReply);
        return atSocket->read(ReadChunk);
    };

    if (command(ClientModeCommand).size() < MinimumAtReply) {
        *refusedCommand = 1;
        return 1;
    }
    qDebug() << "protocol =" << int(board.protocol);
    const QByteArray reply = command(QByteArray(board.updateCommand));
    qDebug() << "read client reply =" << QString::fromLatin1(untilZero(reply));
    if (reply.size() >= MinimumAtReply)
        return 0;
    closeSocket(atSocket.get());
    *refusedCommand = 2;
    return 1;
}

quint8 ModuleLink::exchange(const QByteArray &request, qint64 expected, int waitMs, int attempts,
                            const AttemptTrace &trace)
{
    dataSocket->write(request);
    dataSocket->flush();
    qint64 count = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // Bytes already buffered are read at once; waiting is only for bytes still to come.
        if (dataSocket->bytesAvailable() == 0)
            waitOn(dataSocket.get(), &QAbstractSocket::waitForReadyRead, waitMs);
        const QByteArray bytes = dataSocket->read(ReadChunk);
        count += bytes.size();
        if (trace)
            trace(bytes, count);
        if (count == expected)
            return 0;
    }
    return 1;
}

quint8 ModuleLink::fetch(const QByteArray &request, qint64 expected, int waitMs, QByteArray *reply)
{
    dataSocket->write(request);
    dataSocket->flush();
    reply->clear();
    while (reply->size() < expected) {
        if (dataSocket->bytesAvailable() == 0 && !waitOn(dataSocket.get(), &QAbstractSocket::waitForReadyRead, waitMs))
            return 1;
        reply->append(dataSocket->read(ReadChunk));
    }
    return reply->size() == expected ? 0 : 1;
}

QByteArray ModuleLink::readPending()
{
    return dataSocket->read(ReadChunk);
}

void ModuleLink::close()
{
    closeSocket(dataSocket.get());
    closeSocket(atSocket.get());
    dataSocket.reset();
    atSocket.reset();
}

} // namespace upload
