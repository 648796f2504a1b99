#include "widget.h"

#include "buttonstyle.h"
#include "devicecolumns.h"
#include "devicerowindex.h"
#include "ui_widget.h"

#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>

int Widget::rowOfIp(const QString &ip) const
{
    return rowIndex->row(ip);
}

void Widget::addDeviceRow(const QString &hostIp, const QString &dataPort, const QString &atPort,
                          const QString &hostName)
{
    // Only the IP column identifies a row: a host name that reads like another module's IP
    // must not keep that module out of the table.
    if (rowOfIp(hostIp) >= 0)
        return;

    QTableWidget *table = ui->userTableWidget;
    QTableWidgetItem *ipItem = new QTableWidgetItem(hostIp);
    QTableWidgetItem *dataPortItem = new QTableWidgetItem(dataPort);
    QTableWidgetItem *atPortItem = new QTableWidgetItem(atPort);
    QTableWidgetItem *nameItem = new QTableWidgetItem(hostName);
    nameItem->setData(discovery::ModuleNameRole, hostName);
    auto *uploadButton = new QPushButton(QStringLiteral("Upload"));

    table->insertRow(0);
    table->setItem(0, discovery::ColumnIp, ipItem);
    ipItem->setTextAlignment(Qt::AlignHCenter);
    table->setItem(0, discovery::ColumnDataPort, dataPortItem);
    dataPortItem->setTextAlignment(Qt::AlignHCenter);
    table->setItem(0, discovery::ColumnAtPort, atPortItem);
    atPortItem->setTextAlignment(Qt::AlignHCenter);
    table->setCellWidget(0, discovery::ColumnSend, uploadButton);

    ui->userNumLabel->setText(tr("Online Count\357\274\232%1").arg(table->rowCount()));
    connect(uploadButton, SIGNAL(clicked()), this, SLOT(OnBtnClicked()));

    auto *boardBox = new QComboBox();
    for (int index = 0; index < discovery::BoardCount; ++index)
        boardBox->insertItem(index, QString::fromLatin1(discovery::BoardNames[index]));
    table->setCellWidget(0, discovery::ColumnDevice, boardBox);

    table->setItem(0, discovery::ColumnName, nameItem);
    nameItem->setTextAlignment(Qt::AlignHCenter);

    uploadButton->setStyleSheet(QString::fromLatin1(ButtonStyleSheet));
    boardBox->setStyleSheet(QString::fromLatin1(BoardBoxStyleSheet));
}

void Widget::lockNonNameCells()
{
    // Cells outside the Name column become editable only in rows that were added or had a cell
    // set since the last call (a Progress text, for instance), so only those rows are visited.
    QTableWidget *table = ui->userTableWidget;
    for (int row : rowIndex->takeChangedRows()) {
        for (int column = 1; column < table->columnCount(); ++column) {
            QTableWidgetItem *item = table->item(row, column);
            if (item) {
                if (item->flags() & Qt::ItemIsEditable)
                    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            } else {
                item = new QTableWidgetItem();
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                table->setItem(row, column, item);
            }
        }
    }
    // What changed meanwhile is the locking itself.
    rowIndex->takeChangedRows();
}
