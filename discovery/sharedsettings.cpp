#include "sharedsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace discovery {

QString sharedFilePath(const QString &fileName)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/quarnel/")
           + fileName;
}

std::unique_ptr<QSettings> openSharedFile(const QString &path)
{
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    settings->setIniCodec("UTF-8");
    return settings;
}

bool writeSharedFile(QSettings &settings, QString *error)
{
    QDir().mkpath(QFileInfo(settings.fileName()).absolutePath());
    settings.sync();
    // A damaged file reads with status FormatError; writing it is what repairs it.
    if (settings.status() != QSettings::AccessError)
        return true;
    *error = QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(settings.fileName()));
    return false;
}

} // namespace discovery
