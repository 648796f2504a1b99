#include "firmwaresource.h"

#include "buildfinder.h"
#include "hexconvert.h"
#include "platform.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace firmware {

FirmwareSource::FirmwareSource(const QString &traceFile, const QString &imagePath)
    : traceFile(traceFile), imagePath(imagePath)
{
}

// The build….tmp file found in the listings competes with the current tools' build directories;
// the newest file that is no longer being written is taken.
void FirmwareSource::refreshDefaultFile()
{
    const QString user = platform::currentUserName();
    const QString dir = buildDirName(platform::buildDirListing(user));
    const QString listing = platform::hexFileListing(user, dir);
    const QString fileName = hexFileName(listing);
    const QString legacyPath = fileName.isEmpty() ? QString() : platform::buildOutputPath(user, dir, fileName);
    QByteArray trace = listing.toLocal8Bit();
    const BuildOutputChoice choice = outputSearch.look(
        legacyPath, currentToolPlaces(platform::tempDirectory(user), platform::cacheDirectory()),
        QDateTime::currentDateTimeUtc(), &trace);
    // The trace is for the user's eyes only: failing to write it changes nothing of what is found,
    // and is said once until it can be written again.
    if (appendTrace(traceFile, trace)) {
        traceUnwritable = false;
    } else if (!traceUnwritable) {
        traceUnwritable = true;
        std::fprintf(stderr, "open file error: %s cannot be written: %s\n", QFile::encodeName(traceFile).constData(),
                     std::strerror(errno));
    }
    if (choice.path.isEmpty()) {
        if (!choice.stillWritten)
            qDebug() << "can now get hex file";
        return;
    }
    defaultFilePath_ = choice.path;
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

bool FirmwareSource::convertManualFile()
{
    imageConverted_ = hexToBin(manualFilePath_, imagePath);
    return imageConverted_;
}

bool FirmwareSource::convertDefaultFile()
{
    imageConverted_ = hexToBin(defaultFilePath_, imagePath);
    return imageConverted_;
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
