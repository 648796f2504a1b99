#ifndef BUILDCHIP_H
#define BUILDCHIP_H

#include <QByteArray>
#include <QString>

#include <optional>

namespace firmware {

// The chip a program was built for, as its ELF file, which the sketch build tools leave beside
// the HEX file (Blink.ino.elf beside Blink.ino.hex; firmware.elf beside firmware.hex), records
// it: avr-libc's start-up code puts the device's name into a note of the program
// (.note.gnu.avr.deviceinfo), and the ELF header carries the instruction-set architecture the
// compiler was told (avr5 for an ATmega328P, avr6 for an ATmega2560). The name tells the chip;
// the architecture tells only its family, and is what is left when a library older than the
// note built the program.
struct BuildChip
{
    QString device;       // as the compiler names it ("atmega328p"); empty without the note
    int architecture = 0; // 5 for avr5, 6 for avr6, ...

    // Whether a program so built can run on `chip` ("ATmega328P") of `chipArchitecture`: the
    // same device when the note names one, else the same architecture (when both are known).
    bool fits(const QString &chip, int chipArchitecture) const;
    // "an ATmega328P" / "an avr5 chip", for messages; `chip` spells the name as people write it
    // when it is the device.
    QString text(const QString &chip = QString()) const;
};

// The chip recorded in `elf` when `elf` is the program whose flash image is `image`: its
// loadable flash contents equal to the image byte for byte, and nothing beyond. Nothing for an
// ELF that is not an AVR program, is damaged, or holds another program (a build older or newer
// than the HEX file): that tells nothing about this image.
std::optional<BuildChip> readBuildChip(const QByteArray &elf, const QByteArray &image);

// The same for the ELF file beside `hexPath` (its name with .elf for .hex); nothing when there
// is none, it cannot be read, or it is larger than MaxElfSize.
std::optional<BuildChip> buildChipBeside(const QString &hexPath, const QByteArray &image);

// The AVR architecture number of a chip the boards carry ("ATmega328P": 5, "ATmega2560": 6), 0
// for another.
int architectureOf(const QString &chip);

// Far above an AVR program with its debugging information.
const qint64 MaxElfSize = 64 * 1024 * 1024; // bytes

} // namespace firmware

#endif // BUILDCHIP_H
