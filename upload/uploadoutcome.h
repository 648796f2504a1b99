#ifndef UPLOADOUTCOME_H
#define UPLOADOUTCOME_H

#include "boardtable.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace upload {

// What one upload run came to, and where; readable once the worker has finished.
struct UploadOutcome
{
    enum class Kind {
        NotRun,
        Success,
        UnknownBoard,
        ImageMissing,
        ImageEmpty,
        ImageTooLarge, // imageBytes, board: larger than the board's application area
        Incomplete, // the page loop ended short of the image with no failed step (a guard: never "Successful")
        DataPortUnreachable,
        AtPortUnreachable,
        ModeSwitchRefused,   // command: 1 or 2
        BootloaderSilent,    // step: the command that got no complete reply
        WrongReply,          // step, reply: the command whose reply was not its answer
        PageNotAcknowledged, // page, step: "load address" or "program page"; reply if wrong
        VerifyReadFailed,    // address: start of the page that could not be read back
        VerifyMismatch,      // address: first flash byte that differs from the image
        // board (the chosen), signature, found (the board type of that signature, if any): the
        // chip answers as another; nothing was written
        ChipMismatch,
        // board (the chosen), imageChip: the build output beside the HEX file says the image is
        // for another chip; nothing was sent
        ImageForOtherChip,
    };

    Kind kind = Kind::NotRun;
    int command = 0;
    QString step;
    QString reply; // what a wrong reply was: "expected 14 10, got 15 15"
    qint64 page = -1;
    qint64 address = -1;
    qint64 imageBytes = -1;
    const Board *board = nullptr; // a row of the board table
    const Board *found = nullptr; // the row of the chip that answered
    QByteArray signature;         // the chip's, as read
    QString imageChip;            // the chip the image is built for: "an ATmega328P (UNO)"
    // With an unreachable module: a resumed run lost it after pages had gone out, so the flash
    // may hold part of the image; the board is not untouched.
    bool partlyWritten = false;

    bool succeeded() const { return kind == Kind::Success; }
    // One line for a person, for example "page 3 not acknowledged (program page)".
    QString text() const;

    static UploadOutcome of(Kind kind);
    static UploadOutcome imageTooLarge(qint64 imageBytes, const Board &board);
    static UploadOutcome modeSwitchRefused(int command);
    static UploadOutcome bootloaderSilent(const QString &step);
    // Silent when wrongReply is empty, else a wrong reply.
    static UploadOutcome stepFailed(const QString &step, const QString &wrongReply);
    static UploadOutcome chipMismatch(const Board &chosen, const QByteArray &signature);
    static UploadOutcome imageForOtherChip(const Board &chosen, const QString &imageChip);
    static UploadOutcome wrongReply(const QString &step, const QString &reply);
    static UploadOutcome pageNotAcknowledged(qint64 page, const QString &step,
                                             const QString &reply = QString());
    static UploadOutcome verifyReadFailed(qint64 address);
    static UploadOutcome verifyMismatch(qint64 address);
};

} // namespace upload

#endif // UPLOADOUTCOME_H
