#include "widget.h"

#include "hexconvert.h"
#include "ui_widget.h"

#include <QFileDialog>
#include <QMessageBox>

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
    imageConverted = hexToBin(manualFilePath);
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
