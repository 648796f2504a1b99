#ifndef DATAPIPE_H
#define DATAPIPE_H

#include "modulesocket.h"
#include "replypattern.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTcpSocket;

namespace upload {

// The data port of one module: a byte pipe to the serial line of the board behind it. Owns its
// socket, on the thread that created the pipe. Two ways to use it, one at a time:
// - blocking, on a worker thread: connectTo(), then exchange() or send() and receive();
// - asynchronously, on a thread with an event loop (the window's): open(), then write(), with
//   the signals opened(), received() and closed().
class DataPipe : public QObject
{
    Q_OBJECT

public:
    // Called after every read of a reply: the bytes of that read, the count so far.
    using AttemptTrace = std::function<void(const QByteArray &attempt, qint64 count)>;

    static constexpr int ReadChunk = 100; // bytes, at most per read of a reply

    DataPipe();
    ~DataPipe() override;

    // Blocking: connects within timeoutMs (a stop request ends the wait at once), trying again
    // after a refusal as `refusal` says; true when the connection stands.
    bool connectTo(const QString &ip, quint16 port, int timeoutMs, Refusal refusal = Refusal::Fails);

    // One request and its reply. Bytes already waiting are discarded first: they answer nothing
    // asked now (an application printing on the board's serial line). The request is written
    // once; the reply is collected, however many pieces it comes in, until it has the pattern's
    // length or timeMs have passed, and bytes that come with it beyond that length make it wrong.
    // 0 when the reply matches the pattern; 1 otherwise, with "expected ..., got ..." on standard
    // error. *reply, if given, receives what came.
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
    // receive() as one try of several: a reply that does not come or comes wrong leaves no line
    // on standard error; lastMismatch() keeps it for the caller to show once it gives up.
    quint8 awaitReply(const ReplyPattern &pattern, int timeMs, const AttemptTrace &trace = {});
    // Reads and drops what the board sends until none has come for quietMs, but not before
    // `notBefore` has passed; gives up at `giveUp` (or a stop request). Returns the bytes dropped.
    qint64 discardUntilQuiet(int quietMs, const QDeadlineTimer &notBefore, const QDeadlineTimer &giveUp);
    // "expected ..., got ..." for the last reply that did not match; empty after a match.
    QString lastMismatch() const { return lastDiagnostic; }
    // The diagnostic of the last exchange if a reply came and was wrong; empty if it was right
    // or the time ran out before a wrong byte came.
    QString wrongReply() const { return lastWrongReply; }
    // Up to ReadChunk bytes that have already arrived, without waiting.
    QByteArray readPending();

    // Asynchronous: starts connecting and returns; opened() or closed() follows. A refused
    // attempt is made again as `retry` says, with no signal between attempts.
    void open(const QString &ip, quint16 port, const RefusalRetry &retry = {Refusal::Fails, 0});
    // Asynchronous: queues bytes for the board; false when the pipe is not open.
    bool write(const QByteArray &bytes);

    // Asynchronous side, blocking for at most waitMs: lets go of the port for another client.
    // Ends the sending half, hands on (received()) what the board still sends until the module
    // closes its side, then closes; the module's close is no closed(). Returns when the port is
    // free (or waitMs have passed).
    void letGo(int waitMs);

    // Closes the connection (again, if already closed). A connection that stood is recorded as
    // let go (Handover), so that another program of this system may take the port over.
    void close();

    // Received bytes as the debug lines show them: up to the first zero byte.
    static QByteArray untilZero(const QByteArray &bytes);

signals:
    void opened();
    void received(const QByteArray &bytes);
    // The connection was refused, or ended by the module; `reason` says which.
    void closed(const QString &reason);

private:
    void discardPending();
    quint8 collect(const ReplyPattern &pattern, int timeMs, const AttemptTrace &trace, QByteArray *reply,
                   Behind behind);

    std::unique_ptr<QTcpSocket> socket;
    QString heldIp;     // the port whose connection stood, until close()
    quint16 heldPort = 0;
    QString lastWrongReply;
    QString lastDiagnostic;
};

} // namespace upload

#endif // DATAPIPE_H
