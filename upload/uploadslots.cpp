// The window's part of the upload: the Upload press and the progress display.

#include "widget.h"

#include "devicecolumns.h"
#include "identification.h"
#include "portnumber.h"
#include "thread.h"
#include "ui_widget.h"

#include <QComboBox>
#include <QDebug>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidgetItem>

#include <cstdio>

namespace {

QPushButton *uploadButton(const QTableWidget *table, int row)
{
    return qobject_cast<QPushButton *>(table->cellWidget(row, discovery::ColumnSend));
}

} // namespace

bool Widget::prepareImage()
{
    if (!source.manualMode()) {
        refreshDefaultFile();
        source.useDefaultFile();
        ui->lineEdit_3->setText(source.currentFileName());
        source.convertDefaultFile();
    }
    if (source.currentFileName().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Waring"), QStringLiteral("Please Selcet File"), QMessageBox::Ok);
        return false;
    }
    return true;
}

void Widget::setFailReason(int row, const QString &reason)
{
    QTableWidgetItem *progress = ui->userTableWidget->item(row, discovery::ColumnProgress);
    if (progress && progress->text() == QLatin1String("Fail"))
        progress->setToolTip(reason);
}

void Widget::OnBtnClicked()
{
    if (!prepareImage())
        return;

    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    QTableWidget *table = ui->userTableWidget;
    const int row = rowOfCellWidget(button, discovery::ColumnSend);
    qDebug() << "row:" << row;
    auto *boardBox = qobject_cast<QComboBox *>(table->cellWidget(row, discovery::ColumnDevice));
    if (row < 0 || !boardBox)
        return;
    const RowModule module = moduleOfRow(row);
    qDebug() << module.board << boardBox->currentIndex();

    if (QPushButton *rowButton = uploadButton(table, row))
        rowButton->setEnabled(false);
    // ./update.bin would be an older image, or none: the press ends as a failed upload.
    if (!source.imageConverted()) {
        std::fprintf(stderr, "%s was not converted; nothing sent to %s\n",
                     QFile::encodeName(source.currentFileName()).constData(), module.ip.toLocal8Bit().constData());
        deal_ui(module.ip, upload::Thread::ReportVerdict, 0.0f);
        setFailReason(row, tr("%1 could not be converted").arg(source.currentFileName()));
        return;
    }

    auto *worker = new upload::Thread(module.atPort, module.dataPort, module.ip, module.board);
    worker->setHexPath(source.manualMode() ? source.manualFilePath() : source.defaultFilePath());
    // A monitor open on the module lets go of the data port first; it connects again after the verdict.
    worker->setRefusal(work.uploadStarted(module.ip, worker) ? upload::Refusal::Retried : upload::Refusal::Fails);
    connect(worker, SIGNAL(updateover(QString, int, float)), this, SLOT(deal_ui(QString, int, float)));
    // The verdict is queued before finished(), so every report is shown before the worker goes.
    const QTableWidgetItem *nameItem = table->item(row, discovery::ColumnName);
    const QString hostName = nameItem ? nameItem->data(discovery::ModuleNameRole).toString() : QString();
    connect(worker, &QThread::finished, this, [this, worker, module, hostName] {
        const int rowNow = rowOfIp(module.ip);
        if (rowNow >= 0)
            setFailReason(rowNow, worker->outcome().text());
        // A board written is the board the row named.
        if (worker->outcome().succeeded())
            rememberBoard(module.ip, hostName, upload::findBoard(module.board));
        work.uploadEnded(worker);
        worker->deleteLater();
    });
    worker->start(QThread::InheritPriority);
}

void Widget::deal_ui(QString ip, int kind, float value)
{
    qDebug() << "ip =" << ip;
    QTableWidget *table = ui->userTableWidget;
    const int row = rowOfIp(ip);
    if (row < 0)
        return;

    switch (kind) {
    case upload::Thread::ReportVerdict: {
        auto *item = new QTableWidgetItem(value == 1.0f ? QStringLiteral("Successful") : QStringLiteral("Fail"));
        table->setItem(row, discovery::ColumnProgress, item);
        if (QPushButton *button = uploadButton(table, row))
            button->setEnabled(true);
        item->setTextAlignment(Qt::AlignHCenter);
        break;
    }
    case upload::Thread::ReportProgress: {
        // Truncated, in double precision: a report of 0.29 reads 28%.
        const int percent = static_cast<int>(static_cast<double>(value) * 100);
        auto *item = new QTableWidgetItem(QString::number(percent) + QLatin1Char('%'));
        table->setItem(row, discovery::ColumnProgress, item);
        item->setTextAlignment(Qt::AlignHCenter);
        break;
    }
    case upload::Thread::ReportUnreachable: {
        showConnectServerFail();
        // The box ran an event loop: the row may have moved or gone meanwhile, so look it up again.
        const int rowNow = rowOfIp(ip);
        if (rowNow >= 0) {
            if (QPushButton *button = uploadButton(table, rowNow))
                button->setEnabled(true);
        }
        break;
    }
    default:
        break;
    }
}

void Widget::identifyModuleBoard(const QString &ip)
{
    const int row = rowOfIp(ip);
    if (row < 0 || work.portsHeld(ip))
        return;
    const RowModule module = moduleOfRow(row);
    auto *worker = new upload::IdentifyThread(ip, discovery::portNumber(module.dataPort),
                                              discovery::portNumber(module.atPort));
    // A monitor open on the module lets go of the data port first.
    work.identifyStarted(ip, worker);
    connect(worker, &upload::IdentifyThread::identified, this, &Widget::boardIdentified);
    connect(worker, &QThread::finished, this, [this, worker] {
        work.identifyEnded(worker);
        worker->deleteLater();
    });
    if (auto *boardBox = qobject_cast<QComboBox *>(ui->userTableWidget->cellWidget(row, discovery::ColumnDevice)))
        boardBox->setEnabled(false);
    worker->start();
}

void Widget::boardIdentified(const QString &ip, const QString &board, const QString &text, int)
{
    // The row may have gone meanwhile: the module left, or came back as a new row.
    const int row = rowOfIp(ip);
    auto *boardBox = row < 0 ? nullptr : qobject_cast<QComboBox *>(ui->userTableWidget->cellWidget(row, discovery::ColumnDevice));
    const upload::Board *found = upload::findBoard(board);
    if (boardBox) {
        boardBox->setEnabled(true);
        boardBox->setToolTip(text);
    }
    if (!found) {
        std::fprintf(stderr, "quarnel-uploader: %s: board not identified: %s\n", ip.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        QMessageBox::warning(this, tr("Identify board"), tr("%1: %2").arg(ip, text), QMessageBox::Ok);
        return;
    }
    if (!boardBox)
        return;
    const QTableWidgetItem *nameItem = ui->userTableWidget->item(row, discovery::ColumnName);
    const QString hostName = nameItem ? nameItem->data(discovery::ModuleNameRole).toString() : QString();
    moduleBoards.refresh();
    const upload::Board &kept = upload::boardToKeep(*found, moduleBoards.boardOf(ip, hostName));
    boardBox->setCurrentText(QLatin1String(kept.name));
    rememberBoard(ip, hostName, &kept);
}
