#include "stdinlines.h"

#include <QMutex>
#include <QThread>

#include <cstdio>

namespace cli {

// What the reading thread shares with the object: cleared when the object goes.
struct StdinLines::Link
{
    QMutex mutex;
    StdinLines *target = nullptr;

    void deliver(const QByteArray &text, bool end)
    {
        const QMutexLocker lock(&mutex);
        if (!target)
            return;
        StdinLines *to = target;
        QMetaObject::invokeMethod(
            to, [to, text, end] { end ? emit to->closed() : emit to->line(text); }, Qt::QueuedConnection);
    }
};

StdinLines::StdinLines()
    : link(std::make_shared<Link>())
{
    link->target = this;
    QThread *reader = QThread::create([shared = link] {
        QByteArray buffer(MaxLineBytes + 1, '\0');
        while (std::fgets(buffer.data(), buffer.size(), stdin)) {
            QByteArray text(buffer.constData());
            if (text.endsWith('\n'))
                text.chop(1);
            if (text.endsWith('\r'))
                text.chop(1);
            shared->deliver(text, false);
        }
        shared->deliver(QByteArray(), true);
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
