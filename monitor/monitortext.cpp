#include "monitortext.h"

#include <QTextCodec>

namespace monitor {

namespace {

struct LineEndName
{
    LineEnd end;
    const char *name;
    const char *bytes;
};

const LineEndName LineEnds[] = {
    {LineEnd::None, "none", ""},
    {LineEnd::Lf, "lf", "\n"},
    {LineEnd::Cr, "cr", "\r"},
    {LineEnd::CrLf, "crlf", "\r\n"},
};

} // namespace

QStringList lineEndNames()
{
    QStringList names;
    for (const LineEndName &e : LineEnds)
        names << QLatin1String(e.name);
    return names;
}

bool parseLineEnd(const QString &name, LineEnd *end)
{
    for (const LineEndName &e : LineEnds) {
        if (name == QLatin1String(e.name)) {
            *end = e.end;
            return true;
        }
    }
    return false;
}

QByteArray lineToSend(const QByteArray &line, LineEnd end)
{
    QByteArray bytes = line;
    for (const LineEndName &e : LineEnds) {
        if (e.end == end)
            bytes += e.bytes;
    }
    return bytes;
}

LineCutter::LineCutter(Overlong mode, int maxBytes)
    : mode(mode)
    , maxBytes(maxBytes)
{
}

QVector<LineCutter::Part> LineCutter::take(const QByteArray &bytes)
{
    QVector<Part> parts;
    int start = 0;
    while (start < bytes.size()) {
        const int lineFeed = bytes.indexOf('\n', start);
        const int stop = lineFeed < 0 ? bytes.size() : lineFeed;
        if (!dropping)
            pending += bytes.mid(start, stop - start);
        cut(&parts);
        if (lineFeed < 0)
            break;
        if (pending.endsWith('\r'))
            pending.chop(1);
        if (!dropping)
            parts.append({Part::Line, pending});
        pending.clear();
        dropping = false;
        start = lineFeed + 1;
    }
    return parts;
}

QVector<LineCutter::Part> LineCutter::end()
{
    QVector<Part> parts;
    if (!pending.isEmpty() && !dropping)
        parts.append({Part::Line, pending});
    pending.clear();
    dropping = false;
    return parts;
}

void LineCutter::cut(QVector<Part> *parts)
{
    if (pending.size() <= maxBytes)
        return;
    if (mode == Overlong::Refuse) {
        parts->append({Part::TooLong, QByteArray()});
        pending.clear();
        dropping = true;
        return;
    }
    // Only bytes followed by more are cut off: a carriage return at the end may begin the line end.
    while (pending.size() > maxBytes) {
        parts->append({Part::Piece, pending.left(maxBytes)});
        pending.remove(0, maxBytes);
    }
}

QByteArray LineStamper::prefix(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1() + " -> ";
}

QByteArray LineStamper::stamp(const QByteArray &bytes, const QTime &now)
{
    QByteArray out;
    out.reserve(bytes.size() + 32);
    int start = 0;
    while (start < bytes.size()) {
        if (atLineStart)
            out += prefix(now);
        const int lineFeed = bytes.indexOf('\n', start);
        const int end = lineFeed < 0 ? bytes.size() : lineFeed + 1;
        out += bytes.mid(start, end - start);
        atLineStart = lineFeed >= 0;
        start = end;
    }
    return out;
}

TextFeed::TextFeed()
    : decoder(QTextCodec::codecForName("UTF-8")->makeDecoder())
{
}

TextFeed::~TextFeed() = default;

QString TextFeed::take(const QByteArray &bytes, const QTime &now)
{
    const QString text = decoder->toUnicode(timestamps ? stamper.stamp(bytes, now) : bytes);
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\r'))
            continue;
        if (c == QLatin1Char('\n')) {
            column = 0;
        } else if (column == MaxLineChars) {
            out += QLatin1Char('\n');
            column = 0;
        }
        if (c != QLatin1Char('\n'))
            ++column;
        out += c;
    }
    return out;
}

QString TextFeed::note(const QString &text, const QTime &now)
{
    QString out = column > 0 ? QStringLiteral("\n") : QString();
    column = 0;
    stamper.startLine();
    if (timestamps)
        out += QString::fromLatin1(LineStamper::prefix(now));
    return out + QLatin1Char('[') + text + QStringLiteral("]\n");
}

} // namespace monitor
