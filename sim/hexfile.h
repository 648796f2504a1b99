#ifndef SIM_HEXFILE_H
#define SIM_HEXFILE_H

#include <QByteArray>
#include <QString>

namespace sim {

// Reads an Intel HEX text into a flat flash image for preloading a simulated board.
// The simulator keeps its own reader so that it never depends on the converter it helps to test.
struct HexImage
{
    QByteArray bytes; // byte offset = flash address; gaps are 0xFF; ends at the highest data byte
    QString error;    // empty on success, else "line N: reason"
};

// maxSize: addresses at or above it are refused (the board's flash size).
HexImage parseIntelHex(const QByteArray &text, int maxSize);

// Reads and parses a file; a file that cannot be read is reported in the error.
HexImage readIntelHexFile(const QString &path, int maxSize);

} // namespace sim

#endif // SIM_HEXFILE_H
