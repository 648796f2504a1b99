#ifndef MODULEWORK_H
#define MODULEWORK_H

#include <QHash>
#include <QList>
#include <QString>

namespace monitor {
class MonitorConnection;
}

class QThread;

namespace upload {
class Thread;
}

// What runs on each module, keyed by its IP text (the row key): its uploads (a module that left
// and came back may have a second), the identification of its board, and its serial monitor. The module's data port serves one
// client at a time, so the two take turns: an upload that starts makes the module's monitor let
// go of the port, and the monitor connects again once the module's last upload has ended. The
// one answer to "is this module busy". Knows no widgets and owns nothing; the window keeps it on
// its thread.
class ModuleWork
{
public:
    // An identification holds the module's ports as an upload does: the monitor lets go of the
    // data port for it, and connects again once it has ended.
    void identifyStarted(const QString &ip, QThread *worker);
    void identifyEnded(QThread *worker);

    // Before the worker starts: the module's monitor, if any, lets go of the data port first
    // (returns once the port is free). True when it let go of a port it held or was taking: the
    // module then refuses the upload's connection until it has taken the close in.
    bool uploadStarted(const QString &ip, upload::Thread *worker);
    // The worker has finished (its verdict came before); it leaves the registry, and the module's
    // monitor connects again when no other upload runs on it.
    void uploadEnded(upload::Thread *worker);

    // The module's monitor; it connects now, or once the module's uploads have ended.
    void addMonitor(const QString &ip, monitor::MonitorConnection *monitor);
    void removeMonitor(const QString &ip);

    bool busy(const QString &ip) const;
    // An upload or an identification holds the module's data and AT-command ports.
    bool portsHeld(const QString &ip) const;
    // The worker most recently started and still running; null when none is.
    upload::Thread *uploadThread() const { return latest; }
    // Every upload still running, for the window's shutdown.
    QList<upload::Thread *> uploads() const;
    QList<QThread *> identifications() const;

private:
    struct Work
    {
        QList<upload::Thread *> uploads;
        QList<QThread *> identifications;
        monitor::MonitorConnection *monitor = nullptr;
        bool portsHeld() const { return !uploads.isEmpty() || !identifications.isEmpty(); }
    };
    void forgetIfIdle(QHash<QString, Work>::iterator it);
    QHash<QString, Work> byModule;
    upload::Thread *latest = nullptr;
};

#endif // MODULEWORK_H
