#include "widget.h"

#include "announcement.h"
#include "discoveryconstants.h"
#include "ui_widget.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

namespace {

// A flood is read in slices with the window served between them, not in one call that lasts
// as long as the flood. A new row costs more the longer the table, hence the time limit.
const int DatagramBatch = 64; // datagrams per slice, at most
const int BatchMs = 20;       // ms per slice, at most

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

        if (sweepRunning || senderText(sender) == ownAddress)
            continue;
        const std::optional<discovery::Announcement> announcement = discovery::acceptAnnouncement(datagram);
        if (!announcement)
            continue;
        if (rowOfIp(announcement->hostIp) < 0 && ui->userTableWidget->rowCount() >= discovery::MaxModules) {
            if (!tableFullReported)
                std::fprintf(stderr, "device table full (%d rows): new modules are not listed until rows leave\n",
                             discovery::MaxModules);
            tableFullReported = true;
            continue;
        }

        addingRow = true;
        addDeviceRow(announcement->hostIp, announcement->dataPort, announcement->atPort, announcement->hostName);
        addingRow = false;
        lockNonNameCells();
        refreshPresence(announcement->hostIp);
    }
    if (udpSocket->hasPendingDatagrams() && !drainQueued) {
        drainQueued = true;
        QTimer::singleShot(0, this, [this] {
            drainQueued = false;
            processPendingDatagrams();
        });
    }
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
