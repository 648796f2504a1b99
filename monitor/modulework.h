#ifndef MODULEWORK_H
#define MODULEWORK_H

#include <QHash>
#include <QString>

namespace monitor {

class MonitorConnection;

// What runs on each module of the window (keyed by its IP): an upload, a serial monitor, or
// both in turn. The module's data port serves one client at a time, so an upload that starts
// makes the module's monitor let go of it, and the monitor connects again once the upload has
// ended. The one place that knows what a module is busy with.
class ModuleWork
{
public:
    // The monitor of a module; it connects now, or once the module's upload has ended.
    void addMonitor(const QString &ip, MonitorConnection *monitor);
    void removeMonitor(const QString &ip);
    MonitorConnection *monitor(const QString &ip) const;

    // An upload is about to connect: the module's monitor, if any, lets go of the data port first
    // (returns once the port is free).
    void uploadStarting(const QString &ip);
    // The upload's verdict has come: the monitor connects again.
    void uploadEnded(const QString &ip);

private:
    struct Work
    {
        int uploads = 0; // running; the window starts at most one per row
        MonitorConnection *monitor = nullptr;
    };
    void forgetIfIdle(const QString &ip);

    QHash<QString, Work> byIp;
};

} // namespace monitor

#endif // MODULEWORK_H
