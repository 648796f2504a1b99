#ifndef MODULELINK_H
#define MODULELINK_H

#include "boardtable.h"
#include "uploadtimeouts.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QTcpSocket;

namespace upload {

// The worker's two connections to one module: the data port (a pipe to the board's bootloader)
// and the AT-command port; blocking use on the thread that created it.
class ModuleLink
{
public:
    enum class Connect { Connected, DataPortUnreachable, AtPortUnreachable };
    // Called after every read attempt of an exchange: the bytes of that attempt, the count so far.
    using AttemptTrace = std::function<void(const QByteArray &attempt, qint64 count)>;

    static constexpr int ReadChunk = 100; // bytes, at most per read of a reply

    explicit ModuleLink(const UploadTimeouts &timeouts);
    ~ModuleLink();
    ModuleLink(const ModuleLink &) = delete;
    ModuleLink &operator=(const ModuleLink &) = delete;

    // Data port first, then the AT-command port; the second is not tried when the first fails.
    Connect connectTo(const QString &ip, const QString &dataPort, const QString &atPort);

    // The two AT commands that hand the data port to the board's bootloader. 0 for success; 1 for
    // failure, with the command that got fewer than two bytes back (1 or 2) in *refusedCommand.
    quint8 modeSwitch(const Board &board, int *refusedCommand);

    // The counted exchange on the data port: writes the request once, then makes up to
    // `attempts` reads, each after waiting up to waitMs for data, until the reply bytes add up
    // to `expected` exactly. 0 for success, 1 for failure.
    quint8 exchange(const QByteArray &request, qint64 expected, int waitMs, int attempts,
                    const AttemptTrace &trace = {});

    // For a reply read for its content, however many pieces it comes in: writes the request,
    // then collects the reply into *reply until it holds `expected` bytes. 1 when waitMs pass
    // without a byte, or when more than `expected` bytes arrive.
    quint8 fetch(const QByteArray &request, qint64 expected, int waitMs, QByteArray *reply);

    // Up to ReadChunk bytes that the data port has already received, without waiting.
    QByteArray readPending();

    // Closes both connections (again, if already closed) and releases them.
    void close();

    // Received bytes as the debug lines show them: up to the first zero byte.
    static QByteArray untilZero(const QByteArray &bytes);

private:
    UploadTimeouts timeouts;
    std::unique_ptr<QTcpSocket> atSocket;
    std::unique_ptr<QTcpSocket> dataSocket;
};

} // namespace upload

#endif // MODULELINK_H
