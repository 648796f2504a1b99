// The window's part of firmware preparation: the source slots and the build-output refresh.

#include "widget.h"

#include "buildfinder.h"
#include "hexconvert.h"
#include "platform.h"
#include "ui_widget.h"

#include <QDebug>
#include <QFileDialog>
#include <QMessageBox>

#include <cstdio>

void Widget::on_radioButton_2_toggled(bool checked)
{
    if (!checked)
        return;
    ui->pushButton_4->setEnabled(false);
    manualMode = false;
}

void Widget::on_radioButton_toggled(bool checked)
{
    if (!checked)
        return;
    ui->pushButton_4->setEnabled(true);
    manualMode = true;
}

void Widget::on_pushButton_4_clicked()
{
    manualFilePath = QFileDialog::getOpenFileName(this, tr("Open hex"), QStringLiteral("."), tr("hex(*.hex)"));
    if (manualFilePath.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("waring"), QStringLiteral("open file fail"), QMessageBox::Ok);
        return;
    }
    readFileTime(manualFilePath);
    QMessageBox::warning(this, QStringLiteral("tip"), QStringLiteral("open file successful"), QMessageBox::Ok);
    currentFileName = manualFilePath.mid(manualFilePath.lastIndexOf(QLatin1Char('/')) + 1);
    ui->lineEdit->setText(manualFilePath);
    ui->lineEdit_3->setText(currentFileName);
    ui->label_2->setText(generateTime);
    hexToBin(manualFilePath);
}

void Widget::update_hex_file()
{
    if (manualMode)
        return;
    refreshDefaultFile();
    currentFileName = fileNameOf(defaultFilePath);
    ui->lineEdit_3->setText(currentFileName);
    if (!sweepRunning)
        sweepPresence();
}

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
