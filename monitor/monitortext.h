#ifndef MONITORTEXT_H
#define MONITORTEXT_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextDecoder>
#include <QTime>

#include <memory>

namespace monitor {

// What a typed line is sent with.
enum class LineEnd { None, Lf, Cr, CrLf };

// The names the command line takes, in the order of LineEnd.
QStringList lineEndNames();
// False for a name not in lineEndNames().
bool parseLineEnd(const QString &name, LineEnd *end);
// The line as UTF-8, followed by its line end.
QByteArray lineToSend(const QString &line, LineEnd end);

// Puts the time of its first byte before every line that the board sends; the bytes themselves
// pass unchanged. A line ends with a line feed; the state carries over from one read to the next.
class LineStamper
{
public:
    // "13:45:01.123 -> ": the moment the line began, local time.
    static QByteArray prefix(const QTime &time);

    QByteArray stamp(const QByteArray &bytes, const QTime &now);
    // The next byte begins a line (after a line of the monitor's own).
    void startLine() { atLineStart = true; }

private:
    bool atLineStart = true;
};

// Turns what the board sends into the text a monitor window shows: UTF-8 (a character split
// between two reads is put together), carriage returns dropped, optionally a time before each
// line, and a line longer than MaxLineChars broken there, so that a board that never sends a
// line feed cannot grow one line without end.
class TextFeed
{
public:
    static const int MaxLineChars = 1000;
    static const int ScrollBackLines = 10000; // lines a monitor window keeps; the oldest go first

    TextFeed();
    ~TextFeed();
    void setTimestamps(bool on) { timestamps = on; }
    bool timestampsShown() const { return timestamps; }
    // The text to append for bytes received now.
    QString take(const QByteArray &bytes, const QTime &now);
    // A line of the monitor's own (a connection change): on a line of its own, in brackets.
    QString note(const QString &text, const QTime &now);

private:
    std::unique_ptr<QTextDecoder> decoder;
    LineStamper stamper;
    bool timestamps = false;
    int column = 0; // characters on the current line so far
};

} // namespace monitor

#endif // MONITORTEXT_H
