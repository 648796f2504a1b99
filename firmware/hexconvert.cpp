#include "hexconvert.h"

#include "platform.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace firmware {

namespace {

// Record types of the Intel HEX format.
const int DataRecord = 0x00;
const int EndOfFileRecord = 0x01;
const int ExtendedSegmentAddressRecord = 0x02;
const int ExtendedLinearAddressRecord = 0x04;

const int HeaderLength = 9;                          // ':', count, address, type
const int MaxRecordLength = HeaderLength + 255 * 2 + 2; // the longest record, checksum included

const int TempNameAttempts = 16;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

int digitValue(char c)
{
    const int x = static_cast<unsigned char>(c);
    if (x > 0x60)
        return x - 0x57;
    if (x >= 0x41)
        return x - 0x37;
    return x - 0x30;
}

QString hex2(int value)
{
    return QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0'));
}

// Opens a new file beside `path`, never one that exists already.
FILE *createBeside(const QString &path, QString *tempPath)
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < TempNameAttempts; ++attempt) {
        QString name = path + QLatin1Char('.');
        for (int i = 0; i < 6; ++i)
            name += QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))]);
        FILE *file = platform::openFile(name, "wbx");
        if (file) {
            *tempPath = name;
            return file;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

} // namespace

int hexByte(char first, char second)
{
    return 16 * digitValue(first) + digitValue(second);
}

void HexImage::feed(const char *data, std::size_t size)
{
    const char *end = data + size;
    while (data < end && !done()) {
        const char *lf = static_cast<const char *>(std::memchr(data, '\n', std::size_t(end - data)));
        const char *pieceEnd = lf ? lf : end;
        const std::size_t piece = std::size_t(pieceEnd - data);
        if (piece > 0) {
            const std::size_t room = std::size_t(MaxRecordLength) - line_.size();
            line_.append(data, qMin(piece, room));
            lineLength_ += qint64(piece);
            lineBlank_ = lineBlank_ && std::all_of(data, pieceEnd, isBlank);
            lastChar_ = pieceEnd[-1];
        }
        if (!lf)
            return;
        takeLine(true);
        data = lf + 1;
    }
}

void HexImage::finish()
{
    if (!done() && lineLength_ > 0)
        takeLine(false);
}

QStringList HexImage::diagnostics() const
{
    QStringList all = diagnostics_;
    if (suppressed_ > 0)
        all << QStringLiteral("%1 more problems not listed").arg(suppressed_);
    return all;
}

void HexImage::diagnose(const QString &text)
{
    if (diagnostics_.size() < MaxDiagnostics)
        diagnostics_ << QStringLiteral("line %1: %2").arg(QString::number(lineNumber_), text);
    else
        ++suppressed_;
}

void HexImage::takeLine(bool hasLineEnd)
{
    ++lineNumber_;
    // A CR before the LF is part of the line end, as in text mode.
    qint64 length = lineLength_;
    if (hasLineEnd && length > 0 && lastChar_ == '\r')
        --length;
    // Any other text would leave a hole of zeros in the image: only a blank line is passed over.
    if (length > 0 && line_[0] == ':') {
        if (!ended_)
            takeRecord(int(qMin<qint64>(length, MaxRecordLength)));
    }
    else if (!lineBlank_)
        diagnose(QStringLiteral("not a record: it does not begin with ':'"));
    line_.clear();
    lineLength_ = 0;
    lastChar_ = 0;
    lineBlank_ = true;
}

void HexImage::takeRecord(int length)
{
    const char *l = line_.data();
    if (length < HeaderLength) {
        diagnose(QStringLiteral("record too short for its header; skipped"));
        return;
    }
    const int count = hexByte(l[1], l[2]);
    if (count < 0 || count > 255) {
        diagnose(QStringLiteral("byte count \"%1\" is not hexadecimal; skipped").arg(QString::fromLatin1(l + 1, 2)));
        return;
    }
    const int dataEnd = HeaderLength + 2 * count;
    if (length < dataEnd) {
        diagnose(QStringLiteral("record announces %1 data bytes but the line holds %2; skipped")
                     .arg(count)
                     .arg((length - HeaderLength) / 2));
        return;
    }
    const int high = hexByte(l[3], l[4]) & 0xFF;
    const int low = hexByte(l[5], l[6]) & 0xFF;
    const int type = hexByte(l[7], l[8]) & 0xFF;

    int sum = count + high + low + type;
    for (int i = HeaderLength; i < dataEnd; i += 2)
        sum += hexByte(l[i], l[i + 1]) & 0xFF;
    bool checksumRight = false;
    if (length < dataEnd + 2) {
        diagnose(QStringLiteral("checksum missing"));
    } else {
        const int checksum = hexByte(l[dataEnd], l[dataEnd + 1]) & 0xFF;
        const int expected = (0x100 - (sum & 0xFF)) & 0xFF;
        checksumRight = checksum == expected;
        if (!checksumRight)
            diagnose(QStringLiteral("checksum %1, expected %2").arg(hex2(checksum), hex2(expected)));
    }

    switch (type) {
    case DataRecord:
        writeData(base_ + ((high << 8) | low), count);
        break;
    case ExtendedSegmentAddressRecord:
    case ExtendedLinearAddressRecord: {
        if (count != 2) {
            diagnose(QStringLiteral("address record with %1 data bytes instead of 2; skipped").arg(count));
            break;
        }
        const qint64 value = (hexByte(l[9], l[10]) & 0xFF) * 256 + (hexByte(l[11], l[12]) & 0xFF);
        base_ = type == ExtendedLinearAddressRecord ? value << 16 : value << 4;
        break;
    }
    case EndOfFileRecord:
        // As avr-objcopy reads it: whatever its letter case or what follows the checksum.
        ended_ = checksumRight;
        break;
    default:
        break; // start addresses: nothing to place
    }
}

void HexImage::writeData(qint64 address, int count)
{
    if (count == 0)
        return;
    const qint64 end = address + count;
    if (end > MaxImageSize) {
        diagnostics_ << QStringLiteral("line %1: data at 0x%2 lies beyond the %3 KiB image limit; no image written")
                            .arg(lineNumber_)
                            .arg(address, 0, 16)
                            .arg(MaxImageSize / 1024);
        refused_ = true;
        return;
    }
    if (end > image_.size())
        image_.append(int(end - image_.size()), '\0');
    char *out = image_.data() + address;
    const char *l = line_.data() + HeaderLength;
    for (int k = 0; k < count; ++k, l += 2)
        out[k] = char(hexByte(l[0], l[1]));
}

HexFile HexFile::read(const QString &path)
{
    HexFile f;
    f.unreadable = true;
    const QFileInfo info(path);
    if (!info.exists()) {
        f.error = QStringLiteral("no such file");
        return f;
    }
    // Looked at before opening: opening a FIFO blocks until a writer comes, and a device may never end.
    if (!info.isFile()) {
        f.error = QStringLiteral("not a regular file");
        return f;
    }
    if (info.size() > MaxFileSize) {
        f.error = QStringLiteral("larger than %1 MiB, too large for a program of an AVR").arg(MaxFileSize >> 20);
        return f;
    }
    // Opened without blocking and checked again once open: a FIFO put in the file's place
    // meanwhile is refused, not waited for.
    QByteArray text;
    if (!platform::readRegularFile(path, MaxFileSize, &text)) {
        f.error = QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return f;
    }
    if (text.size() > MaxFileSize) {
        f.error = QStringLiteral("grew beyond %1 MiB while being read").arg(MaxFileSize >> 20);
        return f;
    }
    HexImage hex;
    hex.feed(text.constData(), std::size_t(text.size()));
    f.unreadable = false;
    hex.finish();
    f.diagnostics = hex.diagnostics();

    if (hex.refused())
        f.error = QStringLiteral("data beyond the %1 KiB image limit").arg(HexImage::MaxImageSize / 1024);
    else if (!f.diagnostics.isEmpty())
        f.error = QStringLiteral("not a well-formed Intel HEX file (see the problems above)");
    else if (!hex.ended())
        f.error = QStringLiteral("no end record (\":00000001FF\"); the file may be cut short");
    else if (hex.image().isEmpty())
        f.error = QStringLiteral("no data records");
    else
        f.image = hex.image();
    return f;
}

bool hexToBin(const QString &path, const QString &outPath)
{
    const HexFile hex = HexFile::read(path);
    const QByteArray source = QFile::encodeName(path);
    for (const QString &d : hex.diagnostics)
        std::fprintf(stderr, "%s: %s\n", source.constData(), d.toLocal8Bit().constData());
    if (hex.unreadable) {
        std::fprintf(stderr, "File open error!!!\n: %s\n", hex.error.toLocal8Bit().constData());
        return false;
    }
    if (!hex.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s; no image written\n", source.constData(), hex.error.toLocal8Bit().constData());
        return false;
    }

    QString tempPath;
    FILE *out = createBeside(outPath, &tempPath);
    if (!out) {
        std::perror("File creat error!!!\n");
        return false;
    }
    bool written = std::fwrite(hex.image.constData(), 1, std::size_t(hex.image.size()), out)
                   == std::size_t(hex.image.size());
    written = std::fclose(out) == 0 && written;
    if (!written)
        std::perror("File write error!!!\n");
    if (written && !platform::replaceFile(tempPath, outPath)) {
        std::perror("File creat error!!!\n");
        written = false;
    }
    if (!written)
        QFile::remove(tempPath);
    return written;
}

} // namespace firmware
