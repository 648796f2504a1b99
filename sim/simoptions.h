#ifndef SIM_SIMOPTIONS_H
#define SIM_SIMOPTIONS_H

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace sim {

// Faults a simulated module can be told to show, for tests of the host's error paths.
struct Faults
{
    enum class Connection { Answer, Refuse, Ignore }; // Ignore: the handshake never completes
    enum class AtReply { Full, OneByte, None };

    Connection atConnection = Connection::Answer;
    Connection dataConnection = Connection::Answer;
    AtReply atReply = AtReply::Full;
    int splitReplies = 1;      // each reply to the host goes out in this many pieces
    int extraByteReply = 0;    // 1-based: this reply of each data connection gets one byte more; 0 = off
    int dropAfterPages = 0;    // the data connection is dropped once this many pages were written; 0 = off
    int drops = 0;             // at most this many data connections are dropped so; 0 = every one
    int delayMs = 0;           // each direction, host to board and board to host
    qint64 flipAddress = -1;   // this flash byte is flipped as it is written; -1 = off
};

// The configuration of one quarnel-sim process.
struct SimOptions
{
    QHostAddress ip{QStringLiteral("127.0.0.2")};
    QString board = QStringLiteral("MEGA2560"); // a board type the host knows, or "none"
    QString name = QStringLiteral("quarnel-sim");
    quint16 dataPort = 8000;
    quint16 atPort = 8001;
    int announceMs = 2000;                      // 0: never announce
    QHostAddress targetHost{QStringLiteral("127.0.0.1")};
    quint16 targetPort = 3333;
    int baud = 115200;
    int quietMs = 2;                            // see the help text of --quiet-ms
    int relistenMs = 100;                       // see the help text of --relisten-ms
    bool answerBeforeReset = false;             // see the help text of --answer-before-reset
    bool forgivingUart = false;                 // see the help text of --forgiving-uart
    QString appPath;                            // Intel HEX preloaded below the bootloader
    QString flashOutPath;                       // raw flash written when a data connection closes
    int count = 1;
    int controlPort = -1;                       // -1: no control channel; 0: any free port
    Faults faults;
};

// The board types a host knows and what kind of board simulates each; "none" has no board.
const QStringList &boardNames();
bool isUnoBoard(const QString &board);
int boardFlashSize(const QString &board); // bytes; 0 for "none"

// Parses the arguments (without the program name) into options. False with a message on the
// first invalid option; *helpRequested is set for --help, which is not an error.
bool parseSimOptions(const QStringList &arguments, SimOptions *options, QString *error, bool *helpRequested);

// The text --help prints.
QString simHelpText();

// The address of module i (0-based): the first address plus i.
QHostAddress moduleAddress(const SimOptions &options, int index);
// Module i's host name: the name alone for a single module, else "name-<i+1>".
QString moduleName(const SimOptions &options, int index);
// Module i's flash file: the path as given for a single module, else with "-<address>" before
// the extension (flash.bin becomes flash-127.0.0.3.bin).
QString moduleFlashOutPath(const SimOptions &options, int index);

} // namespace sim

#endif // SIM_SIMOPTIONS_H
