#include "widget.h"

#include "buildfinder.h"
#include "platform.h"
#include "ui_widget.h"

#include <QDebug>

#include <cstdio>

namespace {
const QString TraceFile = QStringLiteral("./log.txt");
} // namespace

void Widget::refreshDefaultFile()
{
    findBuildDir();
    ui->lineEdit_2->setText(defaultFilePath);
    ui->label_2->setText(generateTime);
}

void Widget::findBuildDir()
{
    const QString listing = platform::buildDirListing(platform::currentUserName());
    findHexFile(firmware::buildDirName(listing));
}

// The build….tmp file found in the listings competes with the current tools' build directories;
// the newest file that is no longer being written is taken.
void Widget::findHexFile(const QString &dir)
{
    const QString user = platform::currentUserName();
    const QString listing = platform::hexFileListing(user, dir);
    const QString fileName = firmware::hexFileName(listing);
    const QString legacyPath = fileName.isEmpty() ? QString() : platform::buildOutputPath(user, dir, fileName);
    QByteArray trace = listing.toLocal8Bit();
    const firmware::BuildOutputChoice choice = outputSearch.look(
        legacyPath, firmware::currentToolPlaces(platform::tempDirectory(user), platform::cacheDirectory()),
        QDateTime::currentDateTimeUtc(), &trace);
    if (!firmware::appendTrace(TraceFile, trace)) {
        std::perror("open file error");
        return;
    }
    if (choice.path.isEmpty()) {
        if (!choice.stillWritten)
            qDebug() << "can now get hex file";
        return;
    }
    defaultFilePath = choice.path;
    readFileTime(defaultFilePath);
}

void Widget::readFileTime(const QString &path)
{
    QDateTime lastWrite;
    if (platform::lastWriteTimeUtc(path, &lastWrite))
        generateTime = firmware::generateTimeText(lastWrite);
}
