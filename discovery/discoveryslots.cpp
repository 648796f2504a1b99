// The window's part of discovery: the listener slot, the device table rows, and the removal of
// the rows of modules that discovery::Presence reports departed.

#include "widget.h"

#include "boardtable.h"
#include "buttonstyle.h"
#include "devicecolumns.h"
#include "devicerowindex.h"
#include "modulelistener.h"
#include "platform.h"
#include "recentmodules.h"
#include "ui_widget.h"

#include <QComboBox>
#include <QDateTime>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

int Widget::rowOfIp(const QString &ip) const
{
    return rowIndex->row(ip);
}

Widget::RowModule Widget::moduleOfRow(int row) const
{
    const QTableWidget *table = ui->userTableWidget;
    const auto text = [table, row](int column) {
        const QTableWidgetItem *item = table->item(row, column);
        return item ? item->text() : QString();
    };
    const auto *boardBox = qobject_cast<const QComboBox *>(table->cellWidget(row, discovery::ColumnDevice));
    return {text(discovery::ColumnIp), text(discovery::ColumnDataPort), text(discovery::ColumnAtPort),
            boardBox ? boardBox->currentText() : QString()};
}

int Widget::rowOfCellWidget(const QWidget *widget, int column) const
{
    const QTableWidget *table = ui->userTableWidget;
    int row = table->rowCount() - 1;
    while (row >= 0 && table->cellWidget(row, column) != widget)
        --row;
    return row;
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
    for (const upload::Board &board : upload::Boards)
        boardBox->addItem(QString::fromLatin1(board.name));
    // A module whose board is known shows it, also when it comes back; another, the first type.
    // quarnel-cli may have learned it since the file was last read.
    for (const QString &problem : moduleBoards.refresh())
        std::fprintf(stderr, "quarnel-uploader: %s\n", problem.toLocal8Bit().constData());
    if (const upload::Board *kept = moduleBoards.boardOf(hostIp, hostName))
        boardBox->setCurrentText(QLatin1String(kept->name));
    // Only the user's choice: a type set by the program is kept where it is learned.
    connect(boardBox, QOverload<int>::of(&QComboBox::activated), this, [this, boardBox] { boardChosen(boardBox); });
    table->setCellWidget(0, discovery::ColumnDevice, boardBox);

    table->setItem(0, discovery::ColumnName, nameItem);
    nameItem->setTextAlignment(Qt::AlignHCenter);

    uploadButton->setStyleSheet(QString::fromLatin1(ButtonStyleSheet));
    boardBox->setStyleSheet(QString::fromLatin1(BoardBoxStyleSheet));
}

void Widget::rememberBoard(const QString &ip, const QString &hostName, const upload::Board *board)
{
    QString error;
    if (board && !moduleBoards.remember(ip, hostName, *board, &error))
        std::fprintf(stderr, "quarnel-uploader: %s\n", error.toLocal8Bit().constData());
}

void Widget::boardChosen(const QComboBox *boardBox)
{
    const int row = rowOfCellWidget(boardBox, discovery::ColumnDevice);
    if (row < 0)
        return;
    const QTableWidgetItem *nameItem = ui->userTableWidget->item(row, discovery::ColumnName);
    const RowModule module = moduleOfRow(row);
    rememberBoard(module.ip, nameItem ? nameItem->data(discovery::ModuleNameRole).toString() : QString(),
                  upload::findBoard(module.board));
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

namespace {

const int ManyRows = 64;      // rows leaving at once after which the freed memory is handed back
const int ReleaseDelay = 500; // ms, for the rows' widgets to be deleted first

} // namespace

void Widget::processPendingDatagrams()
{
    listener->readPending();
}

void Widget::showModule(const discovery::Announcement &announcement)
{
    // A departed module's row is being removed: what arrives meanwhile is dropped, not deferred.
    if (presence.sweepRunning())
        return;
    discovery::RecentModules::shared().note(announcement, QDateTime::currentMSecsSinceEpoch());
    addingRow = true;
    addDeviceRow(announcement.hostIp, announcement.dataPort, announcement.atPort, announcement.hostName);
    addingRow = false;
    lockNonNameCells();
    presence.refreshPresence(announcement.hostIp);
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
