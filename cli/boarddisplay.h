#ifndef CLI_BOARDDISPLAY_H
#define CLI_BOARDDISPLAY_H

#include "boards.h"

#include <QObject>
#include <QTimer>
#include <QVector>

#include <cstdio>

namespace cli {

// Shows how the boards of one upload command stand. On a terminal: one line per board (name,
// IP, bar, percent, state), redrawn in place at most every RedrawMs. Otherwise one line per
// event: a new state, or the next tenth of the image written.
class BoardDisplay : public QObject
{
    Q_OBJECT

public:
    static const int RedrawMs = 100;
    static const int BarWidth = 20;    // characters between the brackets
    static const int MaxNameWidth = 20; // longer host names are cut

    BoardDisplay(FILE *out, bool terminal, const QVector<Board> *boards);

    // Board `index` changed.
    void changed(int index);
    // Draws the last state; the display's lines are complete afterwards.
    void end();

    // One board's terminal line, its name padded or cut to nameWidth characters.
    static QString boardLine(const Board &board, int nameWidth);
    // One event line: "IP (NAME): STATE" or "IP (NAME): 40%".
    static QString eventLine(const Board &board, int percent = -1);

private:
    void redraw();

    FILE *out;
    bool terminal;
    const QVector<Board> *boards;
    QVector<QString> shownState; // plain: the last state printed per board
    QVector<int> shownTenth;     // plain: the last tenth printed per board
    int drawnLines = 0;          // terminal: lines drawn so far
    int nameWidth = 0;
    QTimer redrawTimer;
};

} // namespace cli

#endif // CLI_BOARDDISPLAY_H
