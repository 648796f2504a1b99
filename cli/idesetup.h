#ifndef CLI_IDESETUP_H
#define CLI_IDESETUP_H

#include "commandline.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace cli {

// One file of the board platform quarnel:avr that the sketch build tools load.
struct PlatformFile
{
    QString name;
    QByteArray contents;
};

// The platform's files (the templates of ide/, built in), naming `cliPath` as the quarnel-cli
// that the tools run for discovery and upload.
QVector<PlatformFile> idePlatformFiles(const QString &cliPath);

// The name the platform gives its board `id` ("Arduino UNO via Wi-Fi" for "uno"); empty for an
// id it lacks.
QString ideBoardName(const QString &id);

// `sketchbook.path` of an Arduino IDE 1.8 preferences.txt; empty when it names none.
QString sketchbookFromPreferences(const QByteArray &preferences);

// The sketchbook ide-setup writes into when none is given: the IDE's, from its preferences,
// else the IDE's default.
QString defaultSketchbook();

// Where a sketchbook holds the platform: SKETCHBOOK/hardware/quarnel/avr.
QString platformDirectory(const QString &sketchbook);

// Writes the files into `dir` (created when missing), each replacing an older one whole. False
// with the reason when one cannot be written.
bool writePlatform(const QString &dir, const QVector<PlatformFile> &files, QString *error);

// quarnel-cli ide-setup; returns the exit status.
int runIdeSetup(const Invocation &inv);

} // namespace cli

#endif // CLI_IDESETUP_H
