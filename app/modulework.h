#ifndef MODULEWORK_H
#define MODULEWORK_H

#include <QHash>
#include <QList>
#include <QString>

namespace upload {
class Thread;
}

// What runs on each module, keyed by its IP text (the row key): its uploads (a module that left
// and came back may have a second), later its monitor. The one answer to "is this module busy".
// Knows no widgets and owns nothing; the window keeps it on its thread.
class ModuleWork
{
public:
    void uploadStarted(const QString &ip, upload::Thread *worker);
    // The worker has finished; it leaves the registry.
    void uploadEnded(upload::Thread *worker);

    bool busy(const QString &ip) const;
    // The worker most recently started and still running; null when none is.
    upload::Thread *uploadThread() const { return latest; }
    // Every upload still running, for the window's shutdown.
    QList<upload::Thread *> uploads() const;

private:
    struct Work
    {
        QList<upload::Thread *> uploads;
    };
    QHash<QString, Work> byModule;
    upload::Thread *latest = nullptr;
};

#endif // MODULEWORK_H
