#ifndef CLI_COMMANDSUPPORT_H
#define CLI_COMMANDSUPPORT_H

#include "commandline.h"
#include "knownmodules.h"

#include <QString>

#include <cstdio>

namespace cli {

class InterruptSignal;
class ModuleScan;

// What the commands' handlers share: their output lines, the wait for a module's ports, and the
// exit status once the result is written.

// The ports still missing (those given as 0; null for a port not wanted), from the known-modules
// list, else from the module's announcement, waiting at most inv.seconds; *hostName, if given, the
// announced name. False (reported, *exitCode set) when none is heard in time, an announced port is
// no port number, or `stop` (if any) stopped the wait.
bool modulePorts(const Invocation &inv, const discovery::KnownModules &known, InterruptSignal *stop, const QString &ip,
                 quint16 *dataPort, quint16 *atPort, int *exitCode, QString *hostName = nullptr);

// One line on standard error when `scan` heard more modules than it lists.
void warnOverflow(const ModuleScan &scan);

// One line on a stream, flushed; fail() puts "quarnel-cli: " before it, on standard error.
void printLine(FILE *stream, const QString &line);
void fail(const QString &line);

// The exit status once a command has run: a result that did not reach `stream` (closed from the
// start, `wasOpen` false, or a write that failed: a full disk, a broken pipe) is a failure, said
// on standard error; ExitOutputLost unless the command failed already.
int outputChecked(FILE *stream, bool wasOpen, int exitCode);

// A --seconds value as the waits take it, and as messages repeat it to the user.
int milliseconds(double seconds);
QString givenSeconds(double seconds);

} // namespace cli

#endif // CLI_COMMANDSUPPORT_H
