#include "stdinlines.h"

#include "platform.h"

#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <cstdio>

namespace cli {

using monitor::LineCutter;

// What the reading thread shares with the object: cleared when the object goes.
struct StdinLines::Link
{
    QMutex mutex;
    StdinLines *target = nullptr;
    QSemaphore room{QueuedParts};

    // Blocks while QueuedParts wait to be taken.
    void deliver(const LineCutter::Part &part)
    {
        room.acquire();
        const QMutexLocker lock(&mutex);
        if (!target)
            return;
        StdinLines *to = target;
        QSemaphore *taken = &room;
        QMetaObject::invokeMethod(
            to,
            [to, part, taken] {
                taken->release();
                switch (part.kind) {
                case LineCutter::Part::Line:
                    emit to->line(part.bytes);
                    break;
                case LineCutter::Part::Piece:
                    emit to->piece(part.bytes);
                    break;
                case LineCutter::Part::TooLong:
                    emit to->tooLong();
                    break;
                }
            },
            Qt::QueuedConnection);
    }

    void deliverEnd()
    {
        const QMutexLocker lock(&mutex);
        if (target)
            QMetaObject::invokeMethod(target, &StdinLines::closed, Qt::QueuedConnection);
    }
};

StdinLines::StdinLines(LineCutter::Overlong overlong)
    : link(std::make_shared<Link>())
{
    link->target = this;
    QThread *reader = QThread::create([shared = link, overlong] {
        platform::binaryStream(stdin);
        LineCutter cutter(overlong, MaxLineBytes);
        // A line feed, or a whole read buffer, is handed on at once: what is typed goes out
        // when Enter is pressed, and a long piped line in pieces.
        QByteArray chunk;
        int c = 0;
        while ((c = std::getc(stdin)) != EOF) {
            chunk += char(c);
            if (c != '\n' && chunk.size() < MaxLineBytes)
                continue;
            for (const LineCutter::Part &part : cutter.take(chunk))
                shared->deliver(part);
            chunk.clear();
        }
        for (const LineCutter::Part &part : cutter.take(chunk) + cutter.end())
            shared->deliver(part);
        shared->deliverEnd();
    });
    connect(reader, &QThread::finished, reader, &QObject::deleteLater);
    reader->start();
}

StdinLines::~StdinLines()
{
    const QMutexLocker lock(&link->mutex);
    link->target = nullptr;
}

} // namespace cli
