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
    for (auto entry = presenceMap.begin(); entry != presenceMap.end(); ++entry) {
        const int count = entry.value() - 1;
        if (count > DepartedCount) {
            entry.value() = count;
            continue;
        }
        // The entry stays at its last count, so the module is reported again on later sweeps
        // until it announces; with its row gone those reports change nothing.
        sweepRunning = true;
        participantLeft(entry.key());
        sweepRunning = false;
    }
}

void Widget::participantLeft(QString ip)
{
    const int row = rowOfIp(ip);
    if (row < 0)
        return;
    ui->userTableWidget->removeRow(row);
    ui->userNumLabel->setText(tr("online count\357\274\232%1").arg(ui->userTableWidget->rowCount()));
}
