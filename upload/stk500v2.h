#ifndef STK500V2_H
#define STK500V2_H

#include <QtGlobal>

namespace upload {

// STK500 version 2 (AVR068), as far as the upload path speaks it.
// Assumptions: a message is MESSAGE_START, sequence number, body size (big-endian), TOKEN,
// body, and the XOR of all preceding bytes; an answer repeats the command byte and follows it
// with a status byte; flash is addressed in 16-bit words, most significant byte first.

constexpr quint8 MESSAGE_START = 0x1B;
constexpr quint8 TOKEN = 0x0E;

// Commands
constexpr quint8 CMD_SIGN_ON = 0x01;
constexpr quint8 CMD_GET_PARAMETER = 0x03;
constexpr quint8 CMD_LOAD_ADDRESS = 0x06;
constexpr quint8 CMD_ENTER_PROGMODE_ISP = 0x10;
constexpr quint8 CMD_LEAVE_PROGMODE_ISP = 0x11;
constexpr quint8 CMD_CHIP_ERASE_ISP = 0x12;
constexpr quint8 CMD_PROGRAM_FLASH_ISP = 0x13;
constexpr quint8 CMD_READ_FLASH_ISP = 0x14;
constexpr quint8 CMD_SPI_MULTI = 0x1D;

// Status
constexpr quint8 STATUS_CMD_OK = 0x00;
constexpr quint8 STATUS_CMD_FAILED = 0xC0;

// Parameters
constexpr quint8 PARAM_HW_VER = 0x90;
constexpr quint8 PARAM_SW_MAJOR = 0x91;
constexpr quint8 PARAM_SW_MINOR = 0x92;
constexpr quint8 PARAM_VTARGET = 0x94;

// Serial programming instructions
constexpr quint8 SPI_PROGRAMMING_ENABLE = 0xAC;
constexpr quint8 SPI_READ_SIGNATURE = 0x30;
constexpr quint8 SPI_LOAD_PAGE_LOW = 0x40;
constexpr quint8 SPI_WRITE_PAGE = 0x4C;
constexpr quint8 SPI_READ_FLASH_LOW = 0x20;

// Load address: bit 31 of the address asks the bootloader to set up extended addressing.
constexpr quint8 LOAD_ADDRESS_EXTENDED = 0x80;

// Program flash mode: page mode, ready/busy polling, write the page at the end.
constexpr quint8 PROGRAM_MODE_PAGE_RDY = 0xC1;

} // namespace upload

#endif // STK500V2_H
