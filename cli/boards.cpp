#include "boards.h"

#include "commandline.h"
#include "scanoutput.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace cli {

namespace {

// Per-board statuses from the most to the least harmful; see worstExitCode.
const int FailureOrder[] = {ExitUploadFailed, ExitVerifyFailed, ExitUnreachable};

QString resultText(const Board &b, bool verify)
{
    switch (b.state) {
    case Board::State::Done:
        return verify ? QStringLiteral("written and verified") : QStringLiteral("written");
    case Board::State::Interrupted:
        return QStringLiteral("interrupted");
    case Board::State::NotStarted:
        return QStringLiteral("not started");
    default:
        return QStringLiteral("failed: ") + b.failure;
    }
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

bool Board::finished() const
{
    return state == State::Done || state == State::Failed || state == State::Interrupted
           || state == State::NotStarted;
}

QString stateText(const Board &board)
{
    switch (board.state) {
    case Board::State::Waiting:
        return QStringLiteral("waiting");
    case Board::State::Connecting:
        return QStringLiteral("connecting");
    case Board::State::Writing:
        return QStringLiteral("writing");
    case Board::State::Verifying:
        return QStringLiteral("verifying");
    case Board::State::Retrying:
        return QStringLiteral("retry %1").arg(board.retries);
    case Board::State::Done:
        return QStringLiteral("done");
    case Board::State::Failed:
        return QStringLiteral("failed: ") + board.failure;
    case Board::State::Interrupted:
        return QStringLiteral("interrupted");
    case Board::State::NotStarted:
        return QStringLiteral("not started");
    }
    return QString();
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

void takeAnnouncement(Board *board, const discovery::Announcement *announcement, double seconds)
{
    if (!announcement) {
        failBefore(board, QStringLiteral("no announcement on UDP port 3333 within %1 s").arg(seconds));
        return;
    }
    board->hostName = announcement->hostName;
    const auto take = [&](const QString &announced, const char *what, quint16 *port) {
        if (*port != 0 || parsePort(announced, port))
            return true;
        failBefore(board, QStringLiteral("announces the %1 \"%2\", which is no port number")
                       .arg(QLatin1String(what), printableText(announced, true)));
        return false;
    };
    if (take(announcement->dataPort, "data port", &board->target.dataPort))
        take(announcement->atPort, "AT-command port", &board->target.atPort);
}

QVector<Board> boardsHeard(const QVector<discovery::Announcement> &heard, const QString &glob, const UploadTarget &given)
{
    QVector<Board> boards;
    for (const discovery::Announcement &a : heard) {
        if (!globMatches(glob, a.hostName))
            continue;
        Board board;
        board.target = given;
        if (parseIpv4(a.hostIp, &board.target.ip)) {
            takeAnnouncement(&board, &a, 0);
        } else {
            board.target.ip = printableText(a.hostIp, true);
            board.hostName = a.hostName;
            failBefore(&board, QStringLiteral("the announced address is no IPv4 address"));
        }
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
            {QStringLiteral("result"), b.state == Board::State::Done ? QStringLiteral("written")
                                       : b.state == Board::State::Interrupted ? QStringLiteral("interrupted")
                                       : b.state == Board::State::NotStarted ? QStringLiteral("not started")
                                                                              : QStringLiteral("failed")},
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
