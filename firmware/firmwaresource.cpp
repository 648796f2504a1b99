#include "firmwaresource.h"

#include "buildfinder.h"
#include "hexconvert.h"
#include "platform.h"

#include <QDebug>
#include <QDir>

#include <cstdio>

namespace firmware {

FirmwareSource::FirmwareSource(const QString &traceFile, const QString &imagePath)
    : traceFile(traceFile), imagePath(imagePath)
{
}

void FirmwareSource::refreshDefaultFile()
{
    const QString user = platform::currentUserName();
    const QString dir = buildDirName(platform::buildDirListing(user));
    const QString listing = platform::hexFileListing(user, dir);
    if (!appendTrace(traceFile, listing.toLocal8Bit())) {
        std::perror("open file error");
        return;
    }
    const QString fileName = hexFileName(listing);
    if (fileName.isEmpty()) {
        qDebug() << "can now get hex file";
        return;
    }
    defaultFilePath_ = platform::buildOutputPath(user, dir, fileName);
    readFileTime(defaultFilePath_);
}

void FirmwareSource::useDefaultFile()
{
    currentFileName_ = fileNameOf(defaultFilePath_);
}

bool FirmwareSource::chooseManualFile(const QString &path)
{
    manualFilePath_ = path;
    if (path.isEmpty())
        return false;
    readFileTime(path);
    return true;
}

void FirmwareSource::useManualFile()
{
    currentFileName_ = manualFilePath_.mid(manualFilePath_.lastIndexOf(QLatin1Char('/')) + 1);
}

bool FirmwareSource::convertManualFile() const
{
    return hexToBin(manualFilePath_, imagePath);
}

bool FirmwareSource::convertDefaultFile() const
{
    return hexToBin(defaultFilePath_, imagePath);
}

QString FirmwareSource::fileNameOf(const QString &path)
{
    const int cut = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QDir::separator()));
    return path.mid(cut + 1);
}

void FirmwareSource::readFileTime(const QString &path)
{
    QDateTime lastWrite;
    if (platform::lastWriteTimeUtc(path, &lastWrite))
        generateTime_ = generateTimeText(lastWrite);
}

} // namespace firmware
