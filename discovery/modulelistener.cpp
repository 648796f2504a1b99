#include "modulelistener.h"

#include <QElapsedTimer>
#include <QNetworkInterface>

namespace discovery {

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

ModuleListener::ModuleListener(QObject *parent) : QObject(parent) {}

bool ModuleListener::listen(quint16 port, QString *error, const QHostAddress &address)
{
    udp.close();
    if (udp.bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return true;
    *error = udp.errorString();
    return false;
}

void ModuleListener::setRoster(std::function<bool(const QString &)> listed, std::function<int()> count)
{
    isListed = std::move(listed);
    listedCount = std::move(count);
}

QString ModuleListener::localIPv4Address()
{
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toString();
    }
    return QString();
}

void ModuleListener::readPending()
{
    if (dropOwnAddress && !ownAddressAge.isValid()) {
        ownAddress = localIPv4Address();
        ownAddressAge.start();
    } else if (dropOwnAddress && ownAddressAge.hasExpired(OwnAddressMs)) {
        ownAddress = localIPv4Address();
        ownAddressAge.restart();
    }
    QElapsedTimer slice;
    slice.start();
    // The first datagram is read whatever the time: a readyRead() answered without a read is the
    // last one (the socket waits for a read before it notifies again; on Windows the system
    // itself posts no new notice until one).
    for (int taken = 0; taken < DatagramBatch && (taken == 0 || slice.elapsed() < sliceMs) && udp.hasPendingDatagrams();
         ++taken) {
        QByteArray datagram;
        datagram.resize(int(qMax<qint64>(0, udp.pendingDatagramSize())));
        QHostAddress sender;
        if (udp.readDatagram(datagram.data(), datagram.size(), &sender) < 0)
            continue;
        take(datagram, sender);
    }
    // What is left comes with the socket's next readyRead(), which follows while datagrams wait.
    // A read of its own between readyRead()s could take the datagram a readyRead() is already on
    // its way for; that readyRead() would find nothing, and the socket would announce no more.
}

bool ModuleListener::take(const QByteArray &datagram, const QHostAddress &sender)
{
    if (dropOwnAddress && senderText(sender) == ownAddress)
        return false;
    const std::optional<Announcement> announcement = acceptAnnouncement(datagram);
    if (!announcement)
        return false;
    if (listedCount && listedCount() >= MaxModules && !isListed(announcement->hostIp)) {
        ++overflowCount;
        emit overflowed(announcement->hostIp);
        return false;
    }
    emit heard(*announcement);
    return true;
}

} // namespace discovery
