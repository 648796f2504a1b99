#ifndef CLI_BOARDS_H
#define CLI_BOARDS_H

#include "announcement.h"
#include "exitcodes.h"
#include "uploadbatch.h"
#include "uploadverdict.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace cli {

// One board of an upload command: where it is, how its upload stands (the batch's job), and
// what its end means to a script and a person.
struct Board : upload::BatchJob
{
    QString hostName; // as announced; empty when the ports were given
    int exitCode = ExitSuccess;
    QString verdictLine; // the one-board line: "quarnel-cli: IP: upload complete, ..." or "... failed: ...; check ..."
};

// The batch's job `job` of this board; once it has ended, also its exit status and verdict line.
// `stopStatus`: the status of a board interrupted or not started.
void takeJob(Board *board, const upload::BatchJob &job, const QString &imagePath, qint64 imageBytes, bool verify,
             int stopStatus);

// The state as the display shows it: "connecting", "writing", "failed: WHAT", "retry 2", ...
QString stateText(const Board &board);

// Shell-style match of a whole text: '*' any run of characters, '?' one character.
bool globMatches(const QString &glob, const QString &text);

// Fills in the ports still 0 and the host name from the module's announcement; without one, or
// with an announced port that is no port number, the board fails before it starts (status 3).
void takeAnnouncement(Board *board, const discovery::Announcement *announcement, double seconds);

// The boards of `--all --name GLOB`: every module heard whose host name matches, by address.
QVector<Board> boardsHeard(const QVector<discovery::Announcement> &heard, const QString &glob, const UploadTarget &given);

// The summary: a table with the columns IP, HOSTNAME, BYTES, SECONDS, RETRIES and RESULT (last,
// free text), then "N of M boards written[ and verified]". Announced names are shown with
// blanks and control characters as '?'.
QString summaryTable(const QVector<Board> &boards, bool verify);
QString countLine(const QVector<Board> &boards, bool verify);
// The same as a JSON object: {"boards": [{ip, hostname, result, error, exitCode, bytes, seconds,
// retries}], "written", "total", "verified", "exitCode"}.
QByteArray summaryJson(const QVector<Board> &boards, bool verify, int exitCode);

// The command's exit status: 0 when every board was written; otherwise the first of 1 (upload
// failed: a board may hold a partly written program), 5 (verify failed), 3 (unreachable: the
// board is untouched) that a board ended with, and any other board status after those.
int worstExitCode(const QVector<Board> &boards);

} // namespace cli

#endif // CLI_BOARDS_H
