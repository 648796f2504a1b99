#include "delayline.h"

namespace sim {

DelayLine::DelayLine(QObject *parent)
    : QObject(parent)
{
    clock.start();
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &DelayLine::deliverDue);
}

void DelayLine::push(const QByteArray &bytes, int delayMs)
{
    if (delayMs <= 0 && queue.isEmpty()) {
        emit delivered(bytes);
        return;
    }
    qint64 due = clock.elapsed() + delayMs;
    if (!queue.isEmpty() && queue.last().due > due)
        due = queue.last().due;
    queue.enqueue({due, bytes});
    if (queue.size() == 1)
        scheduleNext();
}

void DelayLine::clear()
{
    queue.clear();
    timer.stop();
}

void DelayLine::deliverDue()
{
    // A receiver may clear the line from inside delivered(); re-check the queue every pass.
    while (!queue.isEmpty() && queue.head().due <= clock.elapsed())
        emit delivered(queue.dequeue().bytes);
    scheduleNext();
}

void DelayLine::scheduleNext()
{
    if (queue.isEmpty())
        return;
    timer.start(int(qMax<qint64>(0, queue.head().due - clock.elapsed())));
}

} // namespace sim
