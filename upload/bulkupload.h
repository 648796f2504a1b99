#ifndef BULKUPLOAD_H
#define BULKUPLOAD_H

#include "uploadbatch.h"

#include <QList>
#include <QString>
#include <QVector>

namespace upload {

// A row of the device table as an upload of several rows sees it: the texts of its cells.
struct RowSnapshot
{
    QString name;
    QString ip;
    QString dataPort; // as the cells show them
    QString atPort;
    QString board;    // the row's Device choice
    QString progress; // the Progress cell
};

// The batch jobs of the rows `rows` (indexes into `table`), top row first, one per module: a row
// listed twice, or an index past the table, adds nothing.
QVector<BatchJob> jobsOfRows(const QVector<RowSnapshot> &table, QList<int> rows);

// The rows whose last upload failed: their Progress cell reads "Fail". Rows that were written
// ("Successful"), never uploaded or are still uploading are left alone.
QList<int> failedRows(const QVector<RowSnapshot> &table);

// The one report of a run of several rows: a line "name (address): reason" per job that failed,
// the name as the module's row in `table` shows it now (none when the row has gone); empty when
// no job failed.
QString failureList(const QVector<BatchJob> &jobs, const QVector<RowSnapshot> &table);

} // namespace upload

#endif // BULKUPLOAD_H
