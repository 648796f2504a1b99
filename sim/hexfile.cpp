#include "hexfile.h"

#include <QFile>

namespace sim {

namespace {

// Record types of the Intel HEX format.
enum RecordType : int {
    Data = 0x00,
    EndOfFile = 0x01,
    ExtendedSegmentAddress = 0x02,
    StartSegmentAddress = 0x03,
    ExtendedLinearAddress = 0x04,
    StartLinearAddress = 0x05,
};

const int RecordHeaderBytes = 4; // byte count, address high, address low, type

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Decodes the hex digits after the colon; false if a digit is invalid or their count is odd.
bool decodeRecord(const QByteArray &digits, QByteArray *record)
{
    if (digits.size() % 2 != 0)
        return false;
    record->resize(digits.size() / 2);
    for (int i = 0; i < record->size(); ++i) {
        const int high = hexDigit(digits.at(2 * i));
        const int low = hexDigit(digits.at(2 * i + 1));
        if (high < 0 || low < 0)
            return false;
        (*record)[i] = char(high << 4 | low);
    }
    return true;
}

HexImage failure(int line, const QString &reason)
{
    HexImage result;
    result.error = QStringLiteral("line %1: %2").arg(line).arg(reason);
    return result;
}

} // namespace

HexImage parseIntelHex(const QByteArray &text, int maxSize)
{
    HexImage result;
    qint64 base = 0; // from the extended address records
    bool ended = false;
    const QList<QByteArray> lines = text.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        const int lineNumber = index + 1;
        const QByteArray line = lines.at(index).trimmed();
        if (line.isEmpty())
            continue;
        if (ended)
            return failure(lineNumber, QStringLiteral("data after the end-of-file record"));
        if (line.at(0) != ':')
            return failure(lineNumber, QStringLiteral("a record must start with ':'"));
        QByteArray record;
        if (!decodeRecord(line.mid(1), &record))
            return failure(lineNumber, QStringLiteral("invalid hexadecimal digits"));
        if (record.size() < RecordHeaderBytes + 1)
            return failure(lineNumber, QStringLiteral("record too short"));
        const auto byteAt = [&record](int i) { return quint8(record.at(i)); };
        const int count = byteAt(0);
        if (record.size() != RecordHeaderBytes + count + 1)
            return failure(lineNumber, QStringLiteral("byte count %1 does not match the record length").arg(count));
        quint8 sum = 0;
        for (char c : record)
            sum = quint8(sum + quint8(c));
        if (sum != 0)
            return failure(lineNumber, QStringLiteral("checksum mismatch"));
        const int offset = byteAt(1) << 8 | byteAt(2);
        const int type = byteAt(3);
        const QByteArray payload = record.mid(RecordHeaderBytes, count);
        switch (type) {
        case Data: {
            const qint64 start = base + offset;
            if (start + count > maxSize)
                return failure(lineNumber, QStringLiteral("data at 0x%1 lies beyond the flash size of %2 bytes")
                                               .arg(start + count - 1, 0, 16)
                                               .arg(maxSize));
            if (result.bytes.size() < start + count)
                result.bytes.append(QByteArray(int(start + count - result.bytes.size()), char(0xFF)));
            result.bytes.replace(int(start), count, payload);
            break;
        }
        case EndOfFile:
            ended = true;
            break;
        case ExtendedSegmentAddress:
        case ExtendedLinearAddress:
            if (count != 2)
                return failure(lineNumber, QStringLiteral("an address record needs two bytes"));
            base = qint64(byteAt(4) << 8 | byteAt(5)) << (type == ExtendedLinearAddress ? 16 : 4);
            break;
        case StartSegmentAddress:
        case StartLinearAddress:
            break; // an entry point means nothing to a board that starts at its reset vector
        default:
            return failure(lineNumber, QStringLiteral("unknown record type %1").arg(type));
        }
    }
    if (!ended)
        return failure(lines.size(), QStringLiteral("no end-of-file record"));
    return result;
}

HexImage readIntelHexFile(const QString &path, int maxSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        HexImage result;
        result.error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return result;
    }
    return parseIntelHex(file.readAll(), maxSize);
}

} // namespace sim
