#ifndef PROTOCOLBYTES_H
#define PROTOCOLBYTES_H

// The bytes of the formats the tests write by hand: Intel HEX records and STK500v2 messages.
// Header-only; each is built here independently of the code under test.

#include <QByteArray>

// One Intel HEX record with its checksum, upper-case digits, no line end.
inline QByteArray hexRecord(int type, int address, const QByteArray &data)
{
    QByteArray body;
    body.append(char(data.size()));
    body.append(char(address >> 8));
    body.append(char(address));
    body.append(char(type));
    body.append(data);
    int sum = 0;
    for (char c : qAsConst(body))
        sum += static_cast<unsigned char>(c);
    body.append(char(-sum));
    return ':' + body.toHex().toUpper();
}

// An STK500v2 message: MESSAGE_START (0x1B), sequence, size high and low, TOKEN (0x0E), body,
// and the XOR of everything before it.
inline QByteArray stk500v2Frame(int sequence, const QByteArray &body)
{
    QByteArray frame;
    frame.append(char(0x1B)).append(char(sequence));
    frame.append(char(body.size() >> 8)).append(char(body.size() & 0xFF)).append(char(0x0E));
    frame.append(body);
    char checksum = 0;
    for (char c : qAsConst(frame))
        checksum ^= c;
    return frame.append(checksum);
}

#endif // PROTOCOLBYTES_H
