#ifndef PLUGGABLEMONITOR_H
#define PLUGGABLEMONITOR_H

#include <QByteArray>
#include <QString>

namespace monitor {

// The monitor protocol of the sketch build tools (version 1), as a table of lines in and JSON
// messages out: HELLO, DESCRIBE, CONFIGURE, OPEN, CLOSE, QUIT, each answered by one object whose
// "eventType" names the command. It knows nothing of standard input and output or of sockets:
// OPEN and CLOSE act through a Bridge.
//
// Accepts: one command per line, the command word in any letter case, its arguments separated
// by blanks. Refuses with an error reply: anything but HELLO and QUIT before HELLO, a second
// HELLO, a version that is no number of at least 1, OPEN while open, CLOSE while closed, a
// CONFIGURE of another setting or value than the module's, and unknown commands.
class PluggableMonitor
{
public:
    // What OPEN and CLOSE act on: the board's port and the client's TCP connection.
    class Bridge
    {
    public:
        virtual ~Bridge() = default;
        // Connects the board port `port` (a module's address) with the client listening at
        // `client` ("host:port"). Empty on success, else why not.
        virtual QString open(const QString &client, const QString &port) = 0;
        virtual void close() = 0;
    };

    static const int ProtocolVersion = 1;
    static const char Protocol[];   // the port protocol, as the discovery announces the modules
    static const int ModuleBaud = 115200; // the module's fixed line speed

    explicit PluggableMonitor(Bridge *bridge);

    // The reply to one line; empty for an empty line.
    QByteArray handle(const QByteArray &line);
    // The reply to a command line longer than `maxBytes`, which was not read.
    QByteArray tooLong(int maxBytes);
    // The unprompted message when a link of an open port drops; the port counts as closed.
    QByteArray portClosed(const QString &why);
    bool quitRequested() const { return quitting; }
    bool isOpen() const { return opened; }

private:
    QByteArray hello(const QByteArray &arguments);
    QByteArray configure(const QList<QByteArray> &words);
    QByteArray open(const QList<QByteArray> &words);

    Bridge *bridge;
    bool greeted = false;
    bool opened = false;
    bool quitting = false;
};

} // namespace monitor

#endif // PLUGGABLEMONITOR_H
