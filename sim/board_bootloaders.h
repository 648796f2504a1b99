#ifndef BOARD_BOOTLOADERS_H
#define BOARD_BOOTLOADERS_H

#include <cstddef>
#include <cstdint>

// The real serial bootloaders, embedded at build time (sim/bootloaders/, generated source):
// Optiboot built from Debian's arduino-core-avr sources for the ATmega328P at 16 MHz, 115200 baud,
// and Debian's stk500boot_v2_mega2560.hex as shipped.
namespace sim {
namespace bootloaders {

struct Image
{
    const unsigned char *data;
    std::size_t size;
    std::uint32_t address; // byte address of data[0] in flash
};

Image optibootAtmega328p();
Image stk500v2Atmega2560();

} // namespace bootloaders
} // namespace sim

#endif // BOARD_BOOTLOADERS_H
