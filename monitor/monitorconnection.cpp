#include "monitorconnection.h"

#include "handover.h"

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
        pipe.close();
        onFailure(QStringLiteral("no connection within %1 ms").arg(this->timeouts.connect));
    });
    connect(&retryTimer, &QTimer::timeout, this, [this] { attempt(); });
    connect(&pipe, &upload::DataPipe::opened, this, [this] {
        connectTimer.stop();
        wasConnected = true;
        setState(State::Connected);
    });
    connect(&pipe, &upload::DataPipe::received, this, [this](const QByteArray &bytes) {
        if (!bytes.isEmpty())
            emit received(bytes);
    });
    connect(&pipe, &upload::DataPipe::closed, this, &MonitorConnection::onFailure);
}

MonitorConnection::~MonitorConnection() = default;

void MonitorConnection::open()
{
    wasConnected = false;
    // The port may have just been let go by another program of this system (an upload's end).
    attempt(upload::Handover::refusalFor(host, port));
}

void MonitorConnection::close()
{
    retryTimer.stop();
    connectTimer.stop();
    pipe.close();
    setState(State::Closed);
}

bool MonitorConnection::release()
{
    retryTimer.stop();
    connectTimer.stop();
    const bool held = current == State::Connected || current == State::Connecting;
    if (current == State::Connected) {
        current = State::Released; // what comes while letting go is still shown
        pipe.letGo(timeouts.release);
    } else {
        pipe.close();
    }
    setState(State::Released);
    return held;
}

void MonitorConnection::resume()
{
    if (current == State::Released)
        attempt(upload::Refusal::Retried);
}

bool MonitorConnection::send(const QByteArray &bytes)
{
    return current == State::Connected && pipe.write(bytes);
}

void MonitorConnection::attempt(upload::Refusal refusal)
{
    setState(State::Connecting);
    connectTimer.start(timeouts.connect);
    pipe.open(host, port, {refusal, timeouts.connect});
}

void MonitorConnection::onFailure(const QString &reason)
{
    if (current != State::Connecting && current != State::Connected)
        return; // a second report of the same end, or one of a connection let go on purpose
    connectTimer.stop();
    pipe.close();
    setState(State::Waiting, reason);
    retryTimer.start(timeouts.reconnect);
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
