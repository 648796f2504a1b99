#include "bulkupload.h"

#include "portnumber.h"

#include <algorithm>

namespace upload {

QVector<BatchJob> jobsOfRows(const QVector<RowSnapshot> &table, QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QVector<BatchJob> jobs;
    QStringList modules;
    for (int row : qAsConst(rows)) {
        if (row < 0 || row >= table.size())
            continue;
        const RowSnapshot &r = table.at(row);
        // Two rows of one module would have two workers fight for its one data port.
        if (modules.contains(r.ip))
            continue;
        modules << r.ip;
        BatchJob job;
        job.target = {r.ip, discovery::portNumber(r.dataPort), discovery::portNumber(r.atPort), r.board};
        jobs << job;
    }
    return jobs;
}

QList<int> failedRows(const QVector<RowSnapshot> &table)
{
    QList<int> rows;
    for (int row = 0; row < table.size(); ++row) {
        if (table.at(row).progress == QLatin1String("Fail"))
            rows << row;
    }
    return rows;
}

QString failureList(const QVector<BatchJob> &jobs, const QVector<RowSnapshot> &table)
{
    QStringList lines;
    for (const BatchJob &job : jobs) {
        if (job.state != BatchJob::State::Failed)
            continue;
        const auto row = std::find_if(table.begin(), table.end(),
                                      [&job](const RowSnapshot &r) { return r.ip == job.target.ip; });
        const QString name = row == table.end() ? QString() : row->name;
        lines << QStringLiteral("%1 (%2): %3").arg(name, job.target.ip, job.failure);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace upload
