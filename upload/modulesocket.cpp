#include "modulesocket.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace upload {

namespace {

const int InterruptSlice = 100; // ms; a worker told to stop does so within this
// bytes; a module that floods a port fills this much and is then held back by TCP
const qint64 ReadBufferLimit = qint64(64) * 1024;

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

bool onWindowThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
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
    return socket->state() == QAbstractSocket::ConnectedState;
}

} // namespace

RefusalRetry::RefusalRetry(Refusal refusal, int connectWaitMs)
    : refusal(refusal)
    , deadline(connectWaitMs)
{
}

bool RefusalRetry::again(QAbstractSocket::SocketError error) const
{
    return refusal == Refusal::Retried && error == QAbstractSocket::ConnectionRefusedError
           && deadline.remainingTime() > Pause;
}

bool connectSocket(QTcpSocket *socket, const QString &ip, quint16 port, int timeoutMs, Refusal refusal)
{
    const RefusalRetry retry(refusal, timeoutMs);
    for (;;) {
        socket->connectToHost(ip, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        // The window blocks while it waits; an event loop there would run its slots meanwhile.
        const int waitMs = retry.remainingMs();
        if (onWindowThread() ? socket->waitForConnected(waitMs) : waitForHandshake(socket, waitMs))
            break;
        const QAbstractSocket::SocketError error = socket->error();
        socket->abort();
        if (stopRequested() || !retry.again(error))
            return false;
        QThread::msleep(RefusalRetry::Pause);
    }
    // Every exchange is a small request waiting for a small reply: never hold a segment back.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(ReadBufferLimit);
    return true;
}

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

void closeSocket(QTcpSocket *socket)
{
    if (!socket)
        return;
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->close();
}

} // namespace upload
