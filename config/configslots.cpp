// The window's part of configuration: renaming a module by editing its Name cell.

#include "widget.h"

#include "devicecolumns.h"
#include "hostname.h"
#include "portnumber.h"
#include "ui_widget.h"

#include <QDebug>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QTableWidgetItem>

#include <cstdio>

void Widget::on_userTableWidget_itemChanged(QTableWidgetItem *item)
{
    // Only the user's edits of a Name cell rename; the table's own changes come with addingRow
    // set or touch other columns.
    if (!item || !item->tableWidget() || item->column() != discovery::ColumnName || addingRow)
        return;

    const int row = item->row();
    if (!ui->userTableWidget->item(row, discovery::ColumnIp) || !ui->userTableWidget->item(row, discovery::ColumnAtPort))
        return;
    const RowModule module = moduleOfRow(row);
    const QString name = item->text();
    qDebug() << name << module.ip;

    const QString problem = config::hostNameProblem(name, config::OutsideLatin1::SentAsQuestionMark);
    if (!problem.isEmpty()) {
        // Restored before the box runs its event loop; the blocker keeps this slot from
        // taking the restored text for another edit.
        {
            const QSignalBlocker blocker(ui->userTableWidget);
            item->setText(item->data(discovery::ModuleNameRole).toString());
        }
        QMessageBox::warning(this, tr("rename fail"), tr("The name was not sent: %1.").arg(problem), QMessageBox::Ok);
        return;
    }
    if (!config::sendHostName(module.ip, discovery::portNumber(module.atPort), name)) {
        showConnectServerFail();
        return;
    }
    const QSignalBlocker blocker(ui->userTableWidget);
    item->setData(discovery::ModuleNameRole, name);
    QString error;
    if (knownModules.takeName(module.ip, name, &error))
        knownProbe.setModules(knownModules.modules());
    moduleBoards.takeName(module.ip, name, &error);
    if (!error.isEmpty())
        std::fprintf(stderr, "quarnel-uploader: %s\n", error.toLocal8Bit().constData());
}
