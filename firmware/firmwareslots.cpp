// The window's part of firmware preparation: the source slots, showing what firmware::FirmwareSource
// holds.

#include "widget.h"

#include "ui_widget.h"

#include <QFileDialog>
#include <QMessageBox>

void Widget::on_radioButton_2_toggled(bool checked)
{
    if (!checked)
        return;
    ui->pushButton_4->setEnabled(false);
    source.setManualMode(false);
    presence.setHeld(false);
}

void Widget::on_radioButton_toggled(bool checked)
{
    if (!checked)
        return;
    ui->pushButton_4->setEnabled(true);
    source.setManualMode(true);
    presence.setHeld(true);
}

void Widget::on_pushButton_4_clicked()
{
    if (!source.chooseManualFile(
            QFileDialog::getOpenFileName(this, tr("Open hex"), QStringLiteral("."), tr("hex(*.hex)")))) {
        QMessageBox::warning(this, QStringLiteral("waring"), QStringLiteral("open file fail"), QMessageBox::Ok);
        return;
    }
    QMessageBox::warning(this, QStringLiteral("tip"), QStringLiteral("open file successful"), QMessageBox::Ok);
    source.useManualFile();
    ui->lineEdit->setText(source.manualFilePath());
    ui->lineEdit_3->setText(source.currentFileName());
    ui->label_2->setText(source.generateTime());
    source.convertManualFile();
}

void Widget::update_hex_file()
{
    if (source.manualMode())
        return;
    refreshDefaultFile();
    source.useDefaultFile();
    ui->lineEdit_3->setText(source.currentFileName());
    presence.sweepPresence();
}

void Widget::refreshDefaultFile()
{
    source.refreshDefaultFile();
    ui->lineEdit_2->setText(source.defaultFilePath());
    ui->label_2->setText(source.generateTime());
}
