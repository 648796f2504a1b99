#ifndef STK500V1_H
#define STK500V1_H

#include <QtGlobal>

namespace upload {

// STK500 version 1 (AVR061), as far as the upload path speaks it.
// Assumptions: every command ends with CRC_EOP; a bootloader in sync answers STK_INSYNC first
// and STK_OK last; flash is addressed in 16-bit words, low byte first.

// Responses
constexpr quint8 STK_OK = 0x10;
constexpr quint8 STK_INSYNC = 0x14;
constexpr quint8 CRC_EOP = 0x20; // ' '

// Commands
constexpr quint8 STK_GET_SYNC = 0x30;       // '0'
constexpr quint8 STK_GET_PARAMETER = 0x41;  // 'A'
constexpr quint8 STK_SET_DEVICE = 0x42;     // 'B'
constexpr quint8 STK_SET_DEVICE_EXT = 0x45; // 'E'
constexpr quint8 STK_ENTER_PROGMODE = 0x50; // 'P'
constexpr quint8 STK_LEAVE_PROGMODE = 0x51; // 'Q'
constexpr quint8 STK_LOAD_ADDRESS = 0x55;   // 'U'
constexpr quint8 STK_UNIVERSAL = 0x56;      // 'V'
constexpr quint8 STK_PROG_PAGE = 0x64;      // 'd'
constexpr quint8 STK_READ_PAGE = 0x74;      // 't'
constexpr quint8 STK_READ_SIGN = 0x75;      // 'u'

// Memory type of STK_PROG_PAGE and STK_READ_PAGE
constexpr quint8 STK_MEMTYPE_FLASH = 0x46; // 'F'

// Parameters
constexpr quint8 Parm_STK_HW_VER = 0x80;
constexpr quint8 Parm_STK_SW_MAJOR = 0x81;
constexpr quint8 Parm_STK_SW_MINOR = 0x82;
constexpr quint8 Parm_STK_VTARGET = 0x84;
constexpr quint8 Parm_STK_VADJUST = 0x85;
constexpr quint8 Parm_STK_OSC_PSCALE = 0x86;
constexpr quint8 Parm_STK_OSC_CMATCH = 0x87;
constexpr quint8 Parm_STK_SCK_DURATION = 0x89;
constexpr quint8 Param_STK500_TOPCARD_DETECT = 0x98;

// Serial programming instruction: read one EEPROM byte
constexpr quint8 SPI_READ_EEPROM = 0xA0;

} // namespace upload

#endif // STK500V1_H
