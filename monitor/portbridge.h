#ifndef PORTBRIDGE_H
#define PORTBRIDGE_H

#include "monitorconnection.h"
#include "pluggablemonitor.h"

#include <QObject>

#include <functional>

class QTcpSocket;

namespace monitor {

// The OPEN of the monitor protocol: connects a module's data port (through its data pipe) and the
// client's TCP address and passes bytes both ways unchanged until either side ends or CLOSE comes.
// open() returns once both connections stand or one failed (at most the connect wait each; it runs
// the event loop meanwhile); then the bridge runs through the event loop of the thread that
// created it.
class PortBridge : public QObject, public PluggableMonitor::Bridge
{
    Q_OBJECT

public:
    // The data port of a module given by its address alone (from its announcement); 0 with the
    // reason in *error when none is known.
    using PortResolver = std::function<quint16(const QString &ip, QString *error)>;

    PortBridge(PortResolver resolver, const MonitorTimeouts &timeouts = {}, QObject *parent = nullptr);
    ~PortBridge() override;

    // port: "IP" (the data port from the resolver) or "IP:PORT"; client: "HOST:PORT".
    QString open(const QString &client, const QString &port) override;
    void close() override;

signals:
    // One of the two connections ended; both are closed now.
    void dropped(const QString &why);

private:
    static bool splitAddress(const QString &text, QString *host, quint16 *port);
    bool openBoard(const QString &ip, quint16 port, QString *error);
    QTcpSocket *connectedClient(const QString &host, quint16 port, QString *error);
    void onEnded(const QString &why);

    PortResolver resolver;
    MonitorTimeouts timeouts;
    upload::DataPipe *board = nullptr;
    QTcpSocket *client = nullptr;
};

} // namespace monitor

#endif // PORTBRIDGE_H
