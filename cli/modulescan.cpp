#include "modulescan.h"

#include <QTimer>

#include <algorithm>

namespace cli {

namespace {

// Sort key: the address as a number (the listener accepts only a dotted IPv4 "host ip").
bool earlier(const HeardModule &a, const HeardModule &b)
{
    return QHostAddress(a.announcement.hostIp).toIPv4Address()
           < QHostAddress(b.announcement.hostIp).toIPv4Address();
}

} // namespace

ModuleScan::ModuleScan()
{
    clock.start();
    listener.setRoster([this](const QString &ip) { return byIp.contains(ip); }, [this] { return int(byIp.size()); });
    connect(listener.socket(), &QUdpSocket::readyRead, &listener, &discovery::ModuleListener::readPending);
    connect(&listener, &discovery::ModuleListener::heard, this, &ModuleScan::record);
}

bool ModuleScan::listen(quint16 port, QString *error)
{
    return listener.listen(port, error);
}

bool ModuleScan::take(const QByteArray &datagram)
{
    return listener.take(datagram);
}

void ModuleScan::record(const discovery::Announcement &announcement)
{
    HeardModule &module = byIp[announcement.hostIp];
    module.announcement = announcement;
    module.lastHeardMs = clock.elapsed();
    emit heard(announcement.hostIp);
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
