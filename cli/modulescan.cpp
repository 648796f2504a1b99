#include "modulescan.h"

#include <QTimer>

#include <algorithm>

namespace cli {

namespace {

// Sort key: the address as a number (take() keeps only announcements with a dotted IPv4 "host ip").
bool earlier(const HeardModule &a, const HeardModule &b)
{
    return QHostAddress(a.announcement.hostIp).toIPv4Address()
           < QHostAddress(b.announcement.hostIp).toIPv4Address();
}

} // namespace

ModuleScan::ModuleScan()
{
    clock.start();
    connect(&socket, &QUdpSocket::readyRead, this, &ModuleScan::readPending);
}

bool ModuleScan::listen(quint16 port, QString *error)
{
    if (socket.bind(port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return true;
    *error = socket.errorString();
    return false;
}

bool ModuleScan::take(const QByteArray &datagram)
{
    const std::optional<discovery::Announcement> announcement = discovery::acceptAnnouncement(datagram);
    if (!announcement)
        return false;
    auto it = byIp.find(announcement->hostIp);
    if (it == byIp.end()) {
        if (byIp.size() >= MaxModules) {
            ++overflowCount;
            return false;
        }
        it = byIp.insert(announcement->hostIp, HeardModule());
    }
    it->announcement = *announcement;
    it->lastHeardMs = clock.elapsed();
    emit heard(announcement->hostIp);
    return true;
}

void ModuleScan::readPending()
{
    while (socket.hasPendingDatagrams()) {
        QByteArray datagram;
        datagram.resize(int(qMax<qint64>(0, socket.pendingDatagramSize())));
        if (socket.readDatagram(datagram.data(), datagram.size()) < 0)
            continue;
        take(datagram);
    }
}

void ModuleScan::runLoop(QEventLoop *loop, int ms)
{
    if (stopped)
        return;
    QTimer::singleShot(ms, loop, &QEventLoop::quit);
    waiting = loop;
    loop->exec();
    waiting = nullptr;
}

void ModuleScan::interrupt()
{
    stopped = true;
    if (waiting)
        waiting->quit();
}

void ModuleScan::listenFor(int ms)
{
    QEventLoop loop;
    runLoop(&loop, ms);
}

std::optional<discovery::Announcement> ModuleScan::waitFor(const QHostAddress &ip, int ms)
{
    const auto find = [this, &ip]() -> std::optional<discovery::Announcement> {
        for (const HeardModule &module : qAsConst(byIp)) {
            if (QHostAddress(module.announcement.hostIp) == ip)
                return module.announcement;
        }
        return std::nullopt;
    };
    if (auto known = find())
        return known;
    QEventLoop loop;
    connect(this, &ModuleScan::heard, &loop, [&loop, &ip](const QString &hostIp) {
        if (QHostAddress(hostIp) == ip)
            loop.quit();
    });
    runLoop(&loop, ms);
    return find();
}

QVector<HeardModule> ModuleScan::modules() const
{
    QVector<HeardModule> list;
    list.reserve(byIp.size());
    for (const HeardModule &module : byIp)
        list.append(module);
    std::sort(list.begin(), list.end(), earlier);
    return list;
}

} // namespace cli
