#ifndef CLI_UPLOADCOMMAND_H
#define CLI_UPLOADCOMMAND_H

#include "commandline.h"

namespace cli {

// quarnel-cli upload: converts a HEX file once and writes it into one board or many.
extern const CommandRow UploadCommand;

// Test-only: QUARNEL_TEST_TIMEOUT_SCALE, a factor in (0, 1] applied to the upload's waits for
// bootloader replies so that the tests of silent bootloaders stay short. 1 when unset; false
// with a message when set to anything else.
bool testTimeoutScale(double *scale, QString *error);

} // namespace cli

#endif // CLI_UPLOADCOMMAND_H
