#ifndef CLI_RENAMECOMMAND_H
#define CLI_RENAMECOMMAND_H

#include "commandline.h"

namespace cli {

// quarnel-cli rename: gives a module a new host name through its AT-command port.
extern const CommandRow RenameCommand;

} // namespace cli

#endif // CLI_RENAMECOMMAND_H
