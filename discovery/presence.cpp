#include "widget.h"

#include "ui_widget.h"

#include <QTableWidget>

namespace {
const int LifeCount = 5;     // sweeps a module survives after announcing, counting this one
const int DepartedCount = 1; // a count at or below this after a sweep means the module left
} // namespace

void Widget::refreshPresence(const QString &ip)
{
    if (ip.isEmpty())
        return;
    presenceMap[ip] = LifeCount;
}

void Widget::sweepPresence()
{
    for (auto entry = presenceMap.begin(); entry != presenceMap.end();) {
        const int count = entry.value() - 1;
        if (count > DepartedCount) {
            entry.value() = count;
            ++entry;
            continue;
        }
        // The entry goes with its row: a flood of departed modules leaves nothing behind.
        sweepRunning = true;
        participantLeft(entry.key());
        sweepRunning = false;
        entry = presenceMap.erase(entry);
    }
}

void Widget::participantLeft(QString ip)
{
    const int row = rowOfIp(ip);
    if (row < 0)
        return;
    ui->userTableWidget->removeRow(row);
    tableFullReported = false;
    ui->userNumLabel->setText(tr("online count\357\274\232%1").arg(ui->userTableWidget->rowCount()));
}
