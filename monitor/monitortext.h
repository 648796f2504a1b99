#ifndef MONITORTEXT_H
#define MONITORTEXT_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextDecoder>
#include <QTime>
#include <QVector>

#include <memory>

namespace monitor {

// What a typed line is sent with.
enum class LineEnd { None, Lf, Cr, CrLf };

// The names the command line takes, in the order of LineEnd.
QStringList lineEndNames();
// False for a name not in lineEndNames().
bool parseLineEnd(const QString &name, LineEnd *end);
// The line's bytes as they are, followed by its line end.
QByteArray lineToSend(const QByteArray &line, LineEnd end);

// Cuts what is typed or piped into lines at each line feed (a carriage return before it goes
// with it), passing every other byte unchanged: no decoding, NUL included. A line longer than
// `maxBytes` either comes out in pieces of that size and then its end (Overlong::Pieces: a serial
// monitor, which sends the pieces as they are and the line end once), or is dropped as one
// Part::TooLong (Overlong::Refuse: a protocol, which answers one error for it).
class LineCutter
{
public:
    enum class Overlong { Pieces, Refuse };
    struct Part
    {
        enum Kind { Line, Piece, TooLong } kind;
        QByteArray bytes; // without the line end; empty for TooLong
        bool operator==(const Part &other) const { return kind == other.kind && bytes == other.bytes; }
    };

    LineCutter(Overlong mode, int maxBytes);
    // The parts that the bytes complete; the rest waits for more.
    QVector<Part> take(const QByteArray &bytes);
    // At the end of input: what waits, as a last line without a line end.
    QVector<Part> end();

private:
    void cut(QVector<Part> *parts);

    Overlong mode;
    int maxBytes;
    QByteArray pending;
    bool dropping = false; // Refuse: the rest of a line already answered as too long
};

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
