// The window's part of the upload: the Upload press and the progress display.

#include "widget.h"

#include "devicecolumns.h"
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

QString cellText(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

QPushButton *uploadButton(const QTableWidget *table, int row)
{
    return qobject_cast<QPushButton *>(table->cellWidget(row, discovery::ColumnSend));
}

} // namespace

void Widget::OnBtnClicked()
{
    if (!source.manualMode()) {
        refreshDefaultFile();
        source.useDefaultFile();
        ui->lineEdit_3->setText(source.currentFileName());
        source.convertDefaultFile();
    }
    if (source.currentFileName().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Waring"), QStringLiteral("Please Selcet File"), QMessageBox::Ok);
        return;
    }

    auto *button = qobject_cast<QPushButton *>(sender());
    if (!button)
        return;
    // The row is the one holding this button. Its place on screen would not do: a button scrolled
    // half out of view has its corner above the table, and a hidden table has no layout yet.
    QTableWidget *table = ui->userTableWidget;
    int row = table->rowCount() - 1;
    while (row >= 0 && table->cellWidget(row, discovery::ColumnSend) != button)
        --row;
    qDebug() << "row:" << row;
    auto *boardBox = qobject_cast<QComboBox *>(table->cellWidget(row, discovery::ColumnDevice));
    if (row < 0 || !boardBox)
        return;
    const QString board = boardBox->currentText();
    qDebug() << board << boardBox->currentIndex();

    if (QPushButton *rowButton = uploadButton(table, row))
        rowButton->setEnabled(false);
    const QString atPort = cellText(table, row, discovery::ColumnAtPort);
    const QString ip = cellText(table, row, discovery::ColumnIp);
    const QString dataPort = cellText(table, row, discovery::ColumnDataPort);
    // ./update.bin would be an older image, or none: the press ends as a failed upload.
    if (!source.imageConverted()) {
        std::fprintf(stderr, "%s was not converted; nothing sent to %s\n",
                     QFile::encodeName(source.currentFileName()).constData(), ip.toLocal8Bit().constData());
        deal_ui(ip, upload::Thread::ReportVerdict, 0.0f);
        return;
    }

    uploadThread = new upload::Thread(atPort, dataPort, ip, board);
    upload::Thread *worker = uploadThread;
    workers.insert(worker);
    connect(worker, SIGNAL(updateover(QString, int, float)), this, SLOT(deal_ui(QString, int, float)));
    // The verdict is queued before finished(), so every report is shown before the worker goes.
    connect(worker, &QThread::finished, this, [this, worker, ip] {
        moduleWork.uploadEnded(ip);
        workers.remove(worker);
        if (uploadThread == worker)
            uploadThread = nullptr;
        worker->deleteLater();
    });
    // A monitor open on the module lets go of the data port first; it connects again after the verdict.
    moduleWork.uploadStarting(ip);
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
