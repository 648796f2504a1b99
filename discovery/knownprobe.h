#ifndef KNOWNPROBE_H
#define KNOWNPROBE_H

#include "announcement.h"
#include "knownmodules.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <functional>

class QTcpSocket;

namespace discovery {

// Asks the known modules whether they are there, since they do not announce themselves here: a
// TCP connection to each one's AT-command port, closed as soon as it is accepted. A module whose
// port accepts is reported with answered(), as if it had announced itself, so whatever takes
// announcements takes it too (the window's rows and presence, a scan, a discovery that lists
// ports). Never more than one probe per module at a time. Lives on the thread that owns it and
// needs its event loop; knows no widgets.
class KnownModuleProbe : public QObject
{
    Q_OBJECT

public:
    static const int ProbeInterval = 2000; // ms between the starts of two rounds
    static const int ProbeTimeout = 1500;  // ms a module has to accept; shorter than a round

    explicit KnownModuleProbe(QObject *parent = nullptr);
    ~KnownModuleProbe() override;

    // The modules to ask from now on; probes of modules no longer listed are dropped.
    void setModules(const QVector<KnownModule> &modules);
    const QVector<KnownModule> &modules() const { return known; }

    // Which modules this program is using (an upload holds a module's one AT-command connection,
    // so a probe would be refused): they count as answering, and no probe disturbs them.
    void setBusyRule(std::function<bool(const QString &ip)> isBusy);

    // One round now and one every ProbeInterval, until stop().
    void start();
    void stop();
    // One round: a probe for every module that has none under way.
    void probeAll();
    // Probes under way.
    int inFlight() const { return probes.size(); }

signals:
    // The module accepted a connection on its AT-command port, or is busy with this program.
    void answered(const discovery::Announcement &module);
    // The connection was refused or not accepted within ProbeTimeout.
    void unanswered(const QString &ip);
    // The last probe under way ended.
    void idle();

private:
    void finish(QTcpSocket *socket, bool accepted);

    QVector<KnownModule> known;
    std::function<bool(const QString &)> busy;
    QHash<QTcpSocket *, KnownModule> probes; // under way
    QTimer rounds;
};

} // namespace discovery

Q_DECLARE_METATYPE(discovery::Announcement)

#endif // KNOWNPROBE_H
