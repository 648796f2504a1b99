#ifndef ATSESSION_H
#define ATSESSION_H

#include "boardtable.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QTcpSocket;

namespace upload {

// The AT-command port of one module: the commands that configure it. Blocking, on the thread
// that created it; owns its socket. An upload adds the mode switch to its data pipe; a rename
// sends one command and goes.
class AtSession
{
public:
    static constexpr int ReadChunk = 100; // bytes, at most per read of an answer

    AtSession(int connectTimeout, int replyTimeout); // ms each
    ~AtSession();
    AtSession(const AtSession &) = delete;
    AtSession &operator=(const AtSession &) = delete;

    // Connects within the connect time; true when the connection stands.
    bool connectTo(const QString &ip, quint16 port);

    // The two AT commands that hand the data port to the board's bootloader. 0 for success; 1 for
    // failure, with the command that got fewer than two bytes back (1 or 2) in *refusedCommand.
    quint8 modeSwitch(const Board &board, int *refusedCommand);

    // "AT+HOSTNAME=" and the name in Latin-1 (characters outside it become '?'), no line end; one
    // wait gives the answer the chance to arrive, and it is not examined.
    void rename(const QString &name);

    // Closes the connection (again, if already closed).
    void close();

private:
    // Writes a command and collects its answer until it has `wanted` bytes or the reply time is
    // over (1: the first read that brings any).
    QByteArray command(const QByteArray &bytes, int wanted);

    int connectTimeout;
    int replyTimeout;
    std::unique_ptr<QTcpSocket> socket;
};

} // namespace upload

#endif // ATSESSION_H
