#ifndef CLI_SCANOUTPUT_H
#define CLI_SCANOUTPUT_H

#include "modulescan.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace cli {

// The scan's list as a table with a header line: IP, DATA, AT, AGE (seconds since last heard,
// one decimal; "known" for a known module that answered but did not announce) and HOSTNAME last. Announced texts are shown with control characters, and in
// the columns before HOSTNAME blanks too, as '?', so a hostile announcement can neither move
// a script's columns nor send escape sequences to the terminal.
QString scanTable(const QVector<HeardModule> &modules, qint64 nowMs);

// The scan's list as a JSON array of objects with the members ip, dataPort, atPort, hostname
// (the announced texts, unchanged), secondsSinceHeard (a number, one decimal; null when not
// heard) and known (added by address).
QByteArray scanJson(const QVector<HeardModule> &modules, qint64 nowMs);

// An announced text as it may be shown: control characters, and with blanksToo blanks, as '?'.
QString printableText(const QString &text, bool blanksToo);
// Rows of cells in columns two blanks apart, one line each; the last column is not padded.
QString alignedColumns(const QVector<QStringList> &rows);

} // namespace cli

#endif // CLI_SCANOUTPUT_H
