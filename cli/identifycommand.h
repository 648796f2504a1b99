#ifndef CLI_IDENTIFYCOMMAND_H
#define CLI_IDENTIFYCOMMAND_H

#include "boards.h"
#include "commandline.h"
#include "identification.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace cli {

class InterruptSignal;

// quarnel-cli identify: tells which board is behind a module without writing it, and remembers it.
extern const CommandRow IdentifyCommand;

// The result as --json prints it: {"ip", "board", "protocol", "signature"}, each null when not
// known, and "error" when the board was not identified.
QByteArray identificationJson(const QString &ip, const upload::Identification &id, const upload::Board *kept,
                              const QString &error);
// The exit status: 0 identified, 3 unreachable, 1 otherwise.
int identificationExitCode(upload::Identification::Result result);

// An upload without --board: each board still waiting takes the type remembered for its module;
// those not known are identified, at most `jobs` at a time (0: all), and what is found is
// remembered. A board that cannot be identified fails before its upload, with the status
// identify gives. Once `stop` has fired, no identification starts and those running end early;
// the boards left without a type do not start either.
void chooseBoardTypes(QVector<Board> *boards, int jobs, InterruptSignal *stop);

// Keeps the board type of every board written.
void rememberWritten(const QVector<Board> &boards);

} // namespace cli

#endif // CLI_IDENTIFYCOMMAND_H
