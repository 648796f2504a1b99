#ifndef HANDOVER_H
#define HANDOVER_H

#include "modulesocket.h"

#include <QString>

namespace upload {

// When this system's programs (the window, `quarnel-cli monitor`, `quarnel-cli upload`, the
// pluggable monitor) last let go of a module's data port, kept in a small file beside the known
// modules so that another of them may take the port over: the module listens again only a
// moment after its client left, and a connection refused within that moment is no busy port.
// One line per port, "MS IP PORT" (MS: milliseconds since the epoch, UTC); a line that does not
// read so is skipped. At most MaxEntries, the newest. Writers take turns through a lock file.
class Handover
{
public:
    static const int MaxEntries = 64;
    static const qint64 RecentMs = 3000; // a let-go this recent is a hand-over: one connect wait

    explicit Handover(const QString &path = defaultPath());

    // handovers.txt in the folder of discovery::KnownModules::defaultPath().
    static QString defaultPath();

    // This program let go of ip:port at nowMs. False when the file could not be written (the
    // next connection to the port is then refused at once, as any other).
    bool noteLetGo(const QString &ip, quint16 port, qint64 nowMs);
    // Whether a program let go of ip:port within RecentMs before nowMs.
    bool letGoRecently(const QString &ip, quint16 port, qint64 nowMs) const;

    // Refusal::Retried when `given` says so or the default file records a recent let-go of ip:port.
    static Refusal refusalFor(const QString &ip, quint16 port, Refusal given = Refusal::Fails);

private:
    QString filePath;
};

} // namespace upload

#endif // HANDOVER_H
