#ifndef HOSTNAME_H
#define HOSTNAME_H

#include <QByteArray>
#include <QString>

namespace config {

const int RenameConnectTimeout = 3000; // ms
const int RenameReplyTimeout = 1000;   // ms
// The longest host name the module takes; it refuses a longer one.
const int MaxHostNameLength = 32; // bytes

// Empty when the module can be given `name`; else why not. An empty name, one longer than
// MaxHostNameLength in Latin-1, or one with a control character (a line end would let the name
// carry a second AT command) is not sent.
QString hostNameProblem(const QString &name);

// "AT+HOSTNAME=" followed by the name in Latin-1 (characters outside it become '?'), no line end.
QByteArray hostNameCommand(const QString &name);

// Connects to the module's AT-command port, sends the rename command and waits once for an
// answer, which is not examined. False only when the connection could not be made in time.
// Blocking: runs on the caller's thread and releases its socket before returning.
bool sendHostName(const QString &ip, quint16 atPort, const QString &name,
                  int connectTimeout = RenameConnectTimeout, int replyTimeout = RenameReplyTimeout);

} // namespace config

#endif // HOSTNAME_H
