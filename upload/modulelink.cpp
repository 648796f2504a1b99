#include "modulelink.h"
#include "portnumber.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QEventLoop>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace upload {

namespace {

const QByteArray ClientModeCommand = QByteArrayLiteral("AT+U2W=CLIENT\r\n");
const int MinimumAtReply = 2; // bytes; any answer this long counts as acceptance
// bytes; a module that floods a port fills this much and is then held back by TCP
const qint64 ReadBufferLimit = qint64(64) * 1024;

const int InterruptSlice = 100; // ms; a worker told to stop does so within this
// Reads of what is already waiting before a request; a board that never stops talking is then
// caught by the reply check rather than drained for ever.
const int DiscardRounds = 16;

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

// A wait for data cut into slices, so that a worker whose window is closing stops promptly;
// false as soon as the thread is asked to stop, the time is up or the connection is gone.
bool waitForData(QTcpSocket *socket, const QDeadlineTimer &deadline)
{
    for (;;) {
        if (stopRequested())
            return false;
        const int slice = int(qMin<qint64>(InterruptSlice, deadline.remainingTime()));
        if (socket->waitForReadyRead(slice))
            return true;
        if (deadline.hasExpired() || socket->state() == QAbstractSocket::UnconnectedState)
            return false;
    }
}

// The handshake is left to run its whole time: waitForConnected() gives up the attempt when its
// own time-out passes, so it cannot be cut into slices. An event loop on the worker's thread
// carries the attempt instead and looks at the stop request between events.
bool waitForHandshake(QTcpSocket *socket, int timeoutMs)
{
    const auto settled = [socket] {
        return socket->state() == QAbstractSocket::ConnectedState
               || socket->state() == QAbstractSocket::UnconnectedState;
    };
    if (!settled()) {
        const QDeadlineTimer deadline(timeoutMs);
        QEventLoop loop;
        QTimer tick;
        QObject::connect(socket, &QAbstractSocket::stateChanged, &loop, [&] {
            if (settled())
                loop.quit();
        });
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (stopRequested() || deadline.hasExpired())
                loop.quit();
        });
        tick.start(int(qMin<qint64>(InterruptSlice, timeoutMs)));
        if (!stopRequested())
            loop.exec();
    }
    if (socket->state() == QAbstractSocket::ConnectedState)
        return true;
    socket->abort();
    return false;
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
    if (!waitForHandshake(socket, timeoutMs))
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
    // A reply may come in pieces: collected until it has two bytes or the wait is over. Bytes
    // beyond the first read that has two stay in the socket's buffer.
    const auto command = [this](const QByteArray &bytes) {
        atSocket->write(bytes);
        atSocket->flush();
        const QDeadlineTimer deadline(timeouts.atReply);
        QByteArray reply;
        while (reply.size() < MinimumAtReply
               && (atSocket->bytesAvailable() > 0 || waitForData(atSocket.get(), deadline)))
            reply += atSocket->read(ReadChunk - reply.size());
        return reply;
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

quint8 ModuleLink::exchange(const QByteArray &request, const ReplyPattern &pattern, int timeMs,
                            const AttemptTrace &trace, QByteArray *reply)
{
    send(request);
    return receive(pattern, timeMs, trace, reply);
}

void ModuleLink::send(const QByteArray &requests)
{
    discardPending();
    dataSocket->write(requests);
    dataSocket->flush();
}

quint8 ModuleLink::receive(const ReplyPattern &pattern, int timeMs, const AttemptTrace &trace,
                           QByteArray *reply, Behind behind)
{
    lastWrongReply.clear();
    const QDeadlineTimer deadline(timeMs);
    QByteArray received;
    // Bytes already buffered are read at once; waiting is only for bytes still to come.
    while (received.size() < pattern.size() && pattern.admits(received)
           && (dataSocket->bytesAvailable() > 0 || waitForData(dataSocket.get(), deadline))) {
        // The bytes of a reply behind this one are left for it.
        const QByteArray bytes = dataSocket->read(behind == Behind::AnotherReply ? pattern.size() - received.size()
                                                                                : ReadChunk);
        received += bytes;
        if (trace)
            trace(bytes, received.size());
    }
    if (reply)
        *reply = received;
    if (pattern.matches(received))
        return 0;
    const QString diagnostic = pattern.mismatch(received);
    fprintf(stderr, "%s\n", qPrintable(diagnostic));
    if (!pattern.admits(received) || received.size() >= pattern.size())
        lastWrongReply = diagnostic;
    return 1;
}

void ModuleLink::discardPending()
{
    for (int round = 0; round < DiscardRounds; ++round) {
        dataSocket->readAll();
        // Takes in what the system has received meanwhile, without waiting.
        if (!dataSocket->waitForReadyRead(0))
            return;
    }
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
