#ifndef IDENTIFICATION_H
#define IDENTIFICATION_H

#include "boardtable.h"
#include "uploadoutcome.h"
#include "uploadtimeouts.h"

#include <QByteArray>
#include <QString>
#include <QThread>

namespace upload {

// What is behind a module: the bootloader that answers and the chip it programs, found without
// writing the flash. The module is switched to upload mode (the board resets into its
// bootloader), the bootloader found through whatever the application still prints (STK500v1
// first, within Optiboot's wait, else STK500v2), its signature read, and programming mode left
// so that the application starts again.
struct Identification
{
    enum class Result {
        Identified,   // board: the first board type with the chip
        UnknownChip,  // a bootloader answered with a signature no board type has
        NoBootloader, // failure: the mode switch refused, or no bootloader answered
        Unreachable,  // failure: the data or AT-command port did not accept the connection
    };

    Result result = Result::NoBootloader;
    Protocol protocol = Protocol::Stk500v1; // of the bootloader that answered
    QByteArray signature;                   // 3 bytes, when one answered
    const Board *board = nullptr;
    UploadOutcome failure;
    bool left = false; // the bootloader confirmed leaving programming mode

    bool answered() const { return result == Result::Identified || result == Result::UnknownChip; }
    // "stk500v1" or "stk500v2"
    QString protocolName() const;
    QString signatureHex() const { return QString::fromLatin1(signature.toHex()); } // "1e950f"
    // One line: "UNO (ATmega328P, signature 1e950f, stk500v1)", or what failed.
    QString text() const;
};

// Blocking, on the calling thread, which owns the connections for the run; a stop request
// (QThread::requestInterruption) ends it early.
Identification identifyBoard(const QString &ip, quint16 dataPort, quint16 atPort, const UploadTimeouts &timeouts);

// The board type to keep for a module identified as `found` when `kept` was kept for it: `kept`
// when it has the same chip (MEGA2560, zariV3 and zureD0 share the ATmega2560, so the chip
// cannot tell them apart and the user's last choice stands), else `found`.
const Board &boardToKeep(const Board &found, const Board *kept);

// identifyBoard() for the window: on a thread of its own, which owns its sockets; the result
// comes through the signal only.
class IdentifyThread : public QThread
{
    Q_OBJECT

public:
    IdentifyThread(QString ip, quint16 dataPort, quint16 atPort);

signals:
    // The board type found (empty when none was), one line for a person (what was found, or why
    // nothing was), and the Identification::Result as an int.
    void identified(QString ip, QString board, QString text, int result);

protected:
    void run() override;

private:
    QString ip;
    quint16 dataPort;
    quint16 atPort;
};

} // namespace upload

#endif // IDENTIFICATION_H
