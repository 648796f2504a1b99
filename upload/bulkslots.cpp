// The window's part of an upload of several rows: the selection or the failed rows go to the
// batch queue, the queue's jobs are shown in their rows, and one box lists the failures.

#include "widget.h"

#include "bulkupload.h"
#include "devicecolumns.h"
#include "platform.h"
#include "thread.h"
#include "ui_widget.h"
#include "uploadbatch.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryFile>

QVector<upload::RowSnapshot> Widget::tableSnapshot() const
{
    const QTableWidget *table = ui->userTableWidget;
    QVector<upload::RowSnapshot> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        const RowModule module = moduleOfRow(row);
        const QTableWidgetItem *name = table->item(row, discovery::ColumnName);
        const QTableWidgetItem *progress = table->item(row, discovery::ColumnProgress);
        rows.append({name ? name->text() : QString(), module.ip, module.dataPort, module.atPort, module.board,
                     progress ? progress->text() : QString()});
    }
    return rows;
}

QList<int> Widget::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : ui->userTableWidget->selectionModel()->selectedRows())
        rows << index.row();
    return rows;
}

void Widget::uploadSelectedRows()
{
    uploadRows(selectedRows());
}

void Widget::retryFailedRows()
{
    uploadRows(upload::failedRows(tableSnapshot()));
}

void Widget::uploadRows(const QList<int> &rows)
{
    if (bulk || rows.isEmpty() || !prepareImage())
        return;
    QTableWidget *table = ui->userTableWidget;
    QList<int> idle; // a row whose own upload runs keeps it
    for (int row : rows) {
        const auto *button = qobject_cast<const QPushButton *>(table->cellWidget(row, discovery::ColumnSend));
        if (button && button->isEnabled())
            idle << row;
    }
    QVector<upload::BatchJob> jobs = upload::jobsOfRows(tableSnapshot(), idle);
    if (jobs.isEmpty())
        return;

    // The run's own copy of the image: jobs start over time, and a press meanwhile converts anew.
    QString failure;
    QFile image(source.imageFile());
    bulkImage = std::make_unique<QTemporaryFile>();
    if (!source.imageConverted())
        failure = tr("%1 could not be converted").arg(source.currentFileName());
    else if (!image.open(QIODevice::ReadOnly))
        failure = tr("cannot read the image %1: %2").arg(source.imageFile(), image.errorString());
    else if (!bulkImage->open() || bulkImage->write(image.readAll()) != image.size() || !bulkImage->flush())
        failure = tr("cannot write a copy of the image: %1").arg(bulkImage->errorString());
    if (!failure.isEmpty()) {
        for (upload::BatchJob &job : jobs) {
            job.state = upload::BatchJob::State::Failed;
            job.failure = failure;
        }
    }
    bulkImage->close();

    upload::UploadBatch::Settings settings;
    settings.imagePath = bulkImage->fileName();
    settings.hexPath = source.manualMode() ? source.manualFilePath() : source.defaultFilePath();
    settings.jobs = upload::UploadBatch::boardsAtOnce(0, int(jobs.size()), platform::raiseOpenFileLimit());
    bulk = new upload::UploadBatch(jobs, settings);
    // A monitor open on a module lets go of its data port before the module's worker starts.
    connect(bulk, &upload::UploadBatch::workerStarting, this,
            [this](int index, upload::Thread *worker) { work.uploadStarted(bulk->jobs().at(index).target.ip, worker); });
    connect(bulk, &upload::UploadBatch::workerEnded, this,
            [this](int, upload::Thread *worker) { work.uploadEnded(worker); });
    connect(bulk, &upload::UploadBatch::changed, this, &Widget::showBulkJob);
    connect(bulk, &upload::UploadBatch::finished, this, &Widget::bulkEnded);
    for (int i = 0; i < jobs.size(); ++i)
        showBulkJob(i);
    updateRowActions();
    bulk->start();
}

void Widget::showBulkJob(int index)
{
    using State = upload::BatchJob::State;
    const upload::BatchJob &job = bulk->jobs().at(index);
    const int row = rowOfIp(job.target.ip);
    if (row < 0)
        return;
    auto *button = qobject_cast<QPushButton *>(ui->userTableWidget->cellWidget(row, discovery::ColumnSend));
    switch (job.state) {
    case State::Waiting:
    case State::Connecting:
    case State::Retrying:
        if (button)
            button->setEnabled(false);
        break;
    case State::Writing:
    case State::Verifying:
        deal_ui(job.target.ip, upload::Thread::ReportProgress, job.fraction);
        break;
    case State::Done: {
        deal_ui(job.target.ip, upload::Thread::ReportVerdict, 1.0f);
        const QTableWidgetItem *nameItem = ui->userTableWidget->item(row, discovery::ColumnName);
        rememberBoard(job.target.ip, nameItem ? nameItem->data(discovery::ModuleNameRole).toString() : QString(),
                      upload::findBoard(job.target.board));
        break;
    }
    case State::Failed:
    case State::Interrupted:
        deal_ui(job.target.ip, upload::Thread::ReportVerdict, 0.0f);
        setFailReason(row, job.failure.isEmpty() ? tr("interrupted") : job.failure);
        break;
    case State::NotStarted:
        if (button)
            button->setEnabled(true);
        break;
    }
}

void Widget::bulkEnded()
{
    const QString failures = upload::failureList(bulk->jobs(), tableSnapshot());
    bulk->deleteLater();
    bulk = nullptr;
    bulkImage.reset();
    updateRowActions();
    if (!failures.isEmpty())
        QMessageBox::warning(this, tr("Upload to selected rows"), tr("These rows failed:\n") + failures,
                             QMessageBox::Ok);
}
