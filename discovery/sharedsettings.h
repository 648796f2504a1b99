#ifndef SHAREDSETTINGS_H
#define SHAREDSETTINGS_H

#include <QSettings>
#include <QString>

#include <memory>

namespace discovery {

// The files the window and quarnel-cli share: `fileName` in a "quarnel" folder of the user's
// configuration directory ($XDG_CONFIG_HOME or ~/.config on Linux, %LOCALAPPDATA% on Windows).
QString sharedFilePath(const QString &fileName);

// One such file as settings: INI, with texts beyond ASCII kept readable (UTF-8).
std::unique_ptr<QSettings> openSharedFile(const QString &path);

// Writes what was set, creating the folder first. A file that was damaged when read is written
// again all the same; false, with *error, only when it cannot be written.
bool writeSharedFile(QSettings &settings, QString *error);

} // namespace discovery

#endif // SHAREDSETTINGS_H
