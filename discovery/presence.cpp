#include "widget.h"

#include "ui_widget.h"

#include "platform.h"

#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {
const int LifeCount = 5;     // sweeps a module survives after announcing, counting this one
const int DepartedCount = 1; // a count at or below this after a sweep means the module left
const int ManyRows = 64;     // rows leaving at once after which the freed memory is handed back
const int ReleaseDelay = 500; // ms, for the rows' widgets to be deleted first
} // namespace

void Widget::refreshPresence(const QString &ip)
{
    if (ip.isEmpty())
        return;
    presenceMap[ip] = LifeCount;
}

void Widget::sweepPresence()
{
    QStringList departed;
    for (auto entry = presenceMap.begin(); entry != presenceMap.end();) {
        const int count = entry.value() - 1;
        if (count > DepartedCount) {
            entry.value() = count;
            ++entry;
            continue;
        }
        // The entry goes with its row: a flood of departed modules leaves nothing behind.
        departed << entry.key();
        entry = presenceMap.erase(entry);
    }
    if (departed.isEmpty())
        return;
    sweepRunning = true;
    removeRowsOf(departed);
    sweepRunning = false;
}

void Widget::participantLeft(QString ip)
{
    removeRowsOf({ip});
}

void Widget::removeRowsOf(const QStringList &ips)
{
    QVector<int> rows;
    for (const QString &ip : ips) {
        const int row = rowOfIp(ip);
        if (row >= 0)
            rows << row;
    }
    if (rows.isEmpty())
        return;
    // Every removal costs as much as the table is long, so neighbouring rows (modules that fell
    // silent together) go in one step, from the bottom up.
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    QTableWidget *table = ui->userTableWidget;
    for (int i = 0; i < rows.size();) {
        const int last = rows.at(i);
        while (i + 1 < rows.size() && rows.at(i + 1) == rows.at(i) - 1)
            ++i;
        const int first = rows.at(i++);
        table->model()->removeRows(first, last - first + 1);
    }
    if (rows.size() >= ManyRows)
        QTimer::singleShot(ReleaseDelay, this, [] { platform::releaseFreeMemory(); });
    ui->userNumLabel->setText(tr("online count\357\274\232%1").arg(table->rowCount()));
    tableFullReported = false;
}
