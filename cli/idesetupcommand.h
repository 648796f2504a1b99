#ifndef CLI_IDESETUPCOMMAND_H
#define CLI_IDESETUPCOMMAND_H

#include "commandline.h"

namespace cli {

// quarnel-cli ide-setup: writes the board platform into the sketchbook (idesetup.h).
extern const CommandRow IdeSetupCommand;

} // namespace cli

#endif // CLI_IDESETUPCOMMAND_H
