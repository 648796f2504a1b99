#ifndef CLI_STDINLINES_H
#define CLI_STDINLINES_H

#include <QByteArray>
#include <QObject>

#include <memory>

namespace cli {

// Standard input, line by line, as signals on the thread that created it. A thread of its own
// blocks in the read (the one way that works for pipes on every platform); it is never joined:
// it ends with the input or with the process, and stops delivering once this object is gone.
class StdinLines : public QObject
{
    Q_OBJECT

public:
    StdinLines();
    ~StdinLines() override;

    static const int MaxLineBytes = 65536; // a longer line is delivered in pieces of this size

signals:
    void line(const QByteArray &text); // without its line end
    void closed();                     // end of input

private:
    struct Link;
    std::shared_ptr<Link> link;
};

} // namespace cli

#endif // CLI_STDINLINES_H
