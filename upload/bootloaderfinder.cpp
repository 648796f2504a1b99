#include "bootloaderfinder.h"

#include "atsession.h"
#include "datapipe.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdio>

namespace upload {

namespace {

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

Protocol otherProtocol(Protocol protocol)
{
    return protocol == Protocol::Stk500v1 ? Protocol::Stk500v2 : Protocol::Stk500v1;
}

} // namespace

BootloaderFinder::BootloaderFinder(DataPipe &pipe, AtSession &at, const UploadTimeouts &timeouts)
    : pipe(pipe), at(at), timeouts(timeouts)
{
}

BootloaderFinder::~BootloaderFinder() = default;

quint8 BootloaderFinder::find(const Board &board)
{
    chipSignature.clear();
    failed = UploadOutcome();
    const Search chosen = search(board);
    if (chosen == Search::ModeSwitchRefused) {
        found.reset();
        return 1;
    }
    if (chosen == Search::NotFound) {
        failed = UploadOutcome::stepFailed(found->greetingStep(), pipe.wrongReply());
        fprintf(stderr, "%s\n", qPrintable(pipe.lastMismatch()));
        found->greetingFailed();
        const UploadOutcome notFound = failed;
        const Board &other = firstBoardOf(otherProtocol(board.protocol));
        if (stopRequested() || (!answersOnThisReset(other) && search(other) != Search::Answered)) {
            failed = notFound;
            found.reset();
            return 1;
        }
        qDebug() << "a bootloader of the other protocol answers:" << found->greetingStep();
    }
    if (found->startup(&chipSignature) != 0) {
        failed = UploadOutcome::stepFailed(found->failedStep(), pipe.wrongReply());
        found.reset();
        return 1;
    }
    return 0;
}

BootloaderFinder::Search BootloaderFinder::search(const Board &board)
{
    found = BootloaderDriver::create(board, pipe, timeouts);
    int refusedCommand = 0;
    if (at.modeSwitch(board, &refusedCommand) != 0) {
        failed = UploadOutcome::modeSwitchRefused(refusedCommand);
        return Search::ModeSwitchRefused;
    }
    const QDeadlineTimer wait(timeouts.bootloaderWait);
    // What the application sent before the reset, still on its way, answers nothing.
    const qint64 dropped = pipe.discardUntilQuiet(timeouts.quiet, QDeadlineTimer(), wait);
    qDebug() << "dropped before" << found->greetingStep() << "=" << dropped;
    for (int tries = 1;; ++tries) {
        const QDeadlineTimer attempt(timeouts.syncAttempt);
        if (found->greet(timeouts.syncAttempt) == 0) {
            qDebug() << found->greetingStep() << "answered at try" << tries;
            return Search::Answered;
        }
        if (wait.hasExpired() || stopRequested())
            return Search::NotFound;
        // A wrong reply goes with all that follows it, and the try's whole time passes first.
        pipe.discardUntilQuiet(timeouts.quiet, attempt, wait);
        if (wait.hasExpired() || stopRequested())
            return Search::NotFound;
    }
}

bool BootloaderFinder::answersOnThisReset(const Board &other)
{
    // Optiboot starts the application at the first bytes of the other protocol, so after its
    // search the board has to be reset again. The STK500v2 bootloader, though, stays in its loop
    // from the first byte it reads, whatever the byte, and passes over get sync: it still listens.
    if (other.protocol != Protocol::Stk500v2)
        return false;
    // The line is quiet (the bootloader runs); what the tries left waiting, the greeting drops.
    found = BootloaderDriver::create(other, pipe, timeouts);
    return found->greet(timeouts.syncAttempt) == 0;
}

quint8 BootloaderFinder::leave()
{
    return found ? found->leave() : 1;
}

} // namespace upload
