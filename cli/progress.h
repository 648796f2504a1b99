#ifndef CLI_PROGRESS_H
#define CLI_PROGRESS_H

#include <QString>

#include <cstdio>

namespace cli {

// Shows an upload's progress reports: a bar redrawn in place on a terminal, otherwise one
// line per new whole percentage, so a log file or a pipe reads line by line.
class ProgressPrinter
{
public:
    static const int BarWidth = 40; // characters between the brackets

    // `afterAll`, when not empty, follows the 100% report: what the run does next.
    ProgressPrinter(FILE *out, bool terminal, QString label, QString afterAll = QString());

    // A progress report: the fraction of the image read, 0..1.
    void show(float fraction);
    // Ends the bar's line on a terminal; nothing otherwise.
    void end();

    // Whole percent of a fraction, truncated as the window's Progress cell does, kept in 0..100.
    static int percentOf(float fraction);
    // "LABEL [#####     ]  12%" for a terminal, "LABEL: 12%" otherwise.
    static QString line(const QString &label, int percent, bool terminal);

private:
    FILE *out;
    bool terminal;
    QString label;
    QString afterAll;
    int shown = -1;
};

// Whether the stream is a terminal.
bool isTerminal(FILE *stream);

} // namespace cli

#endif // CLI_PROGRESS_H
