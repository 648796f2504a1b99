#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include "commandline.h"
#include "knownmodules.h"

#include <QString>

#include <cstdio>

namespace cli {

class InterruptSignal;

// The commands; each needs a running QCoreApplication and returns the exit status.
int runScan(const Invocation &inv);
int runUpload(const Invocation &inv);
int runRename(const Invocation &inv);
int runMonitor(const Invocation &inv);   // monitorcommands.cpp
int runPluggableMonitor(const Invocation &inv); // monitorcommands.cpp

// The ports still missing (those given as 0; null for a port not wanted), from the known-modules
// list, else from the module's announcement, waiting at most inv.seconds; *hostName, if given, the
// announced name. False (reported, *exitCode set) when none is heard in time, an announced port is
// no port number, or `stop` (if any) stopped the wait.
bool modulePorts(const Invocation &inv, const discovery::KnownModules &known, InterruptSignal *stop, const QString &ip,
                 quint16 *dataPort, quint16 *atPort, int *exitCode, QString *hostName = nullptr);

// One line on a stream, flushed; fail() puts "quarnel-cli: " before it, on standard error.
void printLine(FILE *stream, const QString &line);
void fail(const QString &line);

// The exit status once a command has run: a result that did not reach `stream` (closed from the
// start, `wasOpen` false, or a write that failed: a full disk, a broken pipe) is a failure, said
// on standard error; ExitOutputLost unless the command failed already.
int outputChecked(FILE *stream, bool wasOpen, int exitCode);

// Test-only: QUARNEL_TEST_TIMEOUT_SCALE, a factor in (0, 1] applied to the upload's waits for
// bootloader replies so that the tests of silent bootloaders stay short. 1 when unset; false
// with a message when set to anything else.
bool testTimeoutScale(double *scale, QString *error);

} // namespace cli

#endif // CLI_COMMANDS_H
