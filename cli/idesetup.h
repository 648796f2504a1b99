#ifndef CLI_IDESETUP_H
#define CLI_IDESETUP_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace cli {

// One file of the board platform quarnel:avr that the sketch build tools load.
struct PlatformFile
{
    QString name;
    QByteArray contents;
};

// A command line as both sketch build tools split a pattern (no shell): at each single space;
// a word that begins with `"` or `'` opens an argument that runs to the first word ending with
// that quote, the quotes dropped and the words joined by spaces; empty words dropped. Nothing
// for a quote never closed (the tools refuse the line).
std::optional<QStringList> toolArguments(const QString &line);

// The platform's files (the templates of ide/, built in), naming `cliPath` as the quarnel-cli
// that the tools run for discovery and upload, quoted so that the tools split it back into
// that one argument. Nothing, with *problem, for a path no quoting carries (both quotes, each
// ending a word of it), or one holding "{...}" (which the tools would expand) or a line end.
QVector<PlatformFile> idePlatformFiles(const QString &cliPath, QString *problem);

// The name the platform gives its board `id` ("Arduino UNO via Wi-Fi" for "uno"); empty for an
// id it lacks.
QString ideBoardName(const QString &id);

// The sketchbook an Arduino IDE 1.8 preferences.txt names, as the IDE reads it: the last line
// that sets `sketchbook.path` or `sketchbook.path.<this system>` (linux, windows, macosx), which
// stands for it; empty when it names none.
QString sketchbookFromPreferences(const QByteArray &preferences);

// The sketchbook ide-setup writes into when none is given: the IDE's, from its preferences,
// else the IDE's default.
QString defaultSketchbook();

// Where a sketchbook holds the platform: SKETCHBOOK/hardware/quarnel/avr.
QString platformDirectory(const QString &sketchbook);

// Writes the files into `dir` (created when missing), each replacing an older one whole. False
// with the reason when one cannot be written.
bool writePlatform(const QString &dir, const QVector<PlatformFile> &files, QString *error);

} // namespace cli

#endif // CLI_IDESETUP_H
