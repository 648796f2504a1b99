#ifndef UPLOADBATCH_H
#define UPLOADBATCH_H

#include "uploadoutcome.h"
#include "uploadtimeouts.h"

#include <QElapsedTimer>
#include <QObject>
#include <QVector>

#include <memory>
#include <vector>

namespace upload {

class Thread;

// Where one upload goes.
struct UploadTarget
{
    QString ip;
    quint16 dataPort = 0;
    quint16 atPort = 0;
    QString board;
};

// One board of a batch, and how its upload stands.
struct BatchJob
{
    enum class State { Waiting, Connecting, Writing, Verifying, Retrying, Done, Failed, Interrupted, NotStarted };

    UploadTarget target;
    State state = State::Waiting;
    float fraction = 0; // of the image read, 0..1
    int retries = 0;    // resumptions made
    qint64 bytes = 0;   // acknowledged by the bootloader
    double seconds = 0; // from its start to its end
    // Once it has ended: what the run came to. NotRun with the state Failed: it never ran, see failure.
    UploadOutcome outcome;
    QString failure; // what failed, for a person ("bootloader did not answer get sync")

    bool finished() const;
};

// Writes one image into many boards: one upload worker (Thread) per board, at most `jobs` at a
// time, all reading the same image file. The one queue of quarnel-cli's upload --all and of the
// window's upload of selected rows. Lives on the main thread and knows no widgets; the workers
// report to it through their signals. The boards' states are kept in jobs().
class UploadBatch : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString imagePath;
        UploadTimeouts timeouts;
        bool verify = false;
        int jobs = 0; // 0: all at once
        int retries = 0;
        QString hexPath; // the image's HEX file, beside which its build may say its chip
    };

    // Open files a running board holds: its thread's event-loop wake-up, the data and AT sockets,
    // and the image while it is read.
    static const int FilesPerBoard = 4;
    // Open files the program holds besides the boards' (standard streams, the signal pipe, the
    // main event loop, the libraries' own).
    static const int FilesReserved = 32;
    // How many of `boards` boards to write at once: `jobs` (0: all), but never more than the open
    // files `openFileLimit` allows (0: no limit); at least 1.
    static int boardsAtOnce(int jobs, int boards, qint64 openFileLimit);

    // Jobs not Waiting (a board that failed before, for want of an announcement) are passed over.
    UploadBatch(QVector<BatchJob> jobs, Settings settings);
    ~UploadBatch() override;

    // Starts the first `jobs` boards; finished() follows once every board has ended.
    void start();
    // Asks every running worker to stop; boards not started yet become NotStarted. finished()
    // follows once the running workers have ended, promptly. Before start(), no board starts.
    void interrupt();
    bool interrupted() const { return stopping; }

    const QVector<BatchJob> &jobs() const { return list; }
    // The worker is one of this batch's: the batch deletes it.
    bool owns(const Thread *worker) const;

signals:
    // Job `index`'s worker is about to start; a receiver connected directly may first free the
    // module for it (a monitor lets go of the data port).
    void workerStarting(int index, upload::Thread *worker);
    // Job `index`'s worker has ended; it stays valid as long as the batch.
    void workerEnded(int index, upload::Thread *worker);
    // Job `index` changed: it started, made progress, or ended (its outcome is then set).
    void changed(int index);
    void finished();

private:
    void startMore();
    void startNext();
    void report(int index, int kind, float value);
    void endJob(int index);
    void finishLater();

    QVector<BatchJob> list;
    Settings settings;
    std::vector<std::unique_ptr<Thread>> workers; // one per board, created when it starts
    std::vector<QElapsedTimer> clocks;
    int next = 0; // the next board to start
    int running = 0;
    bool stopping = false;
};

} // namespace upload

#endif // UPLOADBATCH_H
