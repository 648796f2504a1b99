#ifndef BOOTLOADERFINDER_H
#define BOOTLOADERFINDER_H

#include "boardtable.h"
#include "bootloaderdriver.h"
#include "uploadoutcome.h"
#include "uploadtimeouts.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace upload {

class AtSession;
class DataPipe;

// Finds the bootloader behind a module and the chip it programs, through whatever the board's
// application still prints: switches the module to upload mode (which resets the board), drops
// what comes until the line is quiet, and tries get sync or sign-on again, each reply taken only
// when it is exactly the expected one, for as long as the bootloader waits after a reset. When
// the chosen protocol's bootloader does not answer, the other protocol's is tried (an STK500v2
// bootloader on the same reset first, else after a second mode switch), so a board of the other
// type is named within seconds. Blocking, on the thread that
// owns the pipe and the session.
//
//     BootloaderFinder finder(pipe, at, timeouts);
//     if (finder.find(firstBoardOf(Protocol::Stk500v1)) == 0) {
//         show(finder.driver()->board().protocol, finder.signature(), finder.foundBoard());
//         finder.leave(); // the application starts again
//     }
class BootloaderFinder
{
public:
    BootloaderFinder(DataPipe &pipe, AtSession &at, const UploadTimeouts &timeouts);
    ~BootloaderFinder();
    BootloaderFinder(const BootloaderFinder &) = delete;
    BootloaderFinder &operator=(const BootloaderFinder &) = delete;

    // Finds `board`'s protocol, else the other, and runs the start-up steps of the one that
    // answers. 0 when a bootloader is in programming mode: driver(), signature() and foundBoard()
    // tell which; 1 otherwise, with failure() (the module refused the mode switch; the chosen
    // protocol's bootloader did not answer, or answered wrongly; a start-up step failed).
    quint8 find(const Board &board);

    // The driver of the protocol that answered; null before find() and after its failure.
    BootloaderDriver *driver() const { return found.get(); }
    QByteArray signature() const { return chipSignature; } // 3 bytes
    // The first board type with that chip; null when the board table has none.
    const Board *foundBoard() const { return findBoardBySignature(chipSignature); }
    UploadOutcome failure() const { return failed; }

    // Leaves programming mode so that the board's application starts again. 0 when the
    // bootloader confirmed it.
    quint8 leave();

private:
    enum class Search { Answered, NotFound, Lost, ModeSwitchRefused };
    // Mode switch as for `board`, then its protocol's greeting through the noise for waitMs, each
    // try waiting attemptMs. Lost: the bootloader answered a repeated greeting but not the one
    // that confirms it.
    Search search(const Board &board, int attemptMs, int waitMs);
    // After an answer to a repeated greeting: whether the bootloader still listens.
    bool confirmed(int attemptMs);
    // The search for `board`'s protocol found nothing: the other protocol's bootloader, started up.
    quint8 findOther(const Board &board);
    // The found driver's start-up steps; 0 in programming mode, else 1 with failure().
    quint8 startUp();
    // Records that the greeting found no bootloader, and says so on standard error.
    void greetingFailed();
    // After the search for the other protocol's bootloader failed: `other`'s greeting, once, on
    // the reset that search made.
    bool answersOnThisReset(const Board &other);

    DataPipe &pipe;
    AtSession &at;
    const UploadTimeouts timeouts;
    std::unique_ptr<BootloaderDriver> found;
    QByteArray chipSignature;
    UploadOutcome failed;
    qint64 answerMs = 0;       // from the search's first try to the answer
    bool answeredLate = false; // the answer came to a later try
};

} // namespace upload

#endif // BOOTLOADERFINDER_H
