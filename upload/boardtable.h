#ifndef BOARDTABLE_H
#define BOARDTABLE_H

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
};

// The board types, in the order of the Device box; the first is the default.
inline constexpr Board Boards[] = {
    // 256 KiB of flash, 8 KiB of it the stk500v2 bootloader
    {"MEGA2560", Protocol::Stk500v2, 256, "AT+MCUUPDATE=MEGA", 253952},
    // 32 KiB of flash, 512 bytes of it Optiboot
    {"UNO", Protocol::Stk500v1, 128, "AT+MCUUPDATE=UNO", 32256},
    {"zariV3", Protocol::Stk500v2, 256, "AT+MCUUPDATE=MEGA", 253952},
    {"zureD0", Protocol::Stk500v2, 256, "AT+MCUUPDATE=MEGA", 253952},
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
