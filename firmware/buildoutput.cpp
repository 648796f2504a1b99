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

void Widget::findHexFile(const QString &dir)
{
    const QString user = platform::currentUserName();
    const QString listing = platform::hexFileListing(user, dir);
    if (!firmware::appendTrace(TraceFile, listing.toLocal8Bit())) {
        std::perror("open file error");
        return;
    }
    const QString fileName = firmware::hexFileName(listing);
    if (fileName.isEmpty()) {
        qDebug() << "can now get hex file";
        return;
    }
    defaultFilePath = platform::buildOutputPath(user, dir, fileName);
    readFileTime(defaultFilePath);
}

void Widget::readFileTime(const QString &path)
{
    QDateTime lastWrite;
    if (platform::lastWriteTimeUtc(path, &lastWrite))
        generateTime = firmware::generateTimeText(lastWrite);
}
