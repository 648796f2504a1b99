// The window's part of discovery: the listener slot, the device table rows, and the removal of
// the rows of modules that discovery::Presence reports departed.

#include "widget.h"

#include "announcement.h"
#include "boardtable.h"
#include "buttonstyle.h"
#include "devicecolumns.h"
#include "devicerowindex.h"
#include "discoveryconstants.h"
#include "platform.h"
#include "ui_widget.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <functional>

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
    for (const upload::Board &board : upload::Boards)
        boardBox->addItem(QString::fromLatin1(board.name));
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

namespace {

// A flood is read in slices with the window served between them, not in one call that lasts
// as long as the flood. A new row costs more the longer the table, hence the time limit.
const int DatagramBatch = 64; // datagrams per slice, at most
const int BatchMs = 20;       // ms per slice, at most
const int ManyRows = 64;      // rows leaving at once after which the freed memory is handed back
const int ReleaseDelay = 500; // ms, for the rows' widgets to be deleted first

// The socket listens on both address families, so an IPv4 sender may arrive in its IPv6-mapped
// form; the own-address check compares the IPv4 text.
QString senderText(const QHostAddress &sender)
{
    bool isMapped = false;
    const quint32 ipv4 = sender.toIPv4Address(&isMapped);
    return isMapped ? QHostAddress(ipv4).toString() : sender.toString();
}

} // namespace

void Widget::processPendingDatagrams()
{
    // Looked up once per call rather than once per datagram: a burst shares one answer.
    QElapsedTimer slice;
    slice.start();
    const QString ownAddress = localIPv4Address();
    for (int taken = 0; taken < DatagramBatch && slice.elapsed() < BatchMs && udpSocket->hasPendingDatagrams();
         ++taken) {
        QByteArray datagram;
        datagram.resize(int(qMax<qint64>(0, udpSocket->pendingDatagramSize())));
        QHostAddress sender;
        quint16 senderPort = 0;
        if (udpSocket->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort) < 0)
            continue;

        if (presence.sweepRunning() || senderText(sender) == ownAddress)
            continue;
        const std::optional<discovery::Announcement> announcement = discovery::acceptAnnouncement(datagram);
        if (!announcement)
            continue;
        takeKnownAnnouncement(*announcement);
        takeModule(*announcement);
    }
    if (udpSocket->hasPendingDatagrams() && !drainQueued) {
        drainQueued = true;
        QTimer::singleShot(0, this, [this] {
            drainQueued = false;
            processPendingDatagrams();
        });
    }
}

void Widget::takeModule(const discovery::Announcement &module)
{
    if (presence.sweepRunning())
        return;
    if (rowOfIp(module.hostIp) < 0 && ui->userTableWidget->rowCount() >= discovery::MaxModules) {
        if (!tableFullReported)
            std::fprintf(stderr, "device table full (%d rows): new modules are not listed until rows leave\n",
                         discovery::MaxModules);
        tableFullReported = true;
        return;
    }

    addingRow = true;
    addDeviceRow(module.hostIp, module.dataPort, module.atPort, module.hostName);
    addingRow = false;
    lockNonNameCells();
    presence.refreshPresence(module.hostIp);
}

QString Widget::localIPv4Address() const
{
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toString();
    }
    return QString();
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
