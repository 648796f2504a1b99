#include "uploadbatch.h"

#include "exitcodes.h"
#include "thread.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace cli {

UploadBatch::UploadBatch(QVector<Board> boards, Settings settings)
    : list(std::move(boards)), settings(std::move(settings)), workers(size_t(list.size())),
      clocks(size_t(list.size()))
{
}

UploadBatch::~UploadBatch()
{
    for (const std::unique_ptr<upload::Thread> &w : workers) {
        if (w) {
            w->requestInterruption();
            w->wait();
        }
    }
}

int UploadBatch::boardsAtOnce(int jobs, int boards, qint64 openFileLimit)
{
    qint64 count = jobs > 0 ? jobs : boards;
    if (openFileLimit > 0)
        count = std::min(count, (openFileLimit - FilesReserved) / FilesPerBoard);
    return int(std::max<qint64>(1, count));
}

void UploadBatch::start()
{
    startMore();
    if (running == 0 && !stopping)
        finishLater();
}

void UploadBatch::startMore()
{
    const int jobs = settings.jobs > 0 ? settings.jobs : int(list.size());
    while (running < jobs && next < list.size())
        startNext();
}

void UploadBatch::finishLater()
{
    QTimer::singleShot(0, this, [this] { emit finished(); });
}

void UploadBatch::startNext()
{
    // Boards that failed before their start (no announcement) are passed over.
    while (next < list.size() && list.at(next).state != Board::State::Waiting)
        ++next;
    if (next >= list.size())
        return;
    const int index = next++;
    Board &b = list[index];
    auto worker = std::make_unique<upload::Thread>(b.target.atPort, b.target.dataPort, b.target.ip, b.target.board);
    worker->setImagePath(settings.imagePath);
    worker->setHexPath(settings.hexPath);
    worker->setVerify(settings.verify);
    worker->setTimeouts(settings.timeouts);
    worker->setRetries(settings.retries);
    connect(worker.get(), &upload::Thread::updateover, this,
            [this, index](const QString &, int kind, float value) { report(index, kind, value); });
    connect(worker.get(), &upload::Thread::retrying, this, [this, index](int retry) {
        list[index].state = Board::State::Retrying;
        list[index].retries = retry;
        emit changed(index);
    });
    // The reports are queued before finished(), so each is taken before the board ends.
    connect(worker.get(), &QThread::finished, this, [this, index] { workerEnded(index); }, Qt::QueuedConnection);
    b.state = Board::State::Connecting;
    clocks[size_t(index)].start();
    worker->start();
    // A thread that could not be created neither runs nor ends: the board fails here, for a reason
    // of this computer's.
    if (!worker->isRunning() && !worker->isFinished()) {
        failLocally(&b, QStringLiteral("no thread could be started for its upload"),
                    QStringLiteral("this computer is short of threads or memory; give a smaller --jobs"));
        emit changed(index);
        return;
    }
    ++running;
    workers[size_t(index)] = std::move(worker);
    emit changed(index);
}

void UploadBatch::failLocally(Board *board, const QString &why, const QString &check)
{
    board->state = Board::State::Failed;
    board->failure = why;
    board->exitCode = ExitLocalFailure;
    board->verdictLine = QStringLiteral("quarnel-cli: upload to %1 failed: %2; %3").arg(board->target.ip, why, check);
}

void UploadBatch::report(int index, int kind, float value)
{
    if (kind != upload::Thread::ReportProgress)
        return;
    Board &b = list[index];
    b.fraction = value;
    b.state = settings.verify && value >= 1.0f ? Board::State::Verifying : Board::State::Writing;
    emit changed(index);
}

void UploadBatch::workerEnded(int index)
{
    upload::Thread *worker = workers[size_t(index)].get();
    worker->wait();
    Board &b = list[index];
    const upload::UploadOutcome outcome = worker->outcome();
    const Verdict verdict = uploadVerdict(outcome, b.target, settings.imageBytes, settings.verify);
    b.seconds = double(clocks[size_t(index)].elapsed()) / 1000.0;
    b.bytes = worker->bytesWritten();
    b.retries = worker->retriesMade();
    b.verdictLine = verdict.line;
    b.exitCode = verdict.exitCode;
    if (outcome.succeeded()) {
        b.state = Board::State::Done;
    } else if (stopping) {
        b.state = Board::State::Interrupted;
        b.exitCode = stopStatus;
        b.verdictLine = QStringLiteral("quarnel-cli: upload to %1 interrupted, %2 bytes written")
                            .arg(b.target.ip)
                            .arg(b.bytes);
    } else if (outcome.kind == upload::UploadOutcome::Kind::ImageMissing) {
        // The image is this run's own file, written before any board started.
        failLocally(&b, QStringLiteral("cannot read the temporary image %1").arg(settings.imagePath),
                    QStringLiteral("check the temporary directory and the open-file limit (ulimit -n)"));
    } else {
        b.state = Board::State::Failed;
        b.failure = outcome.text();
    }
    --running;
    emit changed(index);
    if (!stopping)
        startMore();
    if (running == 0)
        emit finished();
}

void UploadBatch::interrupt(int status)
{
    if (stopping)
        return;
    stopping = true;
    stopStatus = status;
    for (int i = next; i < list.size(); ++i) {
        if (list.at(i).state == Board::State::Waiting) {
            list[i].state = Board::State::NotStarted;
            list[i].exitCode = status;
            emit changed(i);
        }
    }
    next = int(list.size());
    for (const std::unique_ptr<upload::Thread> &w : workers) {
        if (w)
            w->requestInterruption();
    }
    if (running == 0)
        finishLater();
}

} // namespace cli
