#ifndef CLI_STDINLINES_H
#define CLI_STDINLINES_H

#include <QByteArray>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace cli {

// Standard input as lines, delivered by the event loop of the thread that created the object:
// line() for each line (without its line feed or carriage return), ended() once at the end of
// the input. A last line without a line feed comes before ended(). One at a time.
class StdinLines : public QObject
{
    Q_OBJECT

public:
    StdinLines();
    ~StdinLines() override;
    StdinLines(const StdinLines &) = delete;
    StdinLines &operator=(const StdinLines &) = delete;

    // Splits what came into lines; the rest waits for the next read. For both systems' readers.
    void take(const QByteArray &bytes);
    void finish();

signals:
    void line(const QByteArray &text);
    void ended();

private:
    QByteArray pending;
    bool finished = false;
    std::unique_ptr<QSocketNotifier> notifier; // none on Windows, where a thread reads
};

} // namespace cli

#endif // CLI_STDINLINES_H
