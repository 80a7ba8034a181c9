// Everything the programmer knows about the hardware, in one place: the cable's
// line map, the AVR serial-programming instruction bytes, the seven known parts and
// the fuse bits of each that matter to the programmer (and, in lock_modes.h, shared
// with the simulated chip, the lock modes).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lock_modes.h"
#include "port.h"

// ---------------------------------------------------------------------------------
// Cable. Output lines 0..6 are data-register bits 0..6 (connector pins 2..8); the
// programmer drives only 0 (MOSI), 1 (SCK) and 2 (RESET). Data bit 7 and the control
// register are never touched.
struct PortLine {
  uint16_t port;
  uint8_t bit;
};

constexpr int CABLE_LINE_COUNT = 7;
constexpr std::array<PortLine, CABLE_LINE_COUNT> CABLE_OUTPUTS = {{
    {LPT_DATA, 0},  // LINE_MOSI, pin 2: data into the target
    {LPT_DATA, 1},  // LINE_SCK, pin 3: MOSI set before each rising edge, MISO read while high
    {LPT_DATA, 2},  // LINE_RESET, pin 4: high = target runs, low = serial-programming mode
    {LPT_DATA, 3},
    {LPT_DATA, 4},
    {LPT_DATA, 5},
    {LPT_DATA, 6},
}};

// MISO arrives on status bit 7 (pin 11), which the port inverts: the register shows 0
// while the pin is high, so a reading of 0 is a data bit 1.
constexpr PortLine CABLE_MISO = {LPT_STATUS, 7};
constexpr int16_t MISO_READING_PIN_HIGH = 0;

// Waits of the link, in delay_us units.
constexpr int SHIFT_LEAD_IN_US = 5;      // SCK low before the first bit of a byte
constexpr int HALF_BIT_US = 2;           // each phase of a bit
constexpr int RESET_SETTLE_US = 150000;  // after any edge of RESET
constexpr int RESET_PRE_US = 100;        // extra pause before the entry pulse
constexpr int PROGRAMMING_ENTRY_US = 90000;  // RESET low before the first instruction
constexpr int RELEASE_LEAD_IN_US = 10;

// ---------------------------------------------------------------------------------
// Instructions. Each is four bytes; a position holds a fixed byte, a byte of the
// operation's address or data argument, or the target's answer (shifted in with
// a transfer of 0).
enum class IspField : uint8_t { FIXED, ADDRESS_HIGH, ADDRESS_LOW, DATA, ANSWER };

struct IspInstruction {
  std::array<uint8_t, 4> code;  // the byte sent where the field is FIXED
  std::array<IspField, 4> field;
};

namespace isp_code {
using F = IspField;
constexpr IspInstruction PROGRAMMING_ENABLE{{0xAC, 0x53, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ANSWER, F::FIXED}};
constexpr IspInstruction CHIP_ERASE{{0xAC, 0x80, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::FIXED}};
constexpr IspInstruction POLL_READY{{0xF0, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction LOAD_EXTENDED_ADDRESS{{0x4D, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::DATA, F::FIXED}};
constexpr IspInstruction LOAD_PAGE_HIGH{{0x48, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction LOAD_PAGE_LOW{{0x40, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction WRITE_PAGE{{0x4C, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::FIXED}};
constexpr IspInstruction READ_FLASH_HIGH{{0x28, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction READ_FLASH_LOW{{0x20, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction READ_EEPROM{{0xA0, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction WRITE_EEPROM{{0xC0, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction LOAD_EEPROM_PAGE{{0xC1, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::DATA}};
constexpr IspInstruction WRITE_EEPROM_PAGE{{0xC2, 0x00, 0x00, 0x00}, {F::FIXED, F::ADDRESS_HIGH, F::ADDRESS_LOW, F::FIXED}};
constexpr IspInstruction READ_LOCK{{0x58, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction WRITE_LOCK{{0xAC, 0xE0, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction READ_SIGNATURE{{0x30, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::ADDRESS_LOW, F::ANSWER}};
constexpr IspInstruction READ_FUSE_LOW{{0x50, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction READ_FUSE_HIGH{{0x58, 0x08, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction READ_FUSE_EXTENDED{{0x50, 0x08, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
constexpr IspInstruction WRITE_FUSE_LOW{{0xAC, 0xA0, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction WRITE_FUSE_HIGH{{0xAC, 0xA8, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction WRITE_FUSE_EXTENDED{{0xAC, 0xA4, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::DATA}};
constexpr IspInstruction READ_CALIBRATION{{0x38, 0x00, 0x00, 0x00}, {F::FIXED, F::FIXED, F::FIXED, F::ANSWER}};
}  // namespace isp_code

constexpr uint8_t BUSY_BIT = 0x01;       // poll answer bit 0: an operation is pending
constexpr int READY_POLL_WAIT_US = 100;  // pause after each busy answer

// ---------------------------------------------------------------------------------
// Parts. Fuse bytes in the order extended, high, low (the order the fuses are kept in
// after a read); the fourth byte is unused. Row order matters: row 1, the ATmega32,
// is the one part with only two fuse bytes to compare and write.
struct KnownPart {
  const char* name;
  std::array<uint8_t, 3> signature;
  int fuse_count;
  std::array<uint8_t, 4> default_fuses;
  int page_words;
  int flash_bytes;
  int eeprom_bytes;
};

constexpr int KNOWN_PART_COUNT = 7;
constexpr std::array<KnownPart, KNOWN_PART_COUNT> KNOWN_PARTS = {{
    {"ATmega16", {0x1E, 0x94, 0x03}, 3, {0xD4, 0xD9, 0xD4, 0xFF}, 64, 16384, 512},
    {"ATmega32", {0x1E, 0x95, 0x02}, 2, {0xD9, 0xE4, 0xFF, 0xFF}, 64, 32768, 1024},
    {"ATmega48", {0x1E, 0x92, 0x05}, 3, {0xFF, 0xFF, 0xFF, 0xFF}, 32, 4096, 256},
    {"ATmega88", {0x1E, 0x93, 0x0A}, 3, {0xF9, 0xDF, 0xE2, 0xFF}, 32, 8192, 512},
    {"ATmega168", {0x1E, 0x94, 0x06}, 3, {0xF9, 0xDF, 0xE2, 0xFF}, 64, 16384, 512},
    {"ATmega644", {0x1E, 0x96, 0x09}, 3, {0xFF, 0xD9, 0xE7, 0xFF}, 128, 65536, 2048},
    {"ATmega128", {0x1E, 0x97, 0x02}, 3, {0xFF, 0xCB, 0x8F, 0xFF}, 128, 131072, 4096},
}};
constexpr int SIGNATURE_LENGTH = 3;
constexpr int PART_RESERVED = 4;

// The fuse bits that matter to this programmer, per part, from the data sheets' fuse
// tables. Fuse numbers as the commands count them: 1 low, 2 high, 3 extended.
//  - KEPT: the serial interface can't change it; a write leaves it as it was.
//  - LOCKS_OUT: programmed (0), it takes the RESET pin away from serial programming
//    from the chip's next reset on, and only a high-voltage programmer brings it back.
//  - UNUSED: no fuse behind the bit ("-" in the table); it reads 1 whatever is written.
enum class FuseRole : uint8_t { KEPT, LOCKS_OUT, UNUSED };

struct FuseBit {
  const char* name;  // null: an unused entry
  int fuse;
  uint8_t mask;
  FuseRole role;
};

constexpr FuseBit SPIEN{"SPIEN", 2, 0x20, FuseRole::KEPT};
constexpr FuseBit RSTDISBL{"RSTDISBL", 2, 0x80, FuseRole::LOCKS_OUT};  // RESET becomes an I/O pin
constexpr FuseBit DWEN{"DWEN", 2, 0x40, FuseRole::LOCKS_OUT};          // RESET becomes the debugWIRE line
constexpr FuseBit EXTENDED_7_1{"unused", 3, 0xFE, FuseRole::UNUSED};
constexpr FuseBit EXTENDED_7_2{"unused", 3, 0xFC, FuseRole::UNUSED};
constexpr FuseBit EXTENDED_7_3{"unused", 3, 0xF8, FuseRole::UNUSED};

struct PartFuseBits {
  const char* part;  // as in KNOWN_PARTS, same row
  std::array<FuseBit, 4> bits;
};

// On the ATmega16, 32, 644 and 128 high fuse bits 7 and 6 are OCDEN and JTAGEN, which
// leave serial programming alone. The ATmega16 and 32 have no extended fuse (the table
// writes one to the ATmega16 all the same); the others' extended fuses leave their top
// bits unused, so an extended value written with those bits 0 reads back with them 1.
constexpr std::array<PartFuseBits, KNOWN_PART_COUNT> PART_FUSE_BITS = {{
    {"ATmega16", {SPIEN}},
    {"ATmega32", {SPIEN}},
    {"ATmega48", {SPIEN, RSTDISBL, DWEN, EXTENDED_7_1}},
    {"ATmega88", {SPIEN, RSTDISBL, DWEN, EXTENDED_7_3}},
    {"ATmega168", {SPIEN, RSTDISBL, DWEN, EXTENDED_7_3}},
    {"ATmega644", {SPIEN, EXTENDED_7_3}},
    {"ATmega128", {SPIEN, EXTENDED_7_2}},
}};

constexpr bool fuse_bits_follow_parts() {
  for (int i = 0; i < KNOWN_PART_COUNT; ++i)
    if (std::string_view(PART_FUSE_BITS[static_cast<size_t>(i)].part) != KNOWN_PARTS[static_cast<size_t>(i)].name)
      return false;
  return true;
}
static_assert(fuse_bits_follow_parts(), "PART_FUSE_BITS rows follow KNOWN_PARTS");

// Low fuse values that select a known clock; anything else counts as 1 MHz.
struct ClockFuse {
  uint8_t low_fuse;
  int mhz;
};
constexpr std::array<ClockFuse, 4> CLOCK_FUSES = {{{0xA7, 20}, {0xE7, 20}, {0xE0, 20}, {0xE2, 8}}};
constexpr int DEFAULT_CLOCK_MHZ = 1;

// Fuse writes are not polled: each is given this long to complete.
constexpr int FUSE_WRITE_WAIT_US = 10000;
