#ifndef CLI_MONITORCOMMAND_H
#define CLI_MONITORCOMMAND_H

#include "commandline.h"

namespace cli {

// quarnel-cli monitor: the board's serial line on standard output, typed lines sent to it.
extern const CommandRow MonitorCommand;

} // namespace cli

#endif // CLI_MONITORCOMMAND_H
