#ifndef FLOODLINES_H
#define FLOODLINES_H

// What the flooding board application prints (build/avr/serialflood, tests/avr/serialecho.c
// built with FLOOD): numbered lines of 64 bytes without a pause, "00000042 abc…XYZ.\r\n", so that
// a lost or added byte shows. Header-only.

#include <QByteArray>

const int FloodLineBytes = 64;
const int FloodNumberDigits = 8;

inline const QByteArray &floodLineTail()
{
    static const QByteArray tail(" abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.\r\n");
    return tail;
}

inline QByteArray floodLine(qint64 number)
{
    return QByteArray::number(number).rightJustified(FloodNumberDigits, '0') + floodLineTail();
}

// Whether text, from its first whole line on, is the application's output without a byte lost or
// added; its end may cut a line. *first: the number of that first whole line, *lines: how many
// whole lines there are. Text that holds no whole line is not a run.
inline bool floodRunUnbroken(const QByteArray &text, qint64 *first = nullptr, int *lines = nullptr)
{
    int tail = text.indexOf(floodLineTail());
    if (tail >= 0 && tail < FloodNumberDigits) // the first line's number was cut off
        tail = text.indexOf(floodLineTail(), tail + 1);
    if (tail < 0)
        return false;
    int at = tail - FloodNumberDigits;
    bool ok = false;
    const qint64 start = text.mid(at, FloodNumberDigits).toLongLong(&ok);
    if (!ok || floodLine(start) != text.mid(at, FloodLineBytes))
        return false;
    int whole = 0;
    for (qint64 number = start; at < text.size(); ++number, at += FloodLineBytes) {
        const QByteArray expected = floodLine(number);
        const QByteArray got = text.mid(at, FloodLineBytes);
        if (!expected.startsWith(got))
            return false;
        if (got.size() == FloodLineBytes)
            ++whole;
    }
    if (first)
        *first = start;
    if (lines)
        *lines = whole;
    return true;
}

#endif // FLOODLINES_H
