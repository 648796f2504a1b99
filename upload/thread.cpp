#include "thread.h"

#include "bootloaderfinder.h"
#include "buildchip.h"
#include "handover.h"

#include "platform.h"
#include "portnumber.h"

#include <QDebug>
#include <QFileInfo>

#include <cstdio>
#include <utility>

namespace upload {

namespace {

// "an ATmega328P (UNO)" for a chip of the board table, else as the build names it.
QString builtFor(const firmware::BuildChip &chip)
{
    for (const Board &board : Boards) {
        if (chip.device.compare(QLatin1String(board.chip), Qt::CaseInsensitive) == 0)
            return QStringLiteral("an %1 (%2)").arg(QLatin1String(board.chip), QLatin1String(board.name));
    }
    return chip.text();
}

} // namespace

Thread::Thread(QString atPort, QString dataPort, QString ip, QString board)
    : Thread(discovery::portNumber(atPort), discovery::portNumber(dataPort), std::move(ip), std::move(board))
{
}

Thread::Thread(quint16 atPort, quint16 dataPort, QString ip, QString board)
    : ip(std::move(ip)), atPort(atPort), dataPort(dataPort), board(std::move(board))
{
}

Thread::~Thread() = default;

void Thread::setImagePath(const QString &path)
{
    imagePath = path;
}

void Thread::setHexPath(const QString &path)
{
    hexPath = path;
}

void Thread::setTimeouts(const UploadTimeouts &newTimeouts)
{
    timeouts = newTimeouts;
}

void Thread::setVerify(bool on)
{
    verify = on;
}

void Thread::setRetries(int retries)
{
    maxRetries = retries;
}

void Thread::setRefusal(Refusal refusal)
{
    dataRefusal = refusal;
}

UploadOutcome Thread::outcome() const
{
    return result;
}

void Thread::run()
{
    result = UploadOutcome();
    target = findBoard(board);
    if (!target) {
        result = UploadOutcome::of(UploadOutcome::Kind::UnknownBoard);
        return;
    }
    uploadRun();
}

// The frame both protocols share: image, connections, driver, close, verdict.
void Thread::uploadRun()
{
    if (imageStep() != 0) {
        emit updateover(ip, ReportVerdict, 0.0f);
        return;
    }
    retryCount = 0;
    writing = false;
    for (;;) {
        if (connectStep()) {
            session();
        } else if (!mayResume()) {
            result.partlyWritten = writing;
            emit updateover(ip, ReportUnreachable, 1.0f);
            closeLink();
            dropImage();
            return;
        }
        closeLink();
        if (!mayResume())
            break;
        ++retryCount;
        emit retrying(retryCount);
        pauseBeforeRetry();
        result = UploadOutcome();
    }

    dropImage();
    const bool complete = ackedBytes == imageSize && result.kind == UploadOutcome::Kind::NotRun;
    if (complete)
        result = UploadOutcome::of(UploadOutcome::Kind::Success);
    else if (result.kind == UploadOutcome::Kind::NotRun)
        result = UploadOutcome::of(UploadOutcome::Kind::Incomplete);
    emit updateover(ip, ReportVerdict, complete ? 1.0f : 0.0f);
}

// A run whose bootloader took pages once and then stopped answering, or lost its link or its
// module, resumes; a bootloader that never got that far (a wrong board type, a wiring fault)
// would not answer a second time either. A wrong flash, a page loop that ended short without a
// failure, or a stop request ends the run.
bool Thread::mayResume() const
{
    using Kind = UploadOutcome::Kind;
    const bool lost = result.kind != Kind::Success && result.kind != Kind::NotRun
                      && result.kind != Kind::VerifyMismatch && result.kind != Kind::Incomplete;
    return writing && lost && retryCount < maxRetries && !isInterruptionRequested();
}

// The module has just dropped a link or lost its bootloader; give it a moment.
void Thread::pauseBeforeRetry()
{
    const int slice = 50; // ms; a stop request ends the pause within this
    for (int waited = 0; waited < timeouts.retryPause && !isInterruptionRequested(); waited += slice)
        msleep(slice);
}

quint8 Thread::imageStep()
{
    ackedBytes = 0;
    imageSize = 0;
    bytesRead = 0;

    // The whole image now: a conversion for a later press may replace the file while this run
    // is still sending, and this run must go on sending the image it started with.
    if (!platform::readRegularFile(imagePath, target->applicationSize, &image)) {
        perror("open file error");
        result = UploadOutcome::of(UploadOutcome::Kind::ImageMissing);
        return 1;
    }
    imageSize = image.size();
    qDebug() << "TotalBytes =" << imageSize << "\n";

    // Pages past the application area would overwrite the bootloader, which then never answers
    // again: such an image is refused before anything is sent.
    if (imageSize <= 0 || imageSize > target->applicationSize) {
        // Reading stopped one byte past the area; the file tells the whole size.
        result = imageSize <= 0 ? UploadOutcome::of(UploadOutcome::Kind::ImageEmpty)
                                : UploadOutcome::imageTooLarge(qMax(imageSize, QFileInfo(imagePath).size()), *target);
        fprintf(stderr, "%s\n", qPrintable(result.text()));
        dropImage();
        return 1;
    }
    // The image's own build, when it lies beside the HEX file and holds this very image, tells
    // the chip it runs on: an image for another is refused as a board of another chip is.
    const std::optional<firmware::BuildChip> built = hexPath.isEmpty() ? std::nullopt : firmware::buildChipBeside(hexPath, image);
    if (built && !built->fits(QLatin1String(target->chip), firmware::architectureOf(QLatin1String(target->chip)))) {
        result = UploadOutcome::imageForOtherChip(*target, builtFor(*built));
        fprintf(stderr, "%s\n", qPrintable(result.text()));
        dropImage();
        return 1;
    }
    return 0;
}

// Data port first, then the AT-command port; the second is not tried when the first fails.
bool Thread::connectStep()
{
    pipe = std::make_unique<DataPipe>();
    at = std::make_unique<AtSession>(timeouts.connect, timeouts.atReply);
    qDebug() << "current_ip =" << ip << QString::number(dataPort) << QString::number(atPort);
    // A port another program of this system has just let go of is taken over as this program's own.
    if (!pipe->connectTo(ip, dataPort, timeouts.connect, Handover::refusalFor(ip, dataPort, dataRefusal))) {
        perror("connect data server error");
        result = UploadOutcome::of(UploadOutcome::Kind::DataPortUnreachable);
        return false;
    }
    if (!at->connectTo(ip, atPort)) {
        perror("connect at server error");
        closeLink();
        result = UploadOutcome::of(UploadOutcome::Kind::AtPortUnreachable);
        return false;
    }
    return true;
}

void Thread::closeLink()
{
    pipe.reset();
    at.reset();
}

void Thread::session()
{
    BootloaderFinder finder(*pipe, *at, timeouts);
    if (finder.find(*target) != 0) {
        result = finder.failure();
        if (result.kind == UploadOutcome::Kind::ModeSwitchRefused)
            emit updateover(ip, ReportUnreachable, 1.0f);
        return;
    }
    // An image for another chip would not run there, and pages past that chip's bootloader would
    // overwrite it: nothing is written to a board that answers as another.
    if (finder.signature() != target->signatureBytes()) {
        result = UploadOutcome::chipMismatch(*target, finder.signature());
        fprintf(stderr, "%s\n", qPrintable(result.text()));
        finder.leave();
        return;
    }
    pageLoop(*finder.driver());
}

void Thread::dropImage()
{
    image = QByteArray();
}

UploadOutcome Thread::pageFailed(qint64 page, const BootloaderDriver &driver) const
{
    return UploadOutcome::pageNotAcknowledged(page, driver.failedStep(), pipe->wrongReply());
}

float Thread::progress() const
{
    return static_cast<float>(static_cast<long double>(bytesRead)
                              / static_cast<long double>(imageSize));
}

// Page by page from the first page not acknowledged (offset 0, or where a resumed run stopped):
// read, report, write; then verify if asked, and leave programming mode once the image has run
// out. A failed page ends the loop without leaving.
void Thread::pageLoop(BootloaderDriver &driver)
{
    const int pageSize = driver.board().pageSize;
    writing = true;
    if (driver.erasesInOrder())
        ackedBytes = 0;
    // Every page is a whole page size from the start, so the first one not acknowledged begins
    // at ackedBytes; it is written again whole, at its own address.
    bytesRead = ackedBytes;
    for (qint64 page = ackedBytes / pageSize;; ++page) {
        const QByteArray data = image.mid(int(ackedBytes), int(qMin<qint64>(pageSize, imageSize - ackedBytes)));
        bytesRead += data.size();
        emit updateover(ip, ReportProgress, progress());
        if (data.isEmpty())
            break;
        if (driver.writePage(quint32(ackedBytes / 2), data) != 0) {
            result = pageFailed(page, driver);
            return;
        }
        ackedBytes += data.size();
        if (data.size() < pageSize)
            break;
    }
    if (verify && ackedBytes == imageSize && verifyFlash(driver) != 0)
        return;
    // The image is in the board whatever comes now; a missing answer is worth a warning only.
    if (driver.leave() != 0)
        fprintf(stderr,
                "warning: no answer to leave programming mode within %s s; every page was acknowledged; "
                "reset the board if its program does not start\n",
                qPrintable(QString::number(timeouts.leaveProgramming / 1000.0)));
}

quint8 Thread::verifyFlash(BootloaderDriver &driver)
{
    const int pageSize = driver.board().pageSize;
    QByteArray actual;
    for (qint64 offset = 0; offset < imageSize; offset += pageSize) {
        const qint64 wanted = qMin<qint64>(pageSize, imageSize - offset);
        actual.clear();
        if (driver.readPage(quint32(offset / 2), &actual) != 0) {
            result = UploadOutcome::verifyReadFailed(offset);
            return 1;
        }
        for (qint64 i = 0; i < wanted; ++i) {
            if (actual.at(int(i)) != image.at(int(offset + i))) {
                result = UploadOutcome::verifyMismatch(offset + i);
                return 1;
            }
        }
    }
    return 0;
}

} // namespace upload
