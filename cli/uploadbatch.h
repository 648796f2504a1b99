#ifndef CLI_UPLOADBATCH_H
#define CLI_UPLOADBATCH_H

#include "boards.h"
#include "uploadtimeouts.h"

#include <QElapsedTimer>
#include <QObject>
#include <QVector>

#include <memory>
#include <vector>

namespace upload {
class Thread;
}

namespace cli {

// Writes one image into many boards: one upload worker (Thread) per board, at most `jobs` at a
// time, all reading the same image file. Lives on the main thread; the workers report to it
// through their signals. The boards' states are kept in boards().
class UploadBatch : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString imagePath;
        qint64 imageBytes = 0;
        upload::UploadTimeouts timeouts;
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

    UploadBatch(QVector<Board> boards, Settings settings);
    ~UploadBatch() override;

    // Starts the first `jobs` boards; finished() follows once every board has ended.
    void start();
    // Asks every running worker to stop; boards not started yet are not started; `status` is the
    // exit status of the boards stopped. finished() follows once the running workers have ended,
    // promptly. Before start(), no board starts.
    void interrupt(int status);

    const QVector<Board> &boards() const { return list; }

signals:
    void changed(int index);
    void finished();

private:
    void startMore();
    void startNext();
    static void failLocally(Board *board, const QString &why, const QString &check);
    void report(int index, int kind, float value);
    void workerEnded(int index);
    void finishLater();

    QVector<Board> list;
    Settings settings;
    std::vector<std::unique_ptr<upload::Thread>> workers; // one per board, created when it starts
    std::vector<QElapsedTimer> clocks;
    int next = 0;    // the next board to start
    int running = 0;
    bool stopping = false;
    int stopStatus = 0;
};

} // namespace cli

#endif // CLI_UPLOADBATCH_H
