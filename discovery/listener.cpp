#include "widget.h"

#include "announcement.h"

#include <QNetworkInterface>
#include <QUdpSocket>

namespace {

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
    const QString ownAddress = localIPv4Address();
    while (udpSocket->hasPendingDatagrams()) {
        QByteArray datagram;
        datagram.resize(int(qMax<qint64>(0, udpSocket->pendingDatagramSize())));
        QHostAddress sender;
        quint16 senderPort = 0;
        if (udpSocket->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort) < 0)
            continue;

        if (sweepRunning || senderText(sender) == ownAddress)
            continue;
        const std::optional<discovery::Announcement> announcement = discovery::readAnnouncement(datagram);
        if (!announcement || announcement->hostIp.isEmpty())
            continue;

        addingRow = true;
        addDeviceRow(announcement->hostIp, announcement->dataPort, announcement->atPort, announcement->hostName);
        addingRow = false;
        lockNonNameCells();
        refreshPresence(announcement->hostIp);
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
