#include "monitorconnection.h"

#include "platform.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

namespace monitor {

MonitorConnection::MonitorConnection(const QString &ip, quint16 dataPort, const MonitorTimeouts &timeouts,
                                     QObject *parent)
    : QObject(parent)
    , host(ip)
    , port(dataPort)
    , timeouts(timeouts)
{
    connectTimer.setSingleShot(true);
    retryTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, [this] {
        onFailure(QStringLiteral("no connection within %1 ms").arg(this->timeouts.connect));
    });
    connect(&retryTimer, &QTimer::timeout, this, &MonitorConnection::attempt);
}

MonitorConnection::~MonitorConnection()
{
    dropSocket();
}

void MonitorConnection::open()
{
    wasConnected = false;
    attempt();
}

void MonitorConnection::close()
{
    retryTimer.stop();
    dropSocket();
    setState(State::Closed);
}

void MonitorConnection::release()
{
    retryTimer.stop();
    connectTimer.stop();
    if (socket && current == State::Connected) {
        current = State::Released; // the module's close that follows is no failure
        // What the board sent before the module saw the end still comes, and is shown.
        socket->flush();
        platform::shutdownSending(socket->socketDescriptor());
        const QDeadlineTimer deadline(timeouts.release);
        while (socket->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
            socket->waitForReadyRead(int(deadline.remainingTime()));
        onReadyRead();
    }
    dropSocket();
    setState(State::Released);
}

void MonitorConnection::resume()
{
    if (current == State::Released)
        attempt();
}

bool MonitorConnection::send(const QByteArray &bytes)
{
    if (current != State::Connected)
        return false;
    socket->write(bytes);
    return true;
}

void MonitorConnection::attempt()
{
    dropSocket();
    socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, &MonitorConnection::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &MonitorConnection::onReadyRead);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        onFailure(socket->errorString());
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        onFailure(QStringLiteral("the module closed the connection"));
    });
    setState(State::Connecting);
    connectTimer.start(timeouts.connect);
    socket->connectToHost(host, port);
}

void MonitorConnection::onConnected()
{
    connectTimer.stop();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    wasConnected = true;
    setState(State::Connected);
}

void MonitorConnection::onReadyRead()
{
    const QByteArray bytes = socket->readAll();
    if (!bytes.isEmpty())
        emit received(bytes);
}

void MonitorConnection::onFailure(const QString &reason)
{
    if (current != State::Connecting && current != State::Connected)
        return; // a second report of the same end, or one of a socket let go on purpose
    connectTimer.stop();
    if (socket && socket->bytesAvailable() > 0)
        onReadyRead();
    dropSocket();
    setState(State::Waiting, reason);
    retryTimer.start(timeouts.reconnect);
}

void MonitorConnection::dropSocket()
{
    connectTimer.stop();
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    socket = nullptr;
}

void MonitorConnection::setState(State state, const QString &reason)
{
    current = state;
    emit stateChanged(state, reason);
}

QString connectFailureText(const QString &ip, quint16 dataPort, const QString &reason)
{
    return QStringLiteral("cannot reach the data port %1 of %2 (%3); check that the module is on and that %1 is "
                          "its data port (quarnel-cli scan lists it). The data port serves one client at a "
                          "time: it is busy while an upload or another monitor holds it")
        .arg(dataPort)
        .arg(ip, reason);
}

} // namespace monitor
