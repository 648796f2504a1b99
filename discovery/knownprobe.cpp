#include "knownprobe.h"

#include <QHostAddress>
#include <QSet>
#include <QTcpSocket>

#include <algorithm>
#include <utility>

namespace discovery {

KnownModuleProbe::KnownModuleProbe(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<discovery::Announcement>();
    rounds.setInterval(ProbeInterval);
    connect(&rounds, &QTimer::timeout, this, &KnownModuleProbe::probeAll);
}

KnownModuleProbe::~KnownModuleProbe()
{
    for (QTcpSocket *socket : probes.keys()) {
        socket->disconnect(this);
        delete socket;
    }
}

void KnownModuleProbe::setModules(const QVector<KnownModule> &modules)
{
    known = modules;
    const int before = probes.size();
    for (QTcpSocket *socket : probes.keys()) {
        const QString ip = probes.value(socket).ip;
        if (std::none_of(known.begin(), known.end(), [&ip](const KnownModule &m) { return m.ip == ip; })) {
            probes.remove(socket);
            socket->disconnect(this);
            socket->deleteLater();
        }
    }
    if (probes.isEmpty() && before > 0)
        emit idle();
}

void KnownModuleProbe::setBusyRule(std::function<bool(const QString &)> isBusy)
{
    busy = std::move(isBusy);
}

void KnownModuleProbe::start()
{
    rounds.start();
    probeAll();
}

void KnownModuleProbe::stop()
{
    rounds.stop();
}

void KnownModuleProbe::probeAll()
{
    QSet<QString> underway;
    for (const KnownModule &module : qAsConst(probes))
        underway.insert(module.ip);
    for (const KnownModule &module : qAsConst(known)) {
        if (busy && busy(module.ip)) {
            emit answered(module.announcement());
            continue;
        }
        if (underway.contains(module.ip))
            continue;
        auto *socket = new QTcpSocket(this);
        probes.insert(socket, module);
        connect(socket, &QTcpSocket::connected, this, [this, socket] { finish(socket, true); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { finish(socket, false); });
        QTimer::singleShot(ProbeTimeout, socket, [this, socket] { finish(socket, false); });
        socket->connectToHost(QHostAddress(module.ip), module.atPort);
    }
}

void KnownModuleProbe::finish(QTcpSocket *socket, bool accepted)
{
    if (!probes.contains(socket))
        return;
    const KnownModule module = probes.take(socket);
    socket->disconnect(this);
    // Closed at once: the module serves one client at a time, and an upload may come next.
    socket->abort();
    socket->deleteLater();
    if (accepted)
        emit answered(module.announcement());
    else
        emit unanswered(module.ip);
    if (probes.isEmpty())
        emit idle();
}

} // namespace discovery
