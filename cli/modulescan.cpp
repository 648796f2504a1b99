#include "modulescan.h"

#include "recentmodules.h"

#include <QDateTime>
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
    connect(&probe, &discovery::KnownModuleProbe::answered, this, &ModuleScan::takeKnown);
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
    discovery::RecentModules::shared().note(announcement, QDateTime::currentMSecsSinceEpoch());
    HeardModule &module = byIp[announcement.hostIp];
    module.announcement = announcement;
    module.lastHeardMs = clock.elapsed();
    module.heard = true;
    module.known = knownIps.contains(announcement.hostIp);
    emit heard(announcement.hostIp);
}

void ModuleScan::probeKnown(const QVector<discovery::KnownModule> &modules)
{
    for (const discovery::KnownModule &module : modules)
        knownIps.insert(module.ip);
    probe.setModules(modules);
    probe.probeAll();
}

void ModuleScan::watchKnown(const QVector<discovery::KnownModule> &modules)
{
    probeKnown(modules);
    probe.start(); // its first round leaves alone the probes under way
}

void ModuleScan::takeKnown(const discovery::Announcement &known)
{
    // Not held to the row limit: the known modules are few (KnownModules::MaxEntries).
    knownIps.insert(known.hostIp);
    const auto it = byIp.find(known.hostIp);
    if (it != byIp.end()) {
        it->known = true;
    } else {
        HeardModule &module = byIp[known.hostIp];
        module.announcement = known;
        module.heard = false;
        module.known = true;
    }
    emit heard(known.hostIp);
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
