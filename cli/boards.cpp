#include "boards.h"

#include "moduleports.h"
#include "scanoutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace cli {

namespace {

// Per-board statuses from the most to the least harmful; see worstExitCode.
const int FailureOrder[] = {ExitUploadFailed, ExitVerifyFailed, ExitUnreachable};

// The one mapping of a board's state to its texts: as the display shows it while the upload runs
// ("%1": the failure, or the retry count), and its result in the summary, where a board that did
// not end as written, interrupted or not started has failed.
struct StateTexts
{
    Board::State state;
    const char *shown;
    const char *result;
};

const StateTexts StateTable[] = {
    {Board::State::Waiting, "waiting", "failed"},
    {Board::State::Connecting, "connecting", "failed"},
    {Board::State::Writing, "writing", "failed"},
    {Board::State::Verifying, "verifying", "failed"},
    {Board::State::Retrying, "retry %1", "failed"},
    {Board::State::Done, "done", "written"},
    {Board::State::Failed, "failed: %1", "failed"},
    {Board::State::Interrupted, "interrupted", "interrupted"},
    {Board::State::NotStarted, "not started", "not started"},
};

const StateTexts &textsOf(Board::State state)
{
    return *std::find_if(std::begin(StateTable), std::end(StateTable),
                         [state](const StateTexts &row) { return row.state == state; });
}

// The result word: "written", "failed", "interrupted" or "not started".
QString resultWord(const Board &b)
{
    return QLatin1String(textsOf(b.state).result);
}

QString resultText(const Board &b, bool verify)
{
    const QString word = resultWord(b);
    if (word == QLatin1String("failed"))
        return word + QLatin1String(": ") + b.failure;
    return b.state == Board::State::Done && verify ? word + QLatin1String(" and verified") : word;
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1);
}

int written(const QVector<Board> &boards)
{
    return int(std::count_if(boards.begin(), boards.end(),
                             [](const Board &b) { return b.state == Board::State::Done; }));
}

} // namespace

QString stateText(const Board &board)
{
    const QString shown = QLatin1String(textsOf(board.state).shown);
    switch (board.state) {
    case Board::State::Retrying:
        return shown.arg(board.retries);
    case Board::State::Failed:
        return shown.arg(board.failure);
    default:
        return shown;
    }
}

bool globMatches(const QString &glob, const QString &text)
{
    // Iterative, with one backtrack point: the last '*' seen. A '*' in the glob is always the
    // wildcard, also where the text holds a '*' of its own.
    int g = 0;
    int t = 0;
    int star = -1;
    int starText = 0;
    while (t < text.size()) {
        if (g < glob.size() && glob.at(g) == QLatin1Char('*')) {
            star = g++;
            starText = t;
        } else if (g < glob.size() && (glob.at(g) == QLatin1Char('?') || glob.at(g) == text.at(t))) {
            ++g;
            ++t;
        } else if (star >= 0) {
            g = star + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob.at(g) == QLatin1Char('*'))
        ++g;
    return g == glob.size();
}

namespace {

void failBefore(Board *board, const QString &why)
{
    board->state = Board::State::Failed;
    board->failure = why;
    board->exitCode = ExitUnreachable;
    board->verdictLine = QStringLiteral("quarnel-cli: upload to %1 failed: %2; check that the module is on and on this "
                                        "network (quarnel-cli scan), or give its ports with --data-port and --at-port")
                             .arg(board->target.ip, why);
}

} // namespace

namespace {

void failLocally(Board *board, const QString &why, const QString &check)
{
    board->state = Board::State::Failed;
    board->failure = why;
    board->exitCode = ExitLocalFailure;
    board->verdictLine = QStringLiteral("quarnel-cli: upload to %1 failed: %2; %3").arg(board->target.ip, why, check);
}

} // namespace

void takeJob(Board *board, const upload::BatchJob &job, const QString &imagePath, qint64 imageBytes, bool verify,
             int stopStatus)
{
    static_cast<upload::BatchJob &>(*board) = job;
    switch (job.state) {
    case Board::State::NotStarted:
        board->exitCode = stopStatus;
        return;
    case Board::State::Interrupted:
        board->exitCode = stopStatus;
        board->verdictLine = QStringLiteral("quarnel-cli: upload to %1 interrupted, %2 bytes written")
                                 .arg(board->target.ip)
                                 .arg(board->bytes);
        return;
    case Board::State::Done:
    case Board::State::Failed:
        break;
    default:
        return;
    }
    // Failed without a run: the batch could not start its thread.
    if (job.outcome.kind == upload::UploadOutcome::Kind::NotRun) {
        failLocally(board, job.failure,
                    QStringLiteral("this computer is short of threads or memory; give a smaller --jobs"));
        return;
    }
    if (job.outcome.kind == upload::UploadOutcome::Kind::ImageMissing) {
        // The image is this run's own, written before any board started.
        failLocally(board, QStringLiteral("cannot read the temporary image %1").arg(imagePath),
                    QStringLiteral("check the temporary directory and the open-file limit (ulimit -n)"));
        return;
    }
    const Verdict verdict = uploadVerdict(job.outcome, board->target, imageBytes, verify);
    board->verdictLine = verdict.line;
    board->exitCode = verdict.exitCode;
}

void takeAnnouncement(Board *board, const discovery::Announcement *announcement, double seconds)
{
    if (!announcement) {
        failBefore(board, QStringLiteral("no announcement on UDP port 3333 within %1 s").arg(seconds));
        return;
    }
    board->hostName = announcement->hostName;
    const std::optional<MissingPort> missing =
        resolvePorts(*announcement, &board->target.dataPort, &board->target.atPort);
    if (missing)
        failBefore(board, QStringLiteral("announces the %1 \"%2\", which is no port number")
                              .arg(QLatin1String(missing->what), printableText(missing->announced, true)));
}

QVector<Board> boardsHeard(const QVector<discovery::Announcement> &heard, const QString &glob, const UploadTarget &given)
{
    QVector<Board> boards;
    for (const discovery::Announcement &a : heard) {
        if (!globMatches(glob, a.hostName))
            continue;
        Board board;
        board.target = given;
        // The announcement rule admits only a dotted IPv4 address, already in its plain form.
        board.target.ip = a.hostIp;
        takeAnnouncement(&board, &a, 0);
        boards.append(board);
    }
    return boards;
}

QString summaryTable(const QVector<Board> &boards, bool verify)
{
    QVector<QStringList> rows{{QStringLiteral("IP"), QStringLiteral("HOSTNAME"), QStringLiteral("BYTES"),
                               QStringLiteral("SECONDS"), QStringLiteral("RETRIES"), QStringLiteral("RESULT")}};
    for (const Board &b : boards) {
        const QString name = b.hostName.isEmpty() ? QStringLiteral("-") : printableText(b.hostName, true);
        rows.append({b.target.ip, name, QString::number(b.bytes), secondsText(b.seconds), QString::number(b.retries),
                     resultText(b, verify)});
    }
    return alignedColumns(rows) + countLine(boards, verify) + QLatin1Char('\n');
}

QString countLine(const QVector<Board> &boards, bool verify)
{
    return QStringLiteral("%1 of %2 boards written%3")
        .arg(written(boards))
        .arg(boards.size())
        .arg(verify ? QStringLiteral(" and verified") : QString());
}

QByteArray summaryJson(const QVector<Board> &boards, bool verify, int exitCode)
{
    QJsonArray list;
    for (const Board &b : boards) {
        list.append(QJsonObject{
            {QStringLiteral("ip"), b.target.ip},
            {QStringLiteral("hostname"), b.hostName},
            {QStringLiteral("result"), resultWord(b)},
            {QStringLiteral("error"), b.failure.isEmpty() ? QJsonValue() : QJsonValue(b.failure)},
            {QStringLiteral("exitCode"), b.exitCode},
            {QStringLiteral("bytes"), double(b.bytes)},
            {QStringLiteral("seconds"), secondsText(b.seconds).toDouble()},
            {QStringLiteral("retries"), b.retries}});
    }
    const QJsonObject summary{{QStringLiteral("boards"), list},
                              {QStringLiteral("written"), written(boards)},
                              {QStringLiteral("total"), boards.size()},
                              {QStringLiteral("verified"), verify},
                              {QStringLiteral("exitCode"), exitCode}};
    return QJsonDocument(summary).toJson(QJsonDocument::Indented);
}

int worstExitCode(const QVector<Board> &boards)
{
    int worst = ExitSuccess;
    int worstRank = int(std::size(FailureOrder));
    for (const Board &b : boards) {
        if (b.exitCode == ExitSuccess)
            continue;
        const int *found = std::find(std::begin(FailureOrder), std::end(FailureOrder), b.exitCode);
        const int rank = int(found - std::begin(FailureOrder));
        if (worst == ExitSuccess || rank < worstRank) {
            worst = b.exitCode;
            worstRank = rank;
        }
    }
    return worst;
}

} // namespace cli
