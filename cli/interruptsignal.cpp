#include "interruptsignal.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

// A signal handler may only do async-signal-safe things: it writes one byte to this pipe.
int wakePipe[2] = {-1, -1};
struct sigaction previous = {};

void onSigint(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(wakePipe[1], &byte, 1);
    errno = saved;
}

} // namespace

InterruptSignal::InterruptSignal()
{
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = std::make_unique<QSocketNotifier>(wakePipe[0], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (read(wakePipe[0], &byte, 1) > 0) {
        }
        emit interrupted();
    });
    struct sigaction action = {};
    action.sa_handler = onSigint;
    sigemptyset(&action.sa_mask);
    // The handler runs once; a second Ctrl-C gets the default action and ends the program.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &previous);
}

InterruptSignal::~InterruptSignal()
{
    if (!notifier)
        return;
    sigaction(SIGINT, &previous, nullptr);
    notifier.reset();
    close(wakePipe[0]);
    close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
}

} // namespace cli
