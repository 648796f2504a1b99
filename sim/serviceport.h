#ifndef SIM_SERVICEPORT_H
#define SIM_SERVICEPORT_H

#include "simoptions.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

namespace sim {

// One TCP service of a module. Like a real module it serves one client at a time: while a client
// is connected the port stops listening, so a second client is refused; it listens again a set
// time after the client's connection starts to close, and refuses until then. As a fault the port
// can instead refuse every connection, or leave every handshake unanswered.
class ServicePort : public QObject
{
    Q_OBJECT

public:
    // relistenMs: how long after a client leaves the port listens again (0: at once).
    ServicePort(Faults::Connection behaviour, int relistenMs = 0, QObject *parent = nullptr);
    ~ServicePort() override;

    // port 0 picks a free port. False with a reason when the address or port cannot be had.
    bool open(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return boundPort; }
    QTcpSocket *client() const { return current; }
    // Drops the current client at once, as a module that loses its link does.
    void dropClient();

signals:
    void clientConnected(QTcpSocket *client); // the port owns the socket
    void clientDisconnected();

private:
    void acceptClient();
    void onClientGone();
    void listenAgain();
    bool openFaultSocket(QString *error);

    Faults::Connection behaviour;
    QHostAddress address;
    quint16 boundPort = 0;
    QTcpServer server;
    QTimer relistenTimer;
    QTcpSocket *current = nullptr;
    int faultFd = -1;  // Refuse: bound, never listening. Ignore: listening with a full queue.
    int fillerFd = -1; // Ignore: the connection that fills the queue
};

} // namespace sim

#endif // SIM_SERVICEPORT_H
