#include "interruptsignal.h"

#include "exitcodes.h"

#include <QFile>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace cli {

namespace {

// The signals that stop a run, each with the exit status a shell reports for a program it ended.
struct StopSignal
{
    int number;
    ExitCode status;
    struct sigaction previous;
};
StopSignal stopSignals[] = {{SIGINT, ExitInterrupted, {}}, {SIGTERM, ExitTerminated, {}}, {SIGHUP, ExitHangUp, {}}};

// A signal handler may only do async-signal-safe things: the first signal writes its number to
// this pipe; a second unlinks the files named beforehand and ends the program as the signal would.
int wakePipe[2] = {-1, -1};
volatile sig_atomic_t signalsSeen = 0;
QByteArray forcedEndFile;
QByteArray forcedEndDir;

void onStopSignal(int number)
{
    const int saved = errno;
    if (signalsSeen++ == 0) {
        const char byte = char(number);
        [[maybe_unused]] const ssize_t written = write(wakePipe[1], &byte, 1);
        errno = saved;
        return;
    }
    if (!forcedEndFile.isEmpty())
        unlink(forcedEndFile.constData());
    if (!forcedEndDir.isEmpty())
        rmdir(forcedEndDir.constData());
    signal(number, SIG_DFL);
    raise(number);
}

} // namespace

InterruptSignal::InterruptSignal()
{
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    signalsSeen = 0;
    notifier = std::make_unique<QSocketNotifier>(wakePipe[0], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (read(wakePipe[0], &byte, 1) > 0) {
            for (const StopSignal &s : stopSignals) {
                if (s.number == byte)
                    take(s.status);
            }
        }
    });
    for (StopSignal &s : stopSignals) {
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(s.number, &action, &s.previous);
    }
}

InterruptSignal::~InterruptSignal()
{
    if (!notifier)
        return;
    for (const StopSignal &s : stopSignals)
        sigaction(s.number, &s.previous, nullptr);
    notifier.reset();
    close(wakePipe[0]);
    close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
    forcedEndFile.clear();
    forcedEndDir.clear();
}

void InterruptSignal::removeOnForcedEnd(const QString &file, const QString &dir)
{
    // Blocked meanwhile, so that the handler never reads a half-assigned name.
    sigset_t block;
    sigset_t before;
    sigemptyset(&block);
    for (const StopSignal &s : stopSignals)
        sigaddset(&block, s.number);
    pthread_sigmask(SIG_BLOCK, &block, &before);
    forcedEndFile = QFile::encodeName(file);
    forcedEndDir = QFile::encodeName(dir);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

} // namespace cli
