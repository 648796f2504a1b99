// The window's part of configuration: renaming a module by editing its Name cell.

#include "widget.h"

#include "devicecolumns.h"
#include "hostname.h"
#include "portnumber.h"
#include "ui_widget.h"

#include <QDebug>
#include <QTableWidgetItem>

void Widget::on_userTableWidget_itemChanged(QTableWidgetItem *item)
{
    // Only the user's edits of a Name cell rename; the table's own changes come with addingRow
    // set or touch other columns.
    if (!item || !item->tableWidget() || item->column() != discovery::ColumnName || addingRow)
        return;

    const int row = item->row();
    const QTableWidgetItem *ipItem = ui->userTableWidget->item(row, discovery::ColumnIp);
    const QTableWidgetItem *atPortItem = ui->userTableWidget->item(row, discovery::ColumnAtPort);
    if (!ipItem || !atPortItem)
        return;
    const QString name = item->text();
    const QString ip = ipItem->text();
    qDebug() << name << ip;

    if (!config::sendHostName(ip, upload::portNumber(atPortItem->text()), name))
        showConnectServerFail();
}
