#include "boarddisplay.h"

#include "platform.h"
#include "progress.h"
#include "scanoutput.h"

namespace cli {

namespace {

const int Tenths = 10;

QString label(const Board &board)
{
    if (board.hostName.isEmpty())
        return board.target.ip;
    return QStringLiteral("%1 (%2)").arg(board.target.ip, printableText(board.hostName, false));
}

} // namespace

BoardDisplay::BoardDisplay(FILE *out, bool terminal, const QVector<Board> *boards)
    : out(out), terminal(terminal), boards(boards), shownState(boards->size()), shownTenth(boards->size(), 0)
{
    for (const Board &b : *boards)
        nameWidth = qMax(nameWidth, qMin(MaxNameWidth, b.hostName.size()));
    redrawTimer.setSingleShot(true);
    redrawTimer.setInterval(RedrawMs);
    connect(&redrawTimer, &QTimer::timeout, this, &BoardDisplay::redraw);
    if (terminal)
        redraw();
    else
        for (int i = 0; i < boards->size(); ++i)
            changed(i);
}

QString BoardDisplay::boardLine(const Board &board, int nameWidth)
{
    const QString name = printableText(board.hostName, true).left(nameWidth).leftJustified(nameWidth);
    const int percent = ProgressPrinter::percentOf(board.fraction);
    const int filled = percent * BarWidth / 100;
    return QStringLiteral("%1  %2  [%3%4] %5%  %6")
        .arg(name, board.target.ip.leftJustified(15), QString(filled, QLatin1Char('#')),
             QString(BarWidth - filled, QLatin1Char(' ')))
        .arg(percent, 3)
        .arg(stateText(board));
}

QString BoardDisplay::eventLine(const Board &board, int percent)
{
    return label(board) + QLatin1String(": ")
           + (percent >= 0 ? QStringLiteral("%1%").arg(percent) : printableText(stateText(board), false));
}

void BoardDisplay::changed(int index)
{
    if (terminal) {
        if (!redrawTimer.isActive())
            redrawTimer.start();
        return;
    }
    const Board &b = boards->at(index);
    const QString state = stateText(b);
    if (state != shownState.at(index)) {
        shownState[index] = state;
        std::fprintf(out, "%s\n", eventLine(b).toLocal8Bit().constData());
    }
    const int tenth = ProgressPrinter::percentOf(b.fraction) / Tenths;
    if (b.state == Board::State::Writing && tenth > shownTenth.at(index)) {
        shownTenth[index] = tenth;
        std::fprintf(out, "%s\n", eventLine(b, tenth * Tenths).toLocal8Bit().constData());
    }
    std::fflush(out);
}

void BoardDisplay::redraw()
{
    const int columns = platform::terminalColumns(out);
    QByteArray text;
    if (drawnLines > 0)
        text += "\x1b[" + QByteArray::number(drawnLines) + 'A';
    for (const Board &b : *boards) {
        QString line = boardLine(b, nameWidth);
        // A wrapped line would throw the cursor movement off.
        if (columns > 1)
            line.truncate(columns - 1);
        text += '\r' + line.toLocal8Bit() + "\x1b[K\n";
    }
    drawnLines = boards->size();
    std::fputs(text.constData(), out);
    std::fflush(out);
}

void BoardDisplay::end()
{
    redrawTimer.stop();
    if (terminal)
        redraw();
}

} // namespace cli
