#ifndef CLI_SCANCOMMAND_H
#define CLI_SCANCOMMAND_H

#include "commandline.h"

namespace cli {

// quarnel-cli scan: lists the modules heard on UDP port 3333 and the known modules that answer.
extern const CommandRow ScanCommand;

} // namespace cli

#endif // CLI_SCANCOMMAND_H
