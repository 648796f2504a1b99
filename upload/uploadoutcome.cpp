#include "uploadoutcome.h"

namespace upload {

UploadOutcome UploadOutcome::of(Kind kind)
{
    UploadOutcome o;
    o.kind = kind;
    return o;
}

UploadOutcome UploadOutcome::imageTooLarge(qint64 imageBytes, const Board &board)
{
    UploadOutcome o = of(Kind::ImageTooLarge);
    o.imageBytes = imageBytes;
    o.board = &board;
    return o;
}

UploadOutcome UploadOutcome::modeSwitchRefused(int command)
{
    UploadOutcome o = of(Kind::ModeSwitchRefused);
    o.command = command;
    return o;
}

UploadOutcome UploadOutcome::bootloaderSilent(const QString &step)
{
    UploadOutcome o = of(Kind::BootloaderSilent);
    o.step = step;
    return o;
}

UploadOutcome UploadOutcome::wrongReply(const QString &step, const QString &reply)
{
    UploadOutcome o = bootloaderSilent(step);
    o.kind = Kind::WrongReply;
    o.reply = reply;
    return o;
}

UploadOutcome UploadOutcome::stepFailed(const QString &step, const QString &wrongReply)
{
    return wrongReply.isEmpty() ? bootloaderSilent(step) : UploadOutcome::wrongReply(step, wrongReply);
}

UploadOutcome UploadOutcome::chipMismatch(const Board &chosen, const QByteArray &signature)
{
    UploadOutcome o = of(Kind::ChipMismatch);
    o.board = &chosen;
    o.signature = signature;
    o.found = findBoardBySignature(signature);
    return o;
}

UploadOutcome UploadOutcome::imageForOtherChip(const Board &chosen, const QString &imageChip)
{
    UploadOutcome o = of(Kind::ImageForOtherChip);
    o.board = &chosen;
    o.imageChip = imageChip;
    return o;
}

UploadOutcome UploadOutcome::pageNotAcknowledged(qint64 page, const QString &step,
                                                 const QString &reply)
{
    UploadOutcome o = of(Kind::PageNotAcknowledged);
    o.page = page;
    o.step = step;
    o.reply = reply;
    return o;
}

UploadOutcome UploadOutcome::verifyReadFailed(qint64 address)
{
    UploadOutcome o = of(Kind::VerifyReadFailed);
    o.address = address;
    return o;
}

UploadOutcome UploadOutcome::verifyMismatch(qint64 address)
{
    UploadOutcome o = of(Kind::VerifyMismatch);
    o.address = address;
    return o;
}

static QString afterPartialWrite(const UploadOutcome &o)
{
    return o.partlyWritten ? QStringLiteral(" after a partial write") : QString();
}

static QString hexAddress(qint64 address)
{
    return QStringLiteral("0x%1").arg(address, 5, 16, QLatin1Char('0'));
}

QString UploadOutcome::text() const
{
    switch (kind) {
    case Kind::NotRun:
        return QStringLiteral("upload not run");
    case Kind::Success:
        return QStringLiteral("upload complete");
    case Kind::UnknownBoard:
        return QStringLiteral("unknown board type");
    case Kind::ImageMissing:
        return QStringLiteral("image file cannot be opened");
    case Kind::ImageEmpty:
        return QStringLiteral("image file is empty");
    case Kind::ImageTooLarge:
        return QStringLiteral("image of %1 bytes is larger than the application area of a %2 (%3 bytes)")
            .arg(imageBytes)
            .arg(QLatin1String(board->name))
            .arg(board->applicationSize);
    case Kind::Incomplete:
        return QStringLiteral("upload ended before every page was acknowledged");
    case Kind::DataPortUnreachable:
        return QStringLiteral("module data port unreachable") + afterPartialWrite(*this);
    case Kind::AtPortUnreachable:
        return QStringLiteral("module AT-command port unreachable") + afterPartialWrite(*this);
    case Kind::ModeSwitchRefused:
        return QStringLiteral("module refused the upload mode at AT command %1").arg(command);
    case Kind::BootloaderSilent:
        return QStringLiteral("bootloader did not answer %1").arg(step);
    case Kind::WrongReply:
        return QStringLiteral("bootloader answered %1 wrongly (%2)").arg(step, reply);
    case Kind::PageNotAcknowledged:
        return reply.isEmpty()
                   ? QStringLiteral("page %1 not acknowledged (%2)").arg(page).arg(step)
                   : QStringLiteral("page %1 not acknowledged (%2: %3)").arg(page).arg(step, reply);
    case Kind::VerifyReadFailed:
        return QStringLiteral("verify: flash at %1 could not be read back").arg(hexAddress(address));
    case Kind::VerifyMismatch:
        return QStringLiteral("verify: flash differs from the image at %1").arg(hexAddress(address));
    case Kind::ChipMismatch: {
        const QString what = found ? QStringLiteral("an %1 (%2)").arg(QLatin1String(found->chip), QLatin1String(found->name))
                                   : QStringLiteral("an unknown chip (signature %1)")
                                         .arg(QString::fromLatin1(signature.toHex()));
        return QStringLiteral("the board answers as %1, not an %2 (%3)")
            .arg(what, QLatin1String(board->chip), QLatin1String(board->name));
    }
    case Kind::ImageForOtherChip:
        return QStringLiteral("the image is built for %1, not an %2 (%3)")
            .arg(imageChip, QLatin1String(board->chip), QLatin1String(board->name));
    }
    return QString();
}

} // namespace upload
