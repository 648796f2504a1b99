#include "portbridge.h"

#include "handover.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

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

bool PortBridge::openBoard(const QString &ip, quint16 port, QString *error)
{
    board = new upload::DataPipe;
    QEventLoop wait;
    bool opened = false;
    connect(board, &upload::DataPipe::opened, &wait, [&] {
        opened = true;
        wait.quit();
    });
    connect(board, &upload::DataPipe::closed, &wait, [&](const QString &why) {
        *error = why;
        wait.quit();
    });
    QTimer connectWait;
    connectWait.setSingleShot(true);
    connect(&connectWait, &QTimer::timeout, &wait, [&] {
        *error = QStringLiteral("no connection within %1 ms").arg(timeouts.connect);
        wait.quit();
    });
    connectWait.start(timeouts.connect);
    // A port that a program of this system has just let go of (CLOSE, then an upload) is taken over.
    board->open(ip, port, {upload::Handover::refusalFor(ip, port), timeouts.connect});
    wait.exec();
    return opened;
}

QTcpSocket *PortBridge::connectedClient(const QString &host, quint16 port, QString *error)
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
    if (!openBoard(ip, dataPort, &error)) {
        close();
        return connectFailureText(ip, dataPort, error);
    }
    // What the board sends meanwhile waits in the pipe's socket until the loop runs again.
    client = connectedClient(clientHost, clientPort, &error);
    if (!client) {
        close();
        return QStringLiteral("cannot connect to the client at %1: %2").arg(clientAddress, error);
    }
    connect(board, &upload::DataPipe::received, client, [this](const QByteArray &bytes) { client->write(bytes); });
    connect(client, &QTcpSocket::readyRead, board, [this] { board->write(client->readAll()); });
    connect(board, &upload::DataPipe::closed, this,
            [this] { onEnded(QStringLiteral("lost the connection with the module's data port")); });
    connect(client, &QTcpSocket::disconnected, this,
            [this] { onEnded(QStringLiteral("lost TCP/IP connection with the client!")); });
    return QString();
}

void PortBridge::onEnded(const QString &why)
{
    if (!board && !client)
        return;
    close();
    emit dropped(why);
}

void PortBridge::close()
{
    // Deleted later: close() may run in a slot of their own signals.
    if (board) {
        board->disconnect();
        board->close();
        board->deleteLater();
        board = nullptr;
    }
    if (client) {
        client->disconnect();
        client->flush();
        client->disconnectFromHost();
        client->deleteLater();
        client = nullptr;
    }
}

} // namespace monitor
