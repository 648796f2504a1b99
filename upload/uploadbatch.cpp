#include "uploadbatch.h"

#include "thread.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace upload {

bool BatchJob::finished() const
{
    return state == State::Done || state == State::Failed || state == State::Interrupted
           || state == State::NotStarted;
}

UploadBatch::UploadBatch(QVector<BatchJob> jobs, Settings settings)
    : list(std::move(jobs)), settings(std::move(settings)), workers(size_t(list.size())),
      clocks(size_t(list.size()))
{
}

UploadBatch::~UploadBatch()
{
    for (const std::unique_ptr<Thread> &w : workers) {
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

bool UploadBatch::owns(const Thread *worker) const
{
    return std::any_of(workers.begin(), workers.end(),
                       [worker](const std::unique_ptr<Thread> &w) { return w.get() == worker; });
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
    while (next < list.size() && list.at(next).state != BatchJob::State::Waiting)
        ++next;
    if (next >= list.size())
        return;
    const int index = next++;
    BatchJob &b = list[index];
    auto worker = std::make_unique<Thread>(b.target.atPort, b.target.dataPort, b.target.ip, b.target.board);
    worker->setImagePath(settings.imagePath);
    worker->setHexPath(settings.hexPath);
    worker->setVerify(settings.verify);
    worker->setTimeouts(settings.timeouts);
    worker->setRetries(settings.retries);
    connect(worker.get(), &Thread::updateover, this,
            [this, index](const QString &, int kind, float value) { report(index, kind, value); });
    connect(worker.get(), &Thread::retrying, this, [this, index](int retry) {
        list[index].state = BatchJob::State::Retrying;
        list[index].retries = retry;
        emit changed(index);
    });
    // The reports are queued before finished(), so each is taken before the board ends.
    connect(worker.get(), &QThread::finished, this, [this, index] { endJob(index); }, Qt::QueuedConnection);
    b.state = BatchJob::State::Connecting;
    emit workerStarting(index, worker.get());
    clocks[size_t(index)].start();
    worker->start();
    // A thread that could not be created neither runs nor ends: the board fails here, for a reason
    // of this computer's.
    if (!worker->isRunning() && !worker->isFinished()) {
        b.state = BatchJob::State::Failed;
        b.failure = QStringLiteral("no thread could be started for its upload");
        emit workerEnded(index, worker.get());
        emit changed(index);
        return;
    }
    ++running;
    workers[size_t(index)] = std::move(worker);
    emit changed(index);
}

void UploadBatch::report(int index, int kind, float value)
{
    if (kind != Thread::ReportProgress)
        return;
    BatchJob &b = list[index];
    b.fraction = value;
    b.state = settings.verify && value >= 1.0f ? BatchJob::State::Verifying : BatchJob::State::Writing;
    emit changed(index);
}

void UploadBatch::endJob(int index)
{
    Thread *worker = workers[size_t(index)].get();
    worker->wait();
    BatchJob &b = list[index];
    b.outcome = worker->outcome();
    b.seconds = double(clocks[size_t(index)].elapsed()) / 1000.0;
    b.bytes = worker->bytesWritten();
    b.retries = worker->retriesMade();
    if (b.outcome.succeeded()) {
        b.state = BatchJob::State::Done;
    } else if (stopping) {
        b.state = BatchJob::State::Interrupted;
    } else {
        b.state = BatchJob::State::Failed;
        b.failure = b.outcome.text();
    }
    --running;
    emit workerEnded(index, worker);
    emit changed(index);
    if (!stopping)
        startMore();
    if (running == 0)
        emit finished();
}

void UploadBatch::interrupt()
{
    if (stopping)
        return;
    stopping = true;
    for (int i = next; i < list.size(); ++i) {
        if (list.at(i).state == BatchJob::State::Waiting) {
            list[i].state = BatchJob::State::NotStarted;
            emit changed(i);
        }
    }
    next = int(list.size());
    for (const std::unique_ptr<Thread> &w : workers) {
        if (w)
            w->requestInterruption();
    }
    if (running == 0)
        finishLater();
}

} // namespace upload
