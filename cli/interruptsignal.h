#ifndef CLI_INTERRUPTSIGNAL_H
#define CLI_INTERRUPTSIGNAL_H

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <memory>

namespace cli {

// Turns the first Ctrl-C (SIGINT; on Windows the console's control event), SIGTERM or SIGHUP
// into the signal interrupted(), delivered by the event loop of the thread that created the
// object; a second one removes the files named by removeOnForcedEnd() and ends the program at
// once. One at a time.
class InterruptSignal : public QObject
{
    Q_OBJECT

public:
    InterruptSignal();
    ~InterruptSignal() override;
    InterruptSignal(const InterruptSignal &) = delete;
    InterruptSignal &operator=(const InterruptSignal &) = delete;

    // The exit status the first signal calls for (130, 143 or 129); 0 while none came.
    int status() const { return received; }
    // A file and then its directory to remove should a second signal end the program at once.
    void removeOnForcedEnd(const QString &file, const QString &dir);
    // Takes a stop signal's exit status; only the first one counts.
    void take(int status)
    {
        if (received != 0)
            return;
        received = status;
        emit interrupted(status);
    }

signals:
    void interrupted(int status);

private:
    std::unique_ptr<QSocketNotifier> notifier; // the signal pipe's reader; none on Windows
    int received = 0;
};

} // namespace cli

#endif // CLI_INTERRUPTSIGNAL_H
