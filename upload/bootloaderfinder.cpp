#include "bootloaderfinder.h"

#include "atsession.h"
#include "datapipe.h"

#include <QDebug>
#include <QDeadlineTimer>
#include <QElapsedTimer>
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
    int attemptMs = timeouts.syncAttempt;
    int waitMs = timeouts.bootloaderWait;
    for (bool again = false;; again = true) {
        const Search chosen = search(board, attemptMs, waitMs);
        if (chosen == Search::ModeSwitchRefused) {
            found.reset();
            return 1;
        }
        if (chosen == Search::NotFound && !again)
            return findOther(board);
        if (chosen == Search::Answered && startUp() == 0)
            return 0;
        // An answer that came only to a later try may have been to an earlier one, read late (a
        // slow line, a board behind its time): the later try's bytes then overran the receiver
        // and the bootloader left, or its replies run one behind. Once more from a new reset, with
        // one try that waits the whole wait and as long again as that answer took: nothing can
        // join it unread, and a bootloader that answered once is known to be there (the other
        // protocol's is not looked for).
        if (chosen == Search::NotFound || !answeredLate || again || stopRequested()) {
            if (chosen != Search::Answered)
                greetingFailed();
            found.reset();
            return 1;
        }
        waitMs = int(timeouts.bootloaderWait + answerMs);
        attemptMs = waitMs;
        qDebug() << "the bootloader answered after" << answerMs << "ms, at a later try, and was lost; again,"
                 << "with one try of" << waitMs << "ms";
    }
}

quint8 BootloaderFinder::findOther(const Board &board)
{
    greetingFailed();
    const UploadOutcome notFound = failed;
    const Board &other = firstBoardOf(otherProtocol(board.protocol));
    if (stopRequested()
        || (!answersOnThisReset(other)
            && search(other, timeouts.syncAttempt, timeouts.bootloaderWait) != Search::Answered)) {
        failed = notFound;
        found.reset();
        return 1;
    }
    qDebug() << "a bootloader of the other protocol answers:" << found->greetingStep();
    return startUp();
}

quint8 BootloaderFinder::startUp()
{
    if (found->startup(&chipSignature) == 0)
        return 0;
    failed = UploadOutcome::stepFailed(found->failedStep(), pipe.wrongReply());
    return 1;
}

void BootloaderFinder::greetingFailed()
{
    failed = UploadOutcome::stepFailed(found->greetingStep(), pipe.wrongReply());
    fprintf(stderr, "%s\n", qPrintable(pipe.lastMismatch()));
    found->greetingFailed();
}

BootloaderFinder::Search BootloaderFinder::search(const Board &board, int attemptMs, int waitMs)
{
    found = BootloaderDriver::create(board, pipe, timeouts);
    int refusedCommand = 0;
    if (at.modeSwitch(board, &refusedCommand) != 0) {
        failed = UploadOutcome::modeSwitchRefused(refusedCommand);
        return Search::ModeSwitchRefused;
    }
    answeredLate = false;
    const QDeadlineTimer wait(waitMs);
    // What the application sent before the reset, still on its way, answers nothing.
    const qint64 dropped = pipe.discardUntilQuiet(timeouts.quiet, QDeadlineTimer(), wait);
    qDebug() << "dropped before" << found->greetingStep() << "=" << dropped;
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    for (int tries = 1;; ++tries) {
        const QDeadlineTimer attempt(attemptMs);
        if (found->greet(attemptMs) == 0) {
            answerMs = sinceFirst.elapsed();
            answeredLate = tries > 1;
            qDebug() << found->greetingStep() << "answered at try" << tries;
            return answeredLate && !confirmed(attemptMs) ? Search::Lost : Search::Answered;
        }
        if (wait.hasExpired() || stopRequested())
            return Search::NotFound;
        // A wrong reply goes with all that follows it, and the try's whole time passes first.
        pipe.discardUntilQuiet(timeouts.quiet, attempt, wait);
        if (wait.hasExpired() || stopRequested())
            return Search::NotFound;
    }
}

bool BootloaderFinder::confirmed(int attemptMs)
{
    // The answer may be to an earlier try that the bootloader read late (a slow line, a board
    // behind its time). The later try then has its own answer on the way, which the quiet line
    // drops, or its bytes overran the receiver: Optiboot, left with a broken command, starts the
    // application, and no greeting is answered any more.
    pipe.discardUntilQuiet(timeouts.quiet, QDeadlineTimer(), QDeadlineTimer(attemptMs));
    return found->greet(attemptMs) == 0;
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
