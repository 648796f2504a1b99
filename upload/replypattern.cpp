#include "replypattern.h"

#include "stk500v1.h"
#include "stk500v2.h"

#include <QStringList>

namespace upload {

namespace {

constexpr int FrameHeader = 5; // MESSAGE_START, sequence number, two size bytes, TOKEN
constexpr int ShownBytes = 24;  // of a received reply, in a diagnostic
constexpr int ShownAnyBytes = 4; // a longer run of bytes of any value is shown as its length

QString hexBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QStringLiteral("nothing");
    const QString shown = QString::fromLatin1(bytes.left(ShownBytes).toHex(' '));
    return bytes.size() <= ShownBytes ? shown
                                      : QStringLiteral("%1 ... (%2 bytes)").arg(shown).arg(bytes.size());
}

} // namespace

ReplyPattern ReplyPattern::stk500v1(int size)
{
    ReplyPattern p;
    p.values = QByteArray(size, '\0');
    p.fixed = QVector<bool>(size, false);
    p.values[0] = char(STK_INSYNC);
    p.values[size - 1] = char(STK_OK);
    p.fixed[0] = true;
    p.fixed[size - 1] = true;
    return p;
}

ReplyPattern ReplyPattern::stk500v2(quint8 sequence, quint8 command, int bodySize,
                                    const QVector<int> &okAt)
{
    ReplyPattern p;
    const int size = FrameHeader + bodySize + 1;
    p.values = QByteArray(size, '\0');
    p.fixed = QVector<bool>(size, false);
    const auto set = [&p](int at, quint8 value) {
        p.values[at] = char(value);
        p.fixed[at] = true;
    };
    set(0, MESSAGE_START);
    set(1, sequence);
    set(2, quint8(bodySize >> 8));
    set(3, quint8(bodySize & 0xFF));
    set(4, TOKEN);
    set(FrameHeader, command);
    set(FrameHeader + 1, STATUS_CMD_OK);
    for (int at : okAt)
        set(FrameHeader + at, STATUS_CMD_OK);
    p.checksum = true;
    // Where the whole body is fixed, so is the checksum, and the diagnostic can show it.
    if (!p.fixed.mid(0, size - 1).contains(false)) {
        quint8 x = 0;
        for (int i = 0; i < size - 1; ++i)
            x ^= quint8(p.values.at(i));
        set(size - 1, x);
    }
    return p;
}

bool ReplyPattern::admits(const QByteArray &start) const
{
    if (start.size() > values.size())
        return false;
    for (int i = 0; i < start.size(); ++i) {
        if (fixed.at(i) && start.at(i) != values.at(i))
            return false;
    }
    return true;
}

bool ReplyPattern::matches(const QByteArray &reply) const
{
    if (reply.size() != values.size() || !admits(reply))
        return false;
    if (!checksum)
        return true;
    quint8 x = 0;
    for (char c : reply)
        x ^= quint8(c);
    return x == 0;
}

QString ReplyPattern::text() const
{
    QStringList bytes;
    for (int i = 0; i < values.size();) {
        if (fixed.at(i)) {
            bytes << QString::fromLatin1(values.mid(i++, 1).toHex());
            continue;
        }
        int end = i;
        while (end < values.size() && !fixed.at(end))
            ++end;
        if (end - i > ShownAnyBytes)
            bytes << QStringLiteral("(%1 bytes)").arg(end - i);
        else
            for (int k = i; k < end; ++k)
                bytes << QStringLiteral("xx");
        i = end;
    }
    return bytes.join(QLatin1Char(' '));
}

QString ReplyPattern::mismatch(const QByteArray &reply) const
{
    return QStringLiteral("expected %1, got %2").arg(text(), hexBytes(reply));
}

} // namespace upload
