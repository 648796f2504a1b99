#ifndef HEXCONVERT_H
#define HEXCONVERT_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <string>

namespace firmware {

// Value of two hexadecimal digit characters, upper or lower case. No character is rejected:
// anything else counts as a digit of value (code - '0'), so the result may lie outside 0..255.
int hexByte(char first, char second);

// Builds the raw flash image (byte offset = flash address, gaps 0x00) from Intel HEX text
// fed in pieces of any size. Lines of any length are taken whole; only the characters a
// record can use are kept, so memory stays bounded by the image. Blank lines are passed over;
// any other line that does not begin with ':' is a problem.
class HexImage
{
public:
    // Larger than the flash of any AVR; a record reaching beyond it refuses the whole image.
    static const int MaxImageSize = 1024 * 1024; // bytes

    void feed(const char *data, std::size_t size);
    // Ends the input: a last line without a line end is still a record.
    void finish();

    // An end record (type 01, in any letter case, checksum right) was read; later records are
    // ignored, and later lines are still held to "blank or a record".
    bool ended() const { return ended_; }
    // A record reached beyond MaxImageSize; there is no image to write.
    bool refused() const { return refused_; }
    bool done() const { return refused_; }

    const QByteArray &image() const { return image_; }
    // Problems found, one per line ("line N: ..."), the first MaxDiagnostics of them
    // followed by a count of the rest.
    QStringList diagnostics() const;

private:
    static const int MaxDiagnostics = 20;

    void takeLine(bool hasLineEnd);
    void takeRecord(int length);
    void writeData(qint64 address, int count);
    void diagnose(const QString &text);

    std::string line_;        // the kept head of the current line
    qint64 lineLength_ = 0;   // its whole length
    char lastChar_ = 0;       // its last character, kept or not
    bool lineBlank_ = true;   // it holds only blanks so far
    qint64 lineNumber_ = 0;
    qint64 base_ = 0;         // from the last extended segment/linear address record
    QByteArray image_;
    QStringList diagnostics_;
    qint64 suppressed_ = 0;
    bool ended_ = false;
    bool refused_ = false;
};

// An Intel HEX file read under the one rule of the window and quarnel-cli: only a regular file of
// at most MaxFileSize bytes is opened (a device or a pipe may never end, and would block the
// reader); a line that is neither blank nor a record, a record that does not parse or whose
// checksum is wrong, data beyond the image limit, a missing end record (a file cut short) or no
// data at all leave no image.
struct HexFile
{
    // Far above the text of the largest AVR flash.
    static const qint64 MaxFileSize = 64 * 1024 * 1024; // bytes

    QByteArray image;        // the flash image, valid when error is empty
    QStringList diagnostics; // problem lines ("line N: ...")
    QString error;           // why there is no image; empty when there is one
    bool unreadable = false; // the error is about the file itself, not its text

    static HexFile read(const QString &path);
};

// Converts the Intel HEX file at `path` into the raw image `outPath` under HexFile's rule. The
// image is written to a new file beside `outPath` and then put in its place, so a reader of the
// old image keeps it whole. Failures leave `outPath` as it was; they and the problem lines are
// reported on standard error. True when a new image is in place.
bool hexToBin(const QString &path, const QString &outPath = QStringLiteral("./update.bin"));

} // namespace firmware

#endif // HEXCONVERT_H
