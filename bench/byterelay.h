#ifndef BYTERELAY_H
#define BYTERELAY_H

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

namespace bench {

struct RelayCounts
{
    qint64 toTarget = 0;   // bytes the client sent
    qint64 fromTarget = 0; // bytes the target answered
    qint64 bursts = 0;     // runs of client bytes that followed an answer (or the start)
};

// Passes one TCP connection at a time on to a target, unchanged, counting the bytes each way.
// Runs on the thread that owns it, through the event loop.
class ByteRelay : public QObject
{
    Q_OBJECT

public:
    static const QHostAddress Address; // where the relay listens

    ByteRelay(const QHostAddress &target, quint16 targetPort, QObject *parent = nullptr);
    ~ByteRelay() override;

    bool listen();
    quint16 port() const { return server.serverPort(); }
    RelayCounts counts() const { return totals; }

private:
    void accept();
    void fromClient();
    void fromTarget();
    void closeBoth();

    QHostAddress target;
    quint16 targetPort;
    QTcpServer server;
    QTcpSocket *client = nullptr;
    QTcpSocket *upstream = nullptr;
    RelayCounts totals;
    bool lastWasAnswer = true;
};

} // namespace bench

#endif // BYTERELAY_H
