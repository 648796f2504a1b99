#ifndef CLI_EXITCODES_H
#define CLI_EXITCODES_H

namespace cli {

// The exit status of quarnel-cli; each failure class has its own, so scripts can tell them apart.
enum ExitCode {
    ExitSuccess = 0,
    ExitUploadFailed = 1,  // mode switch refused, bootloader silent, page not acknowledged, module lost after a page
                           // went out: the board may hold a partly written program
    ExitUsage = 2,         // unknown command or option, bad IP, port, board, seconds or name
    ExitUnreachable = 3,   // connection not made; no announcement heard; scan heard nobody
    ExitFirmwareFile = 4,  // HEX file missing, unreadable, malformed, empty or larger than the board's application area
    ExitVerifyFailed = 5,  // the flash read back differs from the image, or could not be read
    ExitLocalFailure = 6,  // UDP port 3333 not bound, temporary image not written or read, no thread
    // Stopped by a signal; the status a shell reports for a program ended by it.
    ExitHangUp = 129,      // SIGHUP
    ExitInterrupted = 130, // Ctrl-C (SIGINT)
    ExitTerminated = 143,  // SIGTERM
};

} // namespace cli

#endif // CLI_EXITCODES_H
