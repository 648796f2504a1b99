#include "datapipe.h"

#include "handover.h"
#include "modulesocket.h"
#include "platform.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace upload {

namespace {

// Reads of what is already waiting before a request; a board that never stops talking is then
// caught by the reply check rather than drained for ever.
const int DiscardRounds = 16;

} // namespace

DataPipe::DataPipe() = default;

DataPipe::~DataPipe()
{
    close();
}

QByteArray DataPipe::untilZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

bool DataPipe::connectTo(const QString &ip, quint16 port, int timeoutMs, Refusal refusal)
{
    socket = std::make_unique<QTcpSocket>();
    if (!connectSocket(socket.get(), ip, port, timeoutMs, refusal))
        return false;
    heldIp = ip;
    heldPort = port;
    return true;
}

quint8 DataPipe::exchange(const QByteArray &request, const ReplyPattern &pattern, int timeMs,
                          const AttemptTrace &trace, QByteArray *reply)
{
    send(request);
    return receive(pattern, timeMs, trace, reply);
}

void DataPipe::send(const QByteArray &requests)
{
    discardPending();
    socket->write(requests);
    socket->flush();
}

quint8 DataPipe::receive(const ReplyPattern &pattern, int timeMs, const AttemptTrace &trace, QByteArray *reply,
                         Behind behind)
{
    if (collect(pattern, timeMs, trace, reply, behind) == 0)
        return 0;
    fprintf(stderr, "%s\n", qPrintable(lastDiagnostic));
    return 1;
}

quint8 DataPipe::awaitReply(const ReplyPattern &pattern, int timeMs, const AttemptTrace &trace)
{
    return collect(pattern, timeMs, trace, nullptr, Behind::Nothing);
}

quint8 DataPipe::collect(const ReplyPattern &pattern, int timeMs, const AttemptTrace &trace, QByteArray *reply,
                         Behind behind)
{
    lastWrongReply.clear();
    lastDiagnostic.clear();
    const QDeadlineTimer deadline(timeMs);
    QByteArray received;
    // Bytes already buffered are read at once; waiting is only for bytes still to come.
    while (received.size() < pattern.size() && pattern.admits(received)
           && (socket->bytesAvailable() > 0 || waitForData(socket.get(), deadline))) {
        // The bytes of a reply behind this one are left for it.
        const QByteArray bytes =
            socket->read(behind == Behind::AnotherReply ? pattern.size() - received.size() : ReadChunk);
        received += bytes;
        if (trace)
            trace(bytes, received.size());
    }
    if (reply)
        *reply = received;
    if (pattern.matches(received))
        return 0;
    lastDiagnostic = pattern.mismatch(received);
    if (!pattern.admits(received) || received.size() >= pattern.size())
        lastWrongReply = lastDiagnostic;
    return 1;
}

qint64 DataPipe::discardUntilQuiet(int quietMs, const QDeadlineTimer &notBefore, const QDeadlineTimer &giveUp)
{
    qint64 dropped = 0;
    for (;;) {
        dropped += socket->readAll().size();
        if (giveUp.hasExpired() || QThread::currentThread()->isInterruptionRequested()
            || socket->state() != QAbstractSocket::ConnectedState)
            return dropped;
        // Quiet for quietMs from now, and not before notBefore.
        QDeadlineTimer quietEnd(quietMs, Qt::PreciseTimer);
        if (notBefore.deadline() > quietEnd.deadline())
            quietEnd = notBefore;
        const bool quietFirst = quietEnd.deadline() <= giveUp.deadline();
        if (!waitForData(socket.get(), quietFirst ? quietEnd : giveUp) && quietFirst && quietEnd.hasExpired())
            return dropped;
    }
}

void DataPipe::discardPending()
{
    for (int round = 0; round < DiscardRounds; ++round) {
        socket->readAll();
        // Takes in what the system has received meanwhile, without waiting.
        if (!socket->waitForReadyRead(0))
            return;
    }
}

QByteArray DataPipe::readPending()
{
    return socket->read(ReadChunk);
}

void DataPipe::open(const QString &ip, quint16 port, const RefusalRetry &retry)
{
    close();
    socket = std::make_unique<QTcpSocket>();
    QTcpSocket *s = socket.get();
    const auto attempt = [this, s, ip, port] {
        if (socket.get() == s) // not closed meanwhile
            s->connectToHost(ip, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    };
    connect(s, &QTcpSocket::connected, this, [this, ip, port] {
        heldIp = ip;
        heldPort = port;
        emit opened();
    });
    connect(s, &QTcpSocket::readyRead, this, [this, s] { emit received(s->readAll()); });
    connect(s, &QTcpSocket::errorOccurred, this, [this, s, retry, attempt](QAbstractSocket::SocketError error) {
        // Only before the connection stood: a refusal cannot come later.
        if (retry.again(error))
            QTimer::singleShot(RefusalRetry::Pause, s, attempt);
        else
            emit closed(s->errorString());
    });
    attempt();
}

bool DataPipe::write(const QByteArray &bytes)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return socket->write(bytes) == bytes.size();
}

void DataPipe::letGo(int waitMs)
{
    QTcpSocket *s = socket.get();
    if (s && s->state() == QAbstractSocket::ConnectedState) {
        disconnect(s, &QTcpSocket::errorOccurred, this, nullptr);
        s->flush();
        platform::shutdownSending(s->socketDescriptor());
        const QDeadlineTimer deadline(waitMs);
        while (s->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
            s->waitForReadyRead(int(deadline.remainingTime()));
        const QByteArray tail = s->readAll();
        if (!tail.isEmpty())
            emit received(tail);
    }
    close();
}

void DataPipe::close()
{
    // Deleted later: close() may be called from a slot of the socket's own signals.
    QTcpSocket *s = socket.release();
    closeSocket(s);
    if (s)
        s->deleteLater();
    if (heldPort != 0)
        Handover().noteLetGo(heldIp, heldPort, QDateTime::currentMSecsSinceEpoch());
    heldPort = 0;
}

} // namespace upload
