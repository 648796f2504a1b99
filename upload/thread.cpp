#include "thread.h"

#include "platform.h"
#include "portnumber.h"

#include <QDebug>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <utility>

namespace upload {

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
    uploadRun(target->protocol == Protocol::Stk500v1 ? &Thread::stk500v1Driver : &Thread::stk500v2Driver);
}

// The frame both protocols share: image, connections, driver, close, verdict.
void Thread::uploadRun(void (Thread::*driver)())
{
    if (imageStep() != 0) {
        emit updateover(ip, ReportVerdict, 0.0f);
        return;
    }
    retryCount = 0;
    writing = false;
    for (;;) {
        if (connectStep()) {
            (this->*driver)();
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
        sequenceNumber = 0;
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
    sequenceNumber = 0;

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
    return 0;
}

// Data port first, then the AT-command port; the second is not tried when the first fails.
bool Thread::connectStep()
{
    pipe = std::make_unique<DataPipe>();
    at = std::make_unique<AtSession>(timeouts.connect, timeouts.atReply);
    qDebug() << "current_ip =" << ip << QString::number(dataPort) << QString::number(atPort);
    if (!pipe->connectTo(ip, dataPort, timeouts.connect, dataRefusal)) {
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

quint8 Thread::modeSwitchStep()
{
    int refusedCommand = 0;
    if (at->modeSwitch(*target, &refusedCommand) == 0)
        return 0;
    result = UploadOutcome::modeSwitchRefused(refusedCommand);
    emit updateover(ip, ReportUnreachable, 1.0f);
    return 1;
}

void Thread::dropImage()
{
    image = QByteArray();
    pageBuffer = QByteArray();
}

UploadOutcome Thread::startupFailed(const QString &step) const
{
    const QString wrong = pipe->wrongReply();
    return wrong.isEmpty() ? UploadOutcome::bootloaderSilent(step)
                           : UploadOutcome::wrongReply(step, wrong);
}

UploadOutcome Thread::pageFailed(qint64 page, const QString &step) const
{
    return UploadOutcome::pageNotAcknowledged(page, step, pipe->wrongReply());
}

float Thread::progress() const
{
    return static_cast<float>(static_cast<long double>(bytesRead)
                              / static_cast<long double>(imageSize));
}

// Page by page from the first page not acknowledged (offset 0, or where a resumed run stopped):
// read, report, write; then verify if asked, and leave programming mode once the image has run
// out. A failed page ends the loop without leaving.
void Thread::pageLoop(const PageProtocol &p)
{
    pageBuffer = QByteArray(p.pageSize, p.fill);
    writing = true;
    if (p.erasesInOrder)
        ackedBytes = 0;
    // Every page is a whole page size from the start, so the first one not acknowledged begins
    // at ackedBytes; it is written again whole, at its own address.
    bytesRead = ackedBytes;
    for (qint64 page = ackedBytes / p.pageSize;; ++page) {
        pageBuffer.fill(p.fill);
        lastReadCount = qint32(qMin<qint64>(p.pageSize, imageSize - ackedBytes));
        std::memcpy(pageBuffer.data(), image.constData() + ackedBytes, size_t(lastReadCount));
        bytesRead += lastReadCount;
        emit updateover(ip, ReportProgress, progress());
        if (lastReadCount == 0)
            break;
        if ((this->*p.writePage)(quint32(ackedBytes / 2), page) != 0)
            return;
        ackedBytes += lastReadCount;
        if (lastReadCount < p.pageSize)
            break;
    }
    if (verify && ackedBytes == imageSize && verifyFlash(p) != 0)
        return;
    // The image is in the board whatever comes now; a missing answer is worth a warning only.
    if ((this->*p.leaveProgramming)() != 0)
        fprintf(stderr,
                "warning: no answer to leave programming mode within %s s; every page was acknowledged; "
                "reset the board if its program does not start\n",
                qPrintable(QString::number(timeouts.leaveProgramming / 1000.0)));
}

quint8 Thread::verifyFlash(const PageProtocol &p)
{
    QByteArray actual;
    for (qint64 offset = 0; offset < imageSize; offset += p.pageSize) {
        const qint64 wanted = qMin<qint64>(p.pageSize, imageSize - offset);
        actual.clear();
        if ((this->*p.readPage)(quint32(offset / 2), &actual) != 0) {
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
