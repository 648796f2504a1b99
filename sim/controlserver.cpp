#include "controlserver.h"

#include "module.h"

#include <QTcpSocket>

namespace sim {

namespace {

const int MaxLineBytes = 64; // a client that sends a longer line is cut off
const char *const PendingProperty = "quarnelPending";

QByteArray errorLine(const QString &reason)
{
    return "error: " + reason.toUtf8() + '\n';
}

} // namespace

ControlServer::ControlServer(const QList<Module *> &modules, QObject *parent)
    : QObject(parent)
    , modules(modules)
{
    connect(&server, &QTcpServer::newConnection, this, &ControlServer::acceptClients);
}

bool ControlServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (server.listen(address, port))
        return true;
    *error = QStringLiteral("cannot listen for control on %1:%2: %3")
                 .arg(address.toString())
                 .arg(port)
                 .arg(server.errorString());
    return false;
}

QByteArray ControlServer::answer(const QByteArray &line) const
{
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (words.size() != 2)
        return errorLine(QStringLiteral("expected \"flash I\", \"pages I\" or \"client I\""));
    bool ok = false;
    const int index = words.at(1).toInt(&ok);
    if (!ok || index < 0 || index >= modules.size())
        return errorLine(QStringLiteral("no module %1").arg(QString::fromLatin1(words.at(1))));
    const Module *module = modules.at(index);
    if (words.at(0) == "flash") {
        if (!module->hasBoard())
            return errorLine(QStringLiteral("module %1 has no board").arg(index));
        const QByteArray flash = module->flash();
        return QByteArray::number(flash.size()) + '\n' + flash;
    }
    if (words.at(0) == "pages")
        return QByteArray::number(module->pagesWritten()) + '\n';
    if (words.at(0) == "client")
        return module->hasDataClient() ? "1\n" : "0\n";
    return errorLine(QStringLiteral("unknown command %1").arg(QString::fromLatin1(words.at(0))));
}

void ControlServer::acceptClients()
{
    while (QTcpSocket *client = server.nextPendingConnection()) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, this, [this, client] { onClientData(client); });
    }
}

void ControlServer::onClientData(QTcpSocket *client)
{
    QByteArray pending = client->property(PendingProperty).toByteArray() + client->readAll();
    int lineFeed;
    while ((lineFeed = pending.indexOf('\n')) >= 0) {
        client->write(answer(pending.left(lineFeed)));
        pending.remove(0, lineFeed + 1);
    }
    if (pending.size() > MaxLineBytes) {
        client->write(errorLine(QStringLiteral("line too long")));
        client->disconnectFromHost();
        pending.clear();
    }
    client->setProperty(PendingProperty, pending);
}

} // namespace sim
