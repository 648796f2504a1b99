#ifndef MODULESOCKET_H
#define MODULESOCKET_H

#include <QAbstractSocket>
#include <QDeadlineTimer>
#include <QString>

class QTcpSocket;

namespace upload {

// The socket steps that the data pipe and the AT-command session share. Blocking; on the thread
// that owns the socket.

// What a refused connection means. Fails: nobody listens, or the port is busy with another
// client; said at once. Retried: the port has just changed hands within this program (a monitor
// let go of it for an upload, or an upload ended and its monitor takes the port back); the module
// listens again only a moment after its client left, so the connection is tried again until the
// connect wait ends.
enum class Refusal { Fails, Retried };

// When a failed connection attempt is made again: only a refusal under Refusal::Retried, and
// only while the connect wait that began with the first attempt lasts.
class RefusalRetry
{
public:
    static constexpr int Pause = 25; // ms, between a refused attempt and the next

    RefusalRetry(Refusal refusal, int connectWaitMs);
    // Whether to try again, Pause from now, after an attempt that failed with `error`.
    bool again(QAbstractSocket::SocketError error) const;
    int remainingMs() const { return int(qMax<qint64>(0, deadline.remainingTime())); }

private:
    Refusal refusal;
    QDeadlineTimer deadline;
};

// Connects within timeoutMs, trying again after a refusal as `refusal` says. On a worker thread
// a stop request ends the wait at once; the window's thread is never asked to stop and keeps the
// plain blocking wait.
bool connectSocket(QTcpSocket *socket, const QString &ip, quint16 port, int timeoutMs,
                   Refusal refusal = Refusal::Fails);
// Waits for data in slices; false as soon as the thread is asked to stop, the time is up or the
// connection is gone.
bool waitForData(QTcpSocket *socket, const QDeadlineTimer &deadline);
// Disconnects the socket's signals and closes it; nothing for a null socket.
void closeSocket(QTcpSocket *socket);

} // namespace upload

#endif // MODULESOCKET_H
