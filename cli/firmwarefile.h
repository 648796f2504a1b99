#ifndef CLI_FIRMWAREFILE_H
#define CLI_FIRMWAREFILE_H

#include "hexconvert.h"

namespace cli {

// The HEX file of an upload, read under the window's rule: a file the converter had to skip
// records of, or that ends before its end record, is refused.
using FirmwareFile = firmware::HexFile;

} // namespace cli

#endif // CLI_FIRMWAREFILE_H
