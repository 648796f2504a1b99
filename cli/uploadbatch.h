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
    };

    UploadBatch(QVector<Board> boards, Settings settings);
    ~UploadBatch() override;

    // Starts the first `jobs` boards; finished() follows once every board has ended.
    void start();
    // Asks every running worker to stop; boards not started yet are not started. finished()
    // follows once the running workers have ended, promptly.
    void interrupt();
    bool interrupted() const { return stopping; }

    const QVector<Board> &boards() const { return list; }

signals:
    void changed(int index);
    void finished();

private:
    void startNext();
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
};

} // namespace cli

#endif // CLI_UPLOADBATCH_H
