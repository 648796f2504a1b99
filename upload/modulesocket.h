#ifndef MODULESOCKET_H
#define MODULESOCKET_H

#include <QDeadlineTimer>
#include <QString>

class QTcpSocket;

namespace upload {

// The socket steps that the data pipe and the AT-command session share. Blocking; on the thread
// that owns the socket.

// Connects within timeoutMs. On a worker thread a stop request ends the wait at once; the
// window's thread is never asked to stop and keeps the plain blocking wait.
bool connectSocket(QTcpSocket *socket, const QString &ip, quint16 port, int timeoutMs);
// Waits for data in slices; false as soon as the thread is asked to stop, the time is up or the
// connection is gone.
bool waitForData(QTcpSocket *socket, const QDeadlineTimer &deadline);
// Disconnects the socket's signals and closes it; nothing for a null socket.
void closeSocket(QTcpSocket *socket);

} // namespace upload

#endif // MODULESOCKET_H
