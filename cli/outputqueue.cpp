#include "outputqueue.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace cli {

struct OutputQueue::Shared
{
    std::mutex mutex;
    std::condition_variable changed;
    QByteArray waiting;
    qint64 writing = 0; // bytes the thread has taken and not yet written
    qint64 lost = 0;
    bool failed = false;
    bool ending = false;
};

OutputQueue::OutputQueue(std::function<qint64(const char *, qint64)> write)
    : shared(std::make_shared<Shared>())
{
    std::thread([s = shared, write = std::move(write)] {
        std::unique_lock<std::mutex> lock(s->mutex);
        for (;;) {
            s->changed.wait(lock, [&s] { return !s->waiting.isEmpty() || s->ending; });
            if (s->waiting.isEmpty())
                return;
            const QByteArray bytes = std::exchange(s->waiting, QByteArray());
            s->writing = bytes.size();
            lock.unlock();
            qint64 done = 0;
            while (done < bytes.size()) {
                const qint64 n = write(bytes.constData() + done, bytes.size() - done);
                if (n <= 0)
                    break;
                done += n;
            }
            lock.lock();
            s->writing = 0;
            if (done < bytes.size()) {
                s->failed = true;
                s->lost += bytes.size() - done + s->waiting.size();
                s->waiting.clear();
            }
            s->changed.notify_all();
        }
    }).detach();
}

OutputQueue::~OutputQueue()
{
    const std::lock_guard<std::mutex> lock(shared->mutex);
    shared->ending = true;
    shared->lost += shared->waiting.size();
    shared->waiting.clear();
    shared->changed.notify_all();
}

void OutputQueue::write(const QByteArray &bytes)
{
    const std::lock_guard<std::mutex> lock(shared->mutex);
    if (shared->failed || shared->waiting.size() + bytes.size() > MaxQueuedBytes) {
        shared->lost += bytes.size();
        return;
    }
    shared->waiting += bytes;
    shared->changed.notify_all();
}

qint64 OutputQueue::finish(int ms)
{
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->changed.wait_for(lock, std::chrono::milliseconds(ms),
                             [this] { return shared->waiting.isEmpty() && shared->writing == 0; });
    return shared->lost + shared->waiting.size() + shared->writing;
}

bool OutputQueue::failed() const
{
    const std::lock_guard<std::mutex> lock(shared->mutex);
    return shared->failed;
}

} // namespace cli
