#ifndef HOSTNAME_H
#define HOSTNAME_H

#include <QString>

namespace config {

const int RenameConnectTimeout = 3000; // ms
const int RenameReplyTimeout = 1000;   // ms
// The longest host name the module takes; it refuses a longer one.
const int MaxHostNameLength = 32; // bytes

// A character outside Latin-1: the window sends it as '?', as the rename command has always
// carried it; quarnel-cli refuses it, so that a script learns of it before the module does.
enum class OutsideLatin1 { SentAsQuestionMark, Refused };

// The one host-name rule: empty when the module can be given `name`; else why not. An empty
// name, one longer than MaxHostNameLength in Latin-1, or one with a control character (a line end
// would let the name carry a second AT command) is not sent.
QString hostNameProblem(const QString &name, OutsideLatin1 outside);

// Connects to the module's AT-command port, sends the rename command and waits once for an
// answer, which is not examined. False only when the connection could not be made in time.
// Blocking: runs on the caller's thread and releases its socket before returning.
bool sendHostName(const QString &ip, quint16 atPort, const QString &name,
                  int connectTimeout = RenameConnectTimeout, int replyTimeout = RenameReplyTimeout);

} // namespace config

#endif // HOSTNAME_H
