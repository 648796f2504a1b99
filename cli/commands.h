#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include "commandline.h"

#include <QString>

namespace cli {

// The three commands; each needs a running QCoreApplication and returns the exit status.
int runScan(const Invocation &inv);
int runUpload(const Invocation &inv);
int runRename(const Invocation &inv);

// Test-only: QUARNEL_TEST_TIMEOUT_SCALE, a factor in (0, 1] applied to the upload's waits for
// bootloader replies so that the tests of silent bootloaders stay short. 1 when unset; false
// with a message when set to anything else.
bool testTimeoutScale(double *scale, QString *error);

} // namespace cli

#endif // CLI_COMMANDS_H
