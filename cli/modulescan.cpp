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
    connect(&probe, &discovery::KnownModuleProbe::answered, this, &ModuleScan::takeKnown);
}

bool ModuleScan::listen(quint16 port, QString *error)
{
    if (socket.bind(port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
        return true;
    *error = socket.errorString();
    return false;
}

HeardModule *ModuleScan::entry(const QString &ip)
{
    auto it = byIp.find(ip);
    if (it != byIp.end())
        return &*it;
    if (byIp.size() >= MaxModules) {
        ++overflowCount;
        return nullptr;
    }
    HeardModule &module = byIp[ip];
    module.known = knownIps.contains(ip);
    return &module;
}

bool ModuleScan::take(const QByteArray &datagram)
{
    const std::optional<discovery::Announcement> announcement = discovery::acceptAnnouncement(datagram);
    if (!announcement)
        return false;
    HeardModule *module = entry(announcement->hostIp);
    if (!module)
        return false;
    module->announcement = *announcement;
    module->lastHeardMs = clock.elapsed();
    module->heard = true;
    emit heard(announcement->hostIp);
    return true;
}

void ModuleScan::probeKnown(const QVector<discovery::KnownModule> &modules)
{
    for (const discovery::KnownModule &module : modules)
        knownIps.insert(module.ip);
    probe.setModules(modules);
    probe.probeAll();
}

void ModuleScan::takeKnown(const discovery::Announcement &known)
{
    knownIps.insert(known.hostIp);
    const bool listed = byIp.contains(known.hostIp);
    HeardModule *module = entry(known.hostIp);
    if (!module)
        return;
    module->known = true;
    if (listed)
        return;
    module->announcement = known;
    module->heard = false;
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
    if (probe.inFlight() == 0)
        return;
    // Each probe ends within its time-out.
    connect(&probe, &discovery::KnownModuleProbe::idle, &loop, &QEventLoop::quit);
    runLoop(&loop, discovery::KnownModuleProbe::ProbeTimeout);
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
