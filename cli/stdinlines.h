#ifndef CLI_STDINLINES_H
#define CLI_STDINLINES_H

#include "monitortext.h"

#include <QByteArray>
#include <QObject>

#include <memory>

namespace cli {

// Standard input, cut by monitor::LineCutter, as signals on the thread that created it. A thread
// of its own blocks in the read (the one way that works for pipes on every platform); it is
// never joined: it ends with the input or with the process, and stops delivering once this
// object is gone. It reads ahead at most QueuedParts parts, so input that comes faster than it
// is taken waits in the pipe, not in memory.
class StdinLines : public QObject
{
    Q_OBJECT

public:
    static const int MaxLineBytes = 65536;
    static const int QueuedParts = 16;

    explicit StdinLines(monitor::LineCutter::Overlong overlong);
    ~StdinLines() override;

signals:
    void line(const QByteArray &text);  // without its line end
    void piece(const QByteArray &bytes); // Overlong::Pieces: part of a long line, more follows
    void tooLong();                      // Overlong::Refuse: a line longer than MaxLineBytes, dropped
    void closed();                       // end of input

private:
    struct Link;
    std::shared_ptr<Link> link;
};

} // namespace cli

#endif // CLI_STDINLINES_H
