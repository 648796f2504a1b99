#ifndef MONITORCONNECTION_H
#define MONITORCONNECTION_H

#include "datapipe.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

namespace monitor {

// The waits of a monitor; the defaults are the product's, tests shorten them.
struct MonitorTimeouts
{
    int connect = 3000;   // ms, per connection attempt, as an upload's
    int reconnect = 1000; // ms, between the end of a connection or failed attempt and the next
    // ms, for the module to close its side once the monitor let go: normally at once, but a busy
    // module that has not yet taken the close in would refuse the upload that follows
    int release = 3000;
};

// A serial monitor's connection to one module's data port, a transparent pipe to the board's
// serial line: connects (never switching the module to upload mode, so the board runs on),
// hands on what comes, sends what is typed, and after a failed attempt or a dropped link tries
// again every second until closed. For an upload it lets go of the port (the module serves one
// client at a time) and connects again when told. Talks through the module's data pipe, used
// asynchronously; lives on the thread that created it and runs through its event loop; no widgets.
class MonitorConnection : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Closed,     // not started, or closed
        Connecting, // an attempt is under way
        Connected,
        Waiting,    // the last attempt failed or the link dropped; the next comes in a second
        Released,   // let go for an upload; connects again on resume()
    };
    Q_ENUM(State)

    MonitorConnection(const QString &ip, quint16 dataPort, const MonitorTimeouts &timeouts = {},
                      QObject *parent = nullptr);
    ~MonitorConnection() override;

    QString ip() const { return host; }
    quint16 dataPort() const { return port; }
    State state() const { return current; }
    // Whether a connection has stood since open().
    bool everConnected() const { return wasConnected; }

    void open();
    void close();
    // Lets go of the data port: ends the sending half, takes what the board still sends until
    // the module closes its side (at most the release wait), then closes. Returns when the port
    // is free for another client: true when this monitor held it or was taking it, so that the
    // module may refuse the next client a moment longer.
    bool release();
    // After release(): connects again, trying again while the module refuses, within the connect
    // wait (it listens again a moment after the upload left).
    void resume();

    // Sends bytes to the board; false (nothing sent) when not connected.
    bool send(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);
    // reason: why an attempt failed or the link ended (empty otherwise).
    void stateChanged(monitor::MonitorConnection::State state, const QString &reason);

private:
    void attempt(upload::Refusal refusal = upload::Refusal::Fails);
    void onFailure(const QString &reason);
    void setState(State state, const QString &reason = QString());

    QString host;
    quint16 port;
    MonitorTimeouts timeouts;
    State current = State::Closed;
    bool wasConnected = false;
    upload::DataPipe pipe;
    QTimer connectTimer; // the connect wait of the attempt under way
    QTimer retryTimer;   // the next attempt
};

// Why an attempt failed, for a person: what was tried and what to check.
QString connectFailureText(const QString &ip, quint16 dataPort, const QString &reason);

} // namespace monitor

#endif // MONITORCONNECTION_H
