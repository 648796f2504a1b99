#ifndef REPLYPATTERN_H
#define REPLYPATTERN_H

#include <QByteArray>
#include <QString>
#include <QVector>

namespace upload {

// What a bootloader's answer to one request must look like: its length, the bytes the protocol
// fixes (sync and status bytes, frame fields) and, for STK500v2, the XOR checksum; any value
// elsewhere (parameter values, signature bytes, flash contents).
class ReplyPattern
{
public:
    // STK_INSYNC, size - 2 bytes of any value, STK_OK.
    static ReplyPattern stk500v1(int size);
    // A whole STK500v2 answer frame: MESSAGE_START, the request's sequence number, the body
    // size, TOKEN, the command id, STATUS_CMD_OK, bodySize - 2 more bytes of which those at
    // okAt (body offsets) must be STATUS_CMD_OK too, and the checksum.
    static ReplyPattern stk500v2(quint8 sequence, quint8 command, int bodySize,
                                 const QVector<int> &okAt = {});

    int size() const { return values.size(); }
    bool matches(const QByteArray &reply) const;
    // False as soon as a received byte contradicts the pattern, so a wrong reply need not be
    // waited out.
    bool admits(const QByteArray &start) const;
    // The expected bytes in hexadecimal, "xx" for any value: "14 xx 10".
    QString text() const;
    // The diagnostic for a reply that does not match: "expected 14 10, got 15 15".
    QString mismatch(const QByteArray &reply) const;

private:
    QByteArray values;
    QVector<bool> fixed;
    bool checksum = false; // the last byte makes the XOR of all bytes zero
};

} // namespace upload

#endif // REPLYPATTERN_H
