#include "serviceport.h"

#include <QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

ServicePort::ServicePort(Faults::Connection behaviour, int relistenMs, QObject *parent)
    : QObject(parent)
    , behaviour(behaviour)
{
    server.setMaxPendingConnections(1);
    relistenTimer.setSingleShot(true);
    relistenTimer.setTimerType(Qt::PreciseTimer); // never early, as a coarse timer may be
    relistenTimer.setInterval(relistenMs);
    connect(&relistenTimer, &QTimer::timeout, this, &ServicePort::listenAgain);
    connect(&server, &QTcpServer::newConnection, this, &ServicePort::acceptClient);
}

ServicePort::~ServicePort()
{
    if (current) {
        current->disconnect(this);
        current->abort();
    }
    if (fillerFd >= 0)
        ::close(fillerFd);
    if (faultFd >= 0)
        ::close(faultFd);
}

bool ServicePort::open(const QHostAddress &address, quint16 port, QString *error)
{
    this->address = address;
    boundPort = port;
    if (behaviour != Faults::Connection::Answer)
        return openFaultSocket(error);
    if (!server.listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3").arg(address.toString()).arg(port).arg(server.errorString());
        return false;
    }
    boundPort = server.serverPort();
    return true;
}

// Qt's server always listens with a queue; the two faults need a socket that is bound but never
// listens (the kernel refuses), or one that listens with a queue of one that is already taken (the
// kernel drops every further handshake, so clients wait until their own time-out).
bool ServicePort::openFaultSocket(QString *error)
{
    const auto fail = [this, error](const char *step) {
        *error = QStringLiteral("cannot %1 %2:%3: %4")
                     .arg(QLatin1String(step), address.toString())
                     .arg(boundPort)
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    faultFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (faultFd < 0)
        return fail("create a socket for");
    const int on = 1;
    ::setsockopt(faultFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(boundPort);
    local.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (::bind(faultFd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        return fail("bind");
    socklen_t length = sizeof local;
    ::getsockname(faultFd, reinterpret_cast<sockaddr *>(&local), &length);
    boundPort = ntohs(local.sin_port);
    if (behaviour == Faults::Connection::Refuse)
        return true;
    if (::listen(faultFd, 0) != 0)
        return fail("listen on");
    fillerFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fillerFd < 0 || ::connect(fillerFd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        return fail("fill the queue of");
    return true;
}

void ServicePort::acceptClient()
{
    QTcpSocket *socket = server.nextPendingConnection();
    if (!socket)
        return;
    if (current) { // a client that came in before the port stopped listening
        socket->abort();
        socket->deleteLater();
        return;
    }
    server.close();
    current = socket;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // The client has gone once its connection starts to close, before the close reaches it.
    connect(socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::ClosingState || state == QAbstractSocket::UnconnectedState)
            onClientGone();
    });
    emit clientConnected(socket);
}

void ServicePort::dropClient()
{
    if (current)
        current->abort();
}

void ServicePort::onClientGone()
{
    QTcpSocket *socket = current;
    if (!socket)
        return;
    current = nullptr;
    socket->disconnect(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    emit clientDisconnected();
    // Not listening (closed) until then: the kernel refuses a connect, as the module does.
    if (relistenTimer.interval() > 0)
        relistenTimer.start();
    else
        listenAgain();
}

void ServicePort::listenAgain()
{
    if (!server.listen(address, boundPort))
        qWarning("quarnel-sim: cannot listen again on %s:%u: %s", qPrintable(address.toString()), boundPort,
                 qPrintable(server.errorString()));
}

} // namespace sim
