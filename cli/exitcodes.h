#ifndef CLI_EXITCODES_H
#define CLI_EXITCODES_H

namespace cli {

// The exit status of quarnel-cli; each failure class has its own, so scripts can tell them apart.
enum ExitCode {
    ExitSuccess = 0,
    ExitUploadFailed = 1,  // mode switch refused, bootloader silent, the chip not the board's, page not acknowledged,
                           // module lost after a page went out: the board may hold a partly written program
    ExitUsage = 2,         // unknown command or option, bad IP, port, board, seconds or name
    ExitUnreachable = 3,   // connection not made; no announcement heard; scan heard nobody
    ExitFirmwareFile = 4,  // HEX file missing, unreadable, malformed, empty or larger than the board's application area
    ExitVerifyFailed = 5,  // the flash read back differs from the image, or could not be read
    ExitLocalFailure = 6,  // UDP port 3333 not bound, temporary image not written or read, no thread
    ExitOutputLost = 7,    // standard output could not be written (closed, a full disk, a broken pipe): the result
                           // is lost
    // Stopped by a signal; the status a shell reports for a program ended by it.
    ExitHangUp = 129,      // SIGHUP
    ExitInterrupted = 130, // Ctrl-C (SIGINT)
    ExitTerminated = 143,  // SIGTERM
};

// The "Exit status" paragraphs of the help texts, beside the codes they explain.
const char OverviewExitHelp[] =
    "Exit status: 0 success, 1 upload failed, 2 usage error, 3 module unreachable or not heard,\n"
    "4 HEX file error, 5 verify failed, 6 local failure (port 3333, temporary image),\n"
    "7 standard output not written (closed, disk full, broken pipe): the result is lost,\n"
    "130 interrupted (Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP).\n";
const char ScanExitHelp[] = "Exit status: 0 at least one module heard, 3 none heard, 2 usage error, 6 port not bound,\n"
                            "7 standard output not written.\n";
const char UploadExitHelp[] =
    "Exit status: 0 every board written (and verified); otherwise, of the boards' failures,\n"
    "the first in this order: 1 upload failed, 5 verify failed, 3 module unreachable or not\n"
    "heard; 2 usage error, 4 HEX file error, 6 local failure; 7 standard output not written\n"
    "(the boards were written as the other codes say, the report is lost); 130 interrupted\n"
    "(Ctrl-C), 143 terminated (SIGTERM), 129 hung up (SIGHUP).\n";
const char IdentifyExitHelp[] =
    "Exit status: 0 identified, 1 no bootloader answered or a chip no board type has, 2 usage\n"
    "error, 3 module unreachable or not heard, 6 local failure (port 3333), 7 standard output\n"
    "not written.\n";
const char ModulesExitHelp[] =
    "Exit status: 0 done, 2 usage error (also: remove of an address not listed), 6 the list\n"
    "could not be written, 7 standard output not written.\n";
const char DiscoveryExitHelp[] =
    "Exit status: 0 after QUIT or the end of standard input, 2 usage error, 7 standard output\n"
    "not written.\n";
const char IdeSetupExitHelp[] =
    "Exit status: 0 written, 2 usage error (also: a path the tools cannot run), 6 the files could\n"
    "not be written, 7 standard output not written.\n";
const char RenameExitHelp[] = "Exit status: 0 sent, 2 usage error, 3 module unreachable or not heard, 6 local failure,\n"
                              "7 standard output not written.\n";
const char MonitorExitHelp[] =
    "Exit status: 0 ended after --seconds, 2 usage error, 3 module unreachable or not heard,\n"
    "6 local failure (port 3333), 7 standard output not written (closed, or not taking the\n"
    "board's output in time at the end), 130 interrupted (Ctrl-C), 143 terminated (SIGTERM),\n"
    "129 hung up (SIGHUP).\n";
const char PluggableMonitorExitHelp[] =
    "Exit status: 0 after QUIT or at the end of standard input, 2 usage error, 7 standard output\n"
    "not written.\n";

} // namespace cli

#endif // CLI_EXITCODES_H
