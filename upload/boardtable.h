#ifndef BOARDTABLE_H
#define BOARDTABLE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace upload {

// The bootloader protocol a board speaks through the module.
enum class Protocol { Stk500v1, Stk500v2 };

// What differs per board type; a new board type is one row of Boards.
struct Board
{
    const char *name;          // as the Device box and the command line show it
    Protocol protocol;
    int pageSize;              // bytes per flash page, the unit of each write
    const char *updateCommand; // the AT command that hands the data port to its bootloader
    // bytes of flash below the bootloader; a larger image would overwrite the bootloader itself
    qint64 applicationSize;
    qint64 flashSize;    // bytes; with the EEPROM's, told to an STK500v1 bootloader at set device
    int eepromSize;      // bytes
    const char *chip;    // the microcontroller, as its data sheet names it
    quint8 signature[3]; // the chip's device signature, read before any page is written
    const char *ideBoard; // the sketch tools' board id for this chip

    QByteArray signatureBytes() const { return QByteArray(reinterpret_cast<const char *>(signature), 3); }
};

// The board types, in the order of the Device box; the first is the default.
inline constexpr Board Boards[] = {
    // 256 KiB of flash, 8 KiB of it the stk500v2 bootloader
    {"MEGA2560", Protocol::Stk500v2, 256, "AT+MCUUPDATE=MEGA", 253952, 262144, 4096, "ATmega2560",
     {0x1E, 0x98, 0x01}, "mega2560"},
    // 32 KiB of flash, 512 bytes of it Optiboot
    {"UNO", Protocol::Stk500v1, 128, "AT+MCUUPDATE=UNO", 32256, 32768, 1024, "ATmega328P", {0x1E, 0x95, 0x0F},
     "uno"},
    // Boards built on the MEGA2560's chip and bootloader: the sketch tools build for them as for it.
    {"zariV3", Protocol::Stk500v2, 256, "AT+MCUUPDATE=MEGA", 253952, 262144, 4096, "ATmega2560",
     {0x1E, 0x98, 0x01}, "mega2560"},
    {"zureD0", Protocol::Stk500v2, 256, "AT+MCUUPDATE=MEGA", 253952, 262144, 4096, "ATmega2560",
     {0x1E, 0x98, 0x01}, "mega2560"},
};

// The row whose name is `name`, compared in `sensitivity`; null when there is none.
inline const Board *findBoard(const QString &name, Qt::CaseSensitivity sensitivity = Qt::CaseSensitive)
{
    for (const Board &board : Boards) {
        if (name.compare(QLatin1String(board.name), sensitivity) == 0)
            return &board;
    }
    return nullptr;
}

// The first row whose chip has this signature (3 bytes); null when no board type has it.
inline const Board *findBoardBySignature(const QByteArray &signature)
{
    for (const Board &board : Boards) {
        if (board.signatureBytes() == signature)
            return &board;
    }
    return nullptr;
}

// The first row of a protocol: the board a bootloader of that protocol is spoken to as before
// its chip is known.
inline const Board &firstBoardOf(Protocol protocol)
{
    for (const Board &board : Boards) {
        if (board.protocol == protocol)
            return board;
    }
    return Boards[0];
}

// The names of the rows, all or those of one protocol, in table order.
inline QStringList boardNames(const Protocol *only = nullptr)
{
    QStringList names;
    for (const Board &board : Boards) {
        if (!only || board.protocol == *only)
            names << QLatin1String(board.name);
    }
    return names;
}

} // namespace upload

#endif // BOARDTABLE_H
