#ifndef SIM_DELAYLINE_H
#define SIM_DELAYLINE_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

namespace sim {

// Hands on byte chunks after a given delay, in the order they were pushed: a chunk never
// overtakes an earlier one, whatever their delays.
class DelayLine : public QObject
{
    Q_OBJECT

public:
    explicit DelayLine(QObject *parent = nullptr);

    // delayMs 0 with nothing queued delivers at once, inside this call.
    void push(const QByteArray &bytes, int delayMs);
    void clear();

signals:
    void delivered(const QByteArray &bytes);

private:
    void deliverDue();
    void scheduleNext();

    struct Item
    {
        qint64 due; // ms on clock
        QByteArray bytes;
    };
    QElapsedTimer clock;
    QQueue<Item> queue;
    QTimer timer;
};

} // namespace sim

#endif // SIM_DELAYLINE_H
