#ifndef CLI_INTERRUPTSIGNAL_H
#define CLI_INTERRUPTSIGNAL_H

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace cli {

// Turns the first Ctrl-C (SIGINT; on Windows the console's control event) into the signal
// interrupted(), delivered by the event loop of the thread that created the object; a second
// Ctrl-C ends the program at once. One at a time.
class InterruptSignal : public QObject
{
    Q_OBJECT

public:
    InterruptSignal();
    ~InterruptSignal() override;
    InterruptSignal(const InterruptSignal &) = delete;
    InterruptSignal &operator=(const InterruptSignal &) = delete;

signals:
    void interrupted();

private:
    std::unique_ptr<QSocketNotifier> notifier; // the signal pipe's reader; none on Windows
};

} // namespace cli

#endif // CLI_INTERRUPTSIGNAL_H
