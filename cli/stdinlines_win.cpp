#include "stdinlines.h"

#include <QSocketNotifier>

#include <atomic>
#include <cstdio>
#include <thread>

namespace cli {

namespace {

// A console or pipe handle cannot be watched by the event loop on Windows: a thread of its own
// reads and queues what it read to the object's thread. It is never joined (a read of standard
// input cannot be called off); it ends with the process.
std::atomic<StdinLines *> listener{nullptr};

void readStdin()
{
    char buffer[4096];
    for (;;) {
        const bool got = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
        StdinLines *target = listener.load();
        if (!target)
            return;
        if (!got) {
            QMetaObject::invokeMethod(target, [target] { target->finish(); }, Qt::QueuedConnection);
            return;
        }
        const QByteArray bytes(buffer);
        QMetaObject::invokeMethod(target, [target, bytes] { target->take(bytes); }, Qt::QueuedConnection);
    }
}

} // namespace

StdinLines::StdinLines()
{
    listener = this;
    std::thread(readStdin).detach();
}

StdinLines::~StdinLines()
{
    listener = nullptr;
}

} // namespace cli
