#ifndef CLI_PLUGGABLEMONITORCOMMAND_H
#define CLI_PLUGGABLEMONITORCOMMAND_H

#include "commandline.h"

namespace cli {

// quarnel-cli pluggable-monitor: the sketch build tools' monitor protocol on standard input and output.
extern const CommandRow PluggableMonitorCommand;

} // namespace cli

#endif // CLI_PLUGGABLEMONITORCOMMAND_H
