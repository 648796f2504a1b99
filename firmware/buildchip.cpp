#include "buildchip.h"

#include <QFile>
#include <QFileInfo>

namespace firmware {

namespace {

// ELF32, as the AVR toolchain writes it: little-endian, 32-bit. Offsets and values as the
// System V ABI and binutils' include/elf/avr.h name them.
const int EiClass = 4;         // e_ident[EI_CLASS]
const int EiData = 5;          // e_ident[EI_DATA]
const char ElfClass32 = 1;     // ELFCLASS32
const char ElfData2Lsb = 1;    // ELFDATA2LSB
const int EMachine = 18;       // u16
const int EFlags = 36;         // u32
const int EPhoff = 28;         // u32
const int EShoff = 32;         // u32
const int EPhentsize = 42;     // u16
const int EPhnum = 44;         // u16
const int EShentsize = 46;     // u16
const int EShnum = 48;         // u16
const int ElfHeaderSize = 52;
const quint16 EmAvr = 83;      // EM_AVR
const quint32 EfAvrMach = 0x7f; // EF_AVR_MACH: the architecture number

const int PType = 0, POffset = 4, PPaddr = 12, PFilesz = 16; // program header fields, u32
const int ProgramHeaderSize = 32;
const quint32 PtLoad = 1;

const int ShType = 4, ShOffset = 16, ShSize = 20; // section header fields, u32
const int SectionHeaderSize = 40;
const quint32 ShtNote = 7;

// Addresses from here on are the data space (SRAM, EEPROM, fuses), not flash.
const quint32 DataSpace = 0x800000;

// avr-libc's device note: owner "AVR", type 1; its description holds the flash start and size,
// SRAM start and size, EEPROM start and size (u32 each), then the length of an offset table
// counted from its own start, the offset of the device name in the string table that follows.
const char NoteOwner[] = "AVR";
const quint32 NoteDeviceInfo = 1;
const int DeviceInfoTable = 24;    // the offset table's length, u32
const int DeviceNameOffset = 28;   // u32, into the string table

// Reads little-endian fields of a buffer; any read outside it marks the reader failed.
class Fields
{
public:
    explicit Fields(const QByteArray &bytes)
        : bytes(bytes)
    {
    }
    quint32 u32(qint64 at) { return value(at, 4); }
    quint16 u16(qint64 at) { return quint16(value(at, 2)); }
    bool inside(qint64 at, qint64 size) const { return at >= 0 && size >= 0 && at + size <= bytes.size(); }
    bool failed = false;

private:
    quint32 value(qint64 at, int size)
    {
        if (!inside(at, size)) {
            failed = true;
            return 0;
        }
        quint32 v = 0;
        for (int i = size - 1; i >= 0; --i)
            v = (v << 8) | quint8(bytes.at(int(at + i)));
        return v;
    }
    const QByteArray &bytes;
};

qint64 aligned4(qint64 n)
{
    return (n + 3) & ~qint64(3);
}

// The device name of a note section, or empty.
QString deviceInNotes(const QByteArray &elf, Fields &f, qint64 offset, qint64 size)
{
    if (!f.inside(offset, size))
        return QString();
    const qint64 end = offset + size;
    for (qint64 at = offset; at + 12 <= end;) {
        const qint64 nameSize = f.u32(at);
        const qint64 descSize = f.u32(at + 4);
        const quint32 type = f.u32(at + 8);
        const qint64 name = at + 12;
        const qint64 desc = name + aligned4(nameSize);
        if (f.failed || desc + descSize > end)
            return QString();
        if (type == NoteDeviceInfo && nameSize == qint64(sizeof NoteOwner)
            && elf.mid(int(name), int(nameSize)) == QByteArray(NoteOwner, int(sizeof NoteOwner)) && descSize > DeviceNameOffset) {
            const qint64 strings = desc + DeviceInfoTable + f.u32(desc + DeviceInfoTable);
            const qint64 device = strings + f.u32(desc + DeviceNameOffset);
            const qint64 nul = elf.indexOf('\0', int(device));
            if (f.failed || device < desc || device >= desc + descSize || nul < 0 || nul > desc + descSize)
                return QString();
            const QByteArray text = elf.mid(int(device), int(nul - device));
            for (const char c : text) {
                if (!(QChar::fromLatin1(c).isLetterOrNumber() || c == '_'))
                    return QString();
            }
            return QString::fromLatin1(text);
        }
        at = desc + aligned4(descSize);
    }
    return QString();
}

} // namespace

bool BuildChip::fits(const QString &chip, int chipArchitecture) const
{
    if (!device.isEmpty())
        return device.compare(chip, Qt::CaseInsensitive) == 0;
    return architecture == 0 || chipArchitecture == 0 || architecture == chipArchitecture; // 0: not known
}

QString BuildChip::text(const QString &chip) const
{
    if (device.isEmpty())
        return QStringLiteral("an avr%1 chip").arg(architecture);
    const QString name = device.compare(chip, Qt::CaseInsensitive) == 0 ? chip : device;
    return QStringLiteral("an ") + name;
}

int architectureOf(const QString &chip)
{
    // avr-gcc's -mmcu tables: avr5 holds the 32 KiB ATmegas, avr6 those with 256 KiB.
    static const struct
    {
        const char *chip;
        int architecture;
    } Architectures[] = {{"atmega328p", 5}, {"atmega2560", 6}};
    for (const auto &a : Architectures) {
        if (chip.compare(QLatin1String(a.chip), Qt::CaseInsensitive) == 0)
            return a.architecture;
    }
    return 0;
}

std::optional<BuildChip> readBuildChip(const QByteArray &elf, const QByteArray &image)
{
    Fields f(elf);
    if (!elf.startsWith("\x7f" "ELF") || elf.size() < ElfHeaderSize || elf.at(EiClass) != ElfClass32
        || elf.at(EiData) != ElfData2Lsb || f.u16(EMachine) != EmAvr)
        return std::nullopt;
    BuildChip chip;
    chip.architecture = int(f.u32(EFlags) & EfAvrMach);

    // The flash contents: every loadable segment placed below the data space.
    const qint64 phoff = f.u32(EPhoff);
    const int phnum = f.u16(EPhnum);
    if (f.u16(EPhentsize) < ProgramHeaderSize)
        return std::nullopt;
    qint64 flashEnd = 0;
    for (int i = 0; i < phnum; ++i) {
        const qint64 ph = phoff + qint64(i) * f.u16(EPhentsize);
        const quint32 paddr = f.u32(ph + PPaddr);
        const qint64 size = f.u32(ph + PFilesz);
        const qint64 offset = f.u32(ph + POffset);
        if (f.failed)
            return std::nullopt;
        if (f.u32(ph + PType) != PtLoad || size == 0 || paddr >= DataSpace)
            continue;
        if (!f.inside(offset, size) || paddr + size > image.size()
            || elf.mid(int(offset), int(size)) != image.mid(int(paddr), int(size)))
            return std::nullopt;
        flashEnd = qMax(flashEnd, qint64(paddr) + size);
    }
    if (flashEnd != image.size())
        return std::nullopt;

    const qint64 shoff = f.u32(EShoff);
    const int shnum = f.u16(EShnum);
    if (f.u16(EShentsize) < SectionHeaderSize)
        return chip;
    for (int i = 0; i < shnum && chip.device.isEmpty() && !f.failed; ++i) {
        const qint64 sh = shoff + qint64(i) * f.u16(EShentsize);
        if (f.u32(sh + ShType) == ShtNote)
            chip.device = deviceInNotes(elf, f, f.u32(sh + ShOffset), f.u32(sh + ShSize));
    }
    return chip;
}

std::optional<BuildChip> buildChipBeside(const QString &hexPath, const QByteArray &image)
{
    const QFileInfo hex(hexPath);
    if (hex.suffix().compare(QLatin1String("hex"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    QFile elf(hex.path() + QLatin1Char('/') + hex.completeBaseName() + QStringLiteral(".elf"));
    if (!QFileInfo(elf).isFile() || elf.size() > MaxElfSize || !elf.open(QIODevice::ReadOnly))
        return std::nullopt;
    return readBuildChip(elf.readAll(), image);
}

} // namespace firmware
