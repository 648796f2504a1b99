#ifndef SIM_CONTROLSERVER_H
#define SIM_CONTROLSERVER_H

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

namespace sim {

class Module;

// The simulator's control channel for tests: reads the flash of a module and counts its pages.
// Line commands "flash I" (answer: the size in decimal, LF, the raw flash), "pages I"
// (answer: the count, LF) and "client I" (answer: 1 while the data port serves a client, else 0,
// LF); anything else answers "error: <reason>" LF.
class ControlServer : public QObject
{
    Q_OBJECT

public:
    ControlServer(const QList<Module *> &modules, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return server.serverPort(); }

    // One complete command line (without its LF) to its answer; public for tests.
    QByteArray answer(const QByteArray &line) const;

private:
    void acceptClients();
    void onClientData(QTcpSocket *client);

    QList<Module *> modules;
    QTcpServer server;
};

} // namespace sim

#endif // SIM_CONTROLSERVER_H
