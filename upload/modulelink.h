#ifndef MODULELINK_H
#define MODULELINK_H

#include "boardtable.h"
#include "replypattern.h"
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
    // Called after every read of a reply: the bytes of that read, the count so far.
    using AttemptTrace = std::function<void(const QByteArray &attempt, qint64 count)>;

    static constexpr int ReadChunk = 100; // bytes, at most per read of a reply

    explicit ModuleLink(const UploadTimeouts &timeouts);
    ~ModuleLink();
    ModuleLink(const ModuleLink &) = delete;
    ModuleLink &operator=(const ModuleLink &) = delete;

    // Data port first, then the AT-command port; the second is not tried when the first fails.
    // Each handshake may take the whole connect time; a stop request ends the wait at once.
    Connect connectTo(const QString &ip, const QString &dataPort, const QString &atPort);

    // The two AT commands that hand the data port to the board's bootloader. 0 for success; 1 for
    // failure, with the command that got fewer than two bytes back (1 or 2) in *refusedCommand.
    quint8 modeSwitch(const Board &board, int *refusedCommand);

    // One request and its reply on the data port. Bytes already waiting are discarded first:
    // they answer nothing asked now (an application printing on the board's serial line). The
    // request is written once; the reply is collected, however many pieces it comes in, until
    // it has the pattern's length or timeMs have passed, and bytes that come with it beyond
    // that length make it wrong. 0 when the reply matches the pattern; 1 otherwise, with
    // "expected ..., got ..." on standard error. *reply, if given, receives what came.
    quint8 exchange(const QByteArray &request, const ReplyPattern &pattern, int timeMs,
                    const AttemptTrace &trace = {}, QByteArray *reply = nullptr);
    // exchange() in two halves, for requests sent together in one write (discarding what was
    // waiting first) and their replies collected one after the other, each as exchange() does.
    // With another reply behind, no byte beyond this reply's length is read: what follows is
    // the next reply's, right or wrong (in one stream a byte too many here cannot be told from
    // a wrong start of the next).
    enum class Behind { Nothing, AnotherReply };
    void send(const QByteArray &requests);
    quint8 receive(const ReplyPattern &pattern, int timeMs, const AttemptTrace &trace = {},
                   QByteArray *reply = nullptr, Behind behind = Behind::Nothing);
    // The diagnostic of the last exchange if a reply came and was wrong; empty if it was right
    // or the time ran out before a wrong byte came.
    QString wrongReply() const { return lastWrongReply; }

    // Up to ReadChunk bytes that the data port has already received, without waiting.
    QByteArray readPending();

    // Closes both connections (again, if already closed) and releases them.
    void close();

    // Received bytes as the debug lines show them: up to the first zero byte.
    static QByteArray untilZero(const QByteArray &bytes);

private:
    void discardPending();

    UploadTimeouts timeouts;
    QString lastWrongReply;
    std::unique_ptr<QTcpSocket> atSocket;
    std::unique_ptr<QTcpSocket> dataSocket;
};

} // namespace upload

#endif // MODULELINK_H
