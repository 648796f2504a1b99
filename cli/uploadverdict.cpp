#include "uploadverdict.h"

#include "boardtable.h"
#include "exitcodes.h"

namespace cli {

namespace {

QString advice(const upload::UploadOutcome &outcome, const UploadTarget &t)
{
    using Kind = upload::UploadOutcome::Kind;
    switch (outcome.kind) {
    case Kind::DataPortUnreachable:
        return QStringLiteral("check that the module is on and on this network, that %1 is its data port "
                              "(quarnel-cli scan lists it) and that it is not busy: it serves one client at a "
                              "time, so no serial monitor or other program may hold it")
            .arg(t.dataPort);
    case Kind::AtPortUnreachable:
        return QStringLiteral("check that %1 is the module's AT-command port (quarnel-cli scan lists it) "
                              "and that no other program holds the connection")
            .arg(t.atPort);
    case Kind::ModeSwitchRefused:
        return QStringLiteral("check that port %1 is the module's AT-command port and that the module's "
                              "firmware answers AT+U2W and AT+MCUUPDATE")
            .arg(t.atPort);
    case Kind::BootloaderSilent:
    case Kind::WrongReply:
        return QStringLiteral("check that the board is a %1 (--board), that it has its serial bootloader, "
                              "and that the module's serial line reaches the board's reset and RX/TX")
            .arg(t.board);
    case Kind::ChipMismatch:
        if (outcome.found)
            return QStringLiteral("nothing was written; upload with --board %1 an image built for an %2")
                .arg(QLatin1String(outcome.found->name), QLatin1String(outcome.found->chip));
        return QStringLiteral("nothing was written; no board type has this chip");
    case Kind::ImageForOtherChip:
        return QStringLiteral("nothing was written; build the sketch for the %1, or choose the board type the "
                              "image is for")
            .arg(QLatin1String(outcome.board->name));
    case Kind::PageNotAcknowledged:
        return QStringLiteral("the link dropped or the bootloader stopped; check the Wi-Fi signal and the "
                              "board's power, then upload again");
    case Kind::VerifyReadFailed:
        return QStringLiteral("the flash may be written but is not confirmed; check the link and upload again");
    case Kind::VerifyMismatch:
        return QStringLiteral("the board acknowledged bytes it did not store; check that the image fits "
                              "below the bootloader, the board's power and its flash, then upload again");
    case Kind::ImageEmpty:
    case Kind::ImageTooLarge:
    case Kind::ImageMissing:
        return QStringLiteral("check that the HEX file is a program for a %1").arg(t.board);
    case Kind::Incomplete:
        return QStringLiteral("upload again");
    case Kind::UnknownBoard:
        return QStringLiteral("--board takes one of %1").arg(upload::boardNames().join(QLatin1String(", ")));
    case Kind::NotRun:
    case Kind::Success:
        break;
    }
    return QString();
}

int exitCodeOf(const upload::UploadOutcome &outcome)
{
    using Kind = upload::UploadOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Success:
        return ExitSuccess;
    case Kind::UnknownBoard:
        return ExitUsage;
    case Kind::ImageMissing:
    case Kind::ImageEmpty:
    case Kind::ImageTooLarge:
        return ExitFirmwareFile;
    case Kind::DataPortUnreachable:
    case Kind::AtPortUnreachable:
        // "Untouched" only if no page went out before a resumed run lost the module.
        return outcome.partlyWritten ? ExitUploadFailed : ExitUnreachable;
    case Kind::VerifyReadFailed:
    case Kind::VerifyMismatch:
        return ExitVerifyFailed;
    case Kind::NotRun:
    case Kind::Incomplete:
    case Kind::ModeSwitchRefused:
    case Kind::BootloaderSilent:
    case Kind::WrongReply:
    case Kind::PageNotAcknowledged:
    case Kind::ChipMismatch:
    case Kind::ImageForOtherChip:
        break;
    }
    return ExitUploadFailed;
}

} // namespace

Verdict uploadVerdict(const upload::UploadOutcome &outcome, const UploadTarget &target, qint64 imageBytes, bool verified)
{
    Verdict v;
    v.exitCode = exitCodeOf(outcome);
    if (outcome.succeeded()) {
        v.line = QStringLiteral("quarnel-cli: %1: upload complete, %2 bytes written%3")
                     .arg(target.ip)
                     .arg(imageBytes)
                     .arg(verified ? QStringLiteral(" and verified") : QString());
        return v;
    }
    v.line = QStringLiteral("quarnel-cli: upload to %1 failed: %2").arg(target.ip, outcome.text());
    const QString check = advice(outcome, target);
    if (!check.isEmpty())
        v.line += QLatin1String("; ") + check;
    return v;
}

} // namespace cli
