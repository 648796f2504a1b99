#ifndef CLI_DISCOVERYCOMMAND_H
#define CLI_DISCOVERYCOMMAND_H

#include "commandline.h"

namespace cli {

// quarnel-cli discovery: the sketch build tools' port discovery on standard input and output
// (discovery::DiscoveryProtocol), each module heard on UDP port 3333 one port, removed when it
// falls silent by the window's presence rule; it ends once the client says QUIT or closes
// standard input.
extern const CommandRow DiscoveryCommand;

} // namespace cli

#endif // CLI_DISCOVERYCOMMAND_H
