#ifndef CLI_INTERRUPTSIGNAL_H
#define CLI_INTERRUPTSIGNAL_H

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace cli {

// Turns the first SIGINT (Ctrl-C) into the signal interrupted(), delivered by the event loop of
// the thread that created the object; a second SIGINT ends the program at once. One at a time.
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
    std::unique_ptr<QSocketNotifier> notifier;
};

} // namespace cli

#endif // CLI_INTERRUPTSIGNAL_H
