#ifndef CLI_OUTPUTQUEUE_H
#define CLI_OUTPUTQUEUE_H

#include <QByteArray>

#include <functional>
#include <memory>

namespace cli {

// Standard output written by a thread of its own, so that a reader who does not read (a full
// pipe, a paused terminal) never holds up the event loop: a monitor still ends on time and on
// Ctrl-C. At most MaxQueuedBytes wait; bytes beyond that are dropped and counted. The thread is
// never joined: one blocked in a write ends with the process.
class OutputQueue
{
public:
    static const int MaxQueuedBytes = 1 << 20;
    static const int FinishWait = 500; // ms finish() gives a reader to take what waits

    // `write` as platform::writeStandardOutput(): the bytes written, or -1.
    explicit OutputQueue(std::function<qint64(const char *, qint64)> write);
    ~OutputQueue();
    OutputQueue(const OutputQueue &) = delete;
    OutputQueue &operator=(const OutputQueue &) = delete;

    void write(const QByteArray &bytes);
    // Waits at most `ms` for what waits to be written. The bytes that were not written (dropped,
    // still waiting, or refused by the stream): 0 when all got out.
    qint64 finish(int ms);
    // The stream refused a write; what came after was dropped.
    bool failed() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};

} // namespace cli

#endif // CLI_OUTPUTQUEUE_H
