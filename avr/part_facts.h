// The ATmega parts: one row per signature, with every fact the programmer and the
// simulated board take from the data sheets. Fuse bytes are kept in the order the
// programmer reads them into (extended, high, low); a part with two fuse bytes has no
// extended fuse.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace avr {

constexpr int FUSE_EXTENDED = 0;
constexpr int FUSE_HIGH = 1;
constexpr int FUSE_LOW = 2;
constexpr int NO_FUSE = -1;

// Where a fuse bit sits: a fuse byte (FUSE_EXTENDED, FUSE_HIGH, FUSE_LOW) and its mask,
// or NO_FUSE where the part lacks the bit. A fuse bit is programmed when it reads 0.
struct FuseBitAt {
  int fuse;
  uint8_t mask;
  constexpr bool exists() const { return fuse != NO_FUSE; }
};
constexpr FuseBitAt NONE{NO_FUSE, 0};
constexpr FuseBitAt high(int bit) { return {FUSE_HIGH, static_cast<uint8_t>(1u << bit)}; }
constexpr FuseBitAt ext(int bit) { return {FUSE_EXTENDED, static_cast<uint8_t>(1u << bit)}; }

using FuseBytes = std::array<uint8_t, 3>;  // extended, high, low

// How the low fuse names the clock the chip runs at, where it does (data sheets,
// "System Clock and Clock Options"). Only the internal RC oscillator is named: a
// crystal's or an external clock's frequency is on the board, not in the fuses.
enum class ClockSource : uint8_t {
  // Nothing the fuses say is relied on: the programmer probes.
  UNNAMED,
  // CKSEL3..0 = 0010: the calibrated RC oscillator at 8 MHz; CKDIV8 (low fuse bit 7),
  // programmed (0), divides it to 1 MHz. The mega48/88/168/328, 164-1284, 640-2560,
  // 169-649 families, the ATmega162 and the U2/U4 parts.
  RC8_CKDIV8,
  // CKSEL3..0 = 0001, 0010, 0011, 0100: the calibrated RC oscillator at 1, 2, 4 or
  // 8 MHz; no CKDIV8. The ATmega8, 8515, 8535, 16, 32, 64 and 128.
  RC_1_2_4_8,
};

// The clock in MHz that `low` (the low fuse) names on a part of `source`, 0 where it
// names none.
constexpr double named_clock_mhz(ClockSource source, uint8_t low) {
  const int cksel = low & 0x0F;
  switch (source) {
    case ClockSource::RC8_CKDIV8: return cksel != 0x2 ? 0 : (low & 0x80) ? 8 : 1;
    case ClockSource::RC_1_2_4_8: return cksel >= 0x1 && cksel <= 0x4 ? static_cast<double>(1 << (cksel - 1)) : 0;
    case ClockSource::UNNAMED: break;
  }
  return 0;
}

struct Part {
  // The part's own names, the first the one printed; several where parts share a
  // signature (the A variants). Lookup by name takes any of them, in any case.
  std::array<const char*, 3> names;
  std::array<uint8_t, 3> signature;
  uint32_t flash_bytes;
  uint32_t flash_page_bytes;
  uint32_t eeprom_bytes;
  uint32_t eeprom_page_bytes;  // an EEPROM page over the serial interface; 0: byte writes only
  int fuse_bytes;              // 2: no extended fuse
  FuseBytes factory_fuses;     // as shipped; a missing extended fuse reads FF
  // The fuses the Varn board gives its chips, which its programmer compares and
  // writes: the first `board_fuse_count` of them (the ATmega32's two leave out the
  // low fuse; the ATmega16's three include an extended fuse the chip lacks).
  int board_fuse_count;
  FuseBytes board_fuses;
  // Bits with no fuse behind them ("-" in the data sheet): they read 1 whatever is
  // written. A missing extended fuse has none: nothing is known of what it reads.
  FuseBytes unused_bits;
  // Longest busy time of each operation (tWD_FLASH, tWD_EEPROM, tWD_ERASE, tWD_FUSE).
  uint32_t flash_write_us;
  uint32_t eeprom_write_us;
  uint32_t erase_us;
  uint32_t fuse_write_us;
  bool load_extended_address;  // flash beyond 128 KiB takes Load Extended Address
  // RSTDISBL and DWEN, programmed, take the RESET pin from serial programming (it
  // becomes an I/O pin or the debugWIRE line) and only a high-voltage programmer brings
  // it back. SPIEN can't be changed over the serial interface. JTAGEN and OCDEN leave
  // serial programming alone.
  FuseBitAt rstdisbl;
  FuseBitAt dwen;
  FuseBitAt spien;
  FuseBitAt jtagen;
  FuseBitAt ocden;
  // How the low fuse names the clock (ClockSource above): the programmer takes the
  // ISP clock of a verified download from it, and the simulated chip its clock. A new
  // row takes its family's value; UNNAMED where the data sheet names no RC clock in
  // CKSEL, which makes the programmer probe (safe, only slower to start).
  ClockSource clock_source;

  constexpr const char* name() const { return names[0]; }
  constexpr uint8_t extended_used_bits() const {
    return fuse_bytes < 3 ? 0 : static_cast<uint8_t>(~unused_bits[FUSE_EXTENDED]);
  }
};

// The rows, in the order of the programmer's device table (its row index is part of
// its interface: the ATmega32 is row 1). One row per signature: where parts share one,
// the row carries each of their names.
// clang-format off
inline constexpr Part PARTS[] = {
  // names                          signature           flash   page eeprom page fuses factory            board                      unused            tWD: flash eeprom erase fuse  4D     RSTDISBL DWEN     SPIEN    JTAGEN   OCDEN    clock
  {{"ATmega16", "ATmega16A"},      {0x1E, 0x94, 0x03},  16384, 128,  512,  4,   2, {0xFF, 0x99, 0xE1}, 3, {0xD4, 0xD9, 0xD4}, {0x00, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, NONE,    NONE,    high(5), high(6), high(7), ClockSource::RC_1_2_4_8},
  {{"ATmega32", "ATmega32A"},      {0x1E, 0x95, 0x02},  32768, 128, 1024,  4,   2, {0xFF, 0x99, 0xE1}, 2, {0xD9, 0xE4, 0xFF}, {0x00, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, NONE,    NONE,    high(5), high(6), high(7), ClockSource::RC_1_2_4_8},
  {{"ATmega48"},                   {0x1E, 0x92, 0x05},   4096,  64,  256,  4,   3, {0xFF, 0xDF, 0x62}, 3, {0xFF, 0xFF, 0xFF}, {0xFE, 0x00, 0x00}, 4500,  3600, 45000, 4500, false, high(7), high(6), high(5), NONE,    NONE,    ClockSource::RC8_CKDIV8},
  {{"ATmega88"},                   {0x1E, 0x93, 0x0A},   8192,  64,  512,  4,   3, {0xF9, 0xDF, 0x62}, 3, {0xF9, 0xDF, 0xE2}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, high(7), high(6), high(5), NONE,    NONE,    ClockSource::RC8_CKDIV8},
  {{"ATmega168"},                  {0x1E, 0x94, 0x06},  16384, 128,  512,  4,   3, {0xF9, 0xDF, 0x62}, 3, {0xF9, 0xDF, 0xE2}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, high(7), high(6), high(5), NONE,    NONE,    ClockSource::RC8_CKDIV8},
  {{"ATmega644", "ATmega644A"},    {0x1E, 0x96, 0x09},  65536, 256, 2048,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0xD9, 0xE7}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE,    NONE,    high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega128", "ATmega128A"},    {0x1E, 0x97, 0x02}, 131072, 256, 4096,  0,   3, {0xFD, 0x99, 0xE1}, 3, {0xFF, 0xCB, 0x8F}, {0xFC, 0x00, 0x00}, 5000, 10000, 10000, 4500, false, NONE,    NONE,    high(5), high(6), high(7), ClockSource::RC_1_2_4_8},
  // From here on the Varn board gives each chip its factory fuses, and every fuse byte
  // the part has is compared.
  {{"ATmega8", "ATmega8A"},         {0x1E, 0x93, 0x07},   8192,  64,  512,  0,   2, {0xFF, 0xD9, 0xE1}, 2, {0xFF, 0xD9, 0xE1}, {0x00, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, high(7), NONE, high(5), NONE, NONE, ClockSource::RC_1_2_4_8},
  {{"ATmega8515"},                  {0x1E, 0x93, 0x06},   8192,  64,  512,  0,   2, {0xFF, 0xD9, 0xE1}, 2, {0xFF, 0xD9, 0xE1}, {0x00, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, NONE, NONE, high(5), NONE, NONE, ClockSource::RC_1_2_4_8},
  {{"ATmega8535"},                  {0x1E, 0x93, 0x08},   8192,  64,  512,  0,   2, {0xFF, 0xD9, 0xE1}, 2, {0xFF, 0xD9, 0xE1}, {0x00, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, NONE, NONE, high(5), NONE, NONE, ClockSource::RC_1_2_4_8},
  {{"ATmega64"},                    {0x1E, 0x96, 0x02},  65536, 256, 2048,  0,   3, {0xFD, 0x99, 0xE1}, 3, {0xFD, 0x99, 0xE1}, {0xFC, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC_1_2_4_8},
  {{"ATmega162"},                   {0x1E, 0x94, 0x04},  16384, 128,  512,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xE1, 0x00, 0x00}, 4500,  9000,  9000, 16000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega164P", "ATmega164PA"},   {0x1E, 0x94, 0x0A},  16384, 128,  512,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega164A"},                  {0x1E, 0x94, 0x0F},  16384, 128,  512,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega324P"},                  {0x1E, 0x95, 0x08},  32768, 128, 1024,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega324PA"},                 {0x1E, 0x95, 0x11},  32768, 128, 1024,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega324A"},                  {0x1E, 0x95, 0x15},  32768, 128, 1024,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega644P", "ATmega644PA"},   {0x1E, 0x96, 0x0A},  65536, 256, 2048,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega1284"},                  {0x1E, 0x97, 0x06}, 131072, 256, 4096,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega1284P"},                 {0x1E, 0x97, 0x05}, 131072, 256, 4096,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000, 55000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega48P", "ATmega48PA"},     {0x1E, 0x92, 0x0A},   4096,  64,  256,  4,   3, {0xFF, 0xDF, 0x62}, 3, {0xFF, 0xDF, 0x62}, {0xFE, 0x00, 0x00}, 4500,  3600, 45000, 4500, false, high(7), high(6), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega88P", "ATmega88PA"},     {0x1E, 0x93, 0x0F},   8192,  64,  512,  4,   3, {0xF9, 0xDF, 0x62}, 3, {0xF9, 0xDF, 0x62}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, high(7), high(6), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega168P", "ATmega168PA"},   {0x1E, 0x94, 0x0B},  16384, 128,  512,  4,   3, {0xF9, 0xDF, 0x62}, 3, {0xF9, 0xDF, 0x62}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, high(7), high(6), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega328"},                   {0x1E, 0x95, 0x14},  32768, 128, 1024,  4,   3, {0xFF, 0xD9, 0x62}, 3, {0xFF, 0xD9, 0x62}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, high(7), high(6), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega328P"},                  {0x1E, 0x95, 0x0F},  32768, 128, 1024,  4,   3, {0xFF, 0xD9, 0x62}, 3, {0xFF, 0xD9, 0x62}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, high(7), high(6), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega640"},                   {0x1E, 0x96, 0x08},  65536, 256, 4096,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega1280"},                  {0x1E, 0x97, 0x03}, 131072, 256, 4096,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega1281"},                  {0x1E, 0x97, 0x04}, 131072, 256, 4096,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega2560"},                  {0x1E, 0x98, 0x01}, 262144, 256, 4096,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000,  9000, 9000, true, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega2561"},                  {0x1E, 0x98, 0x02}, 262144, 256, 4096,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000,  9000, 9000, true, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega169", "ATmega169P", "ATmega169PA"}, {0x1E, 0x94, 0x05},  16384, 128,  512,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF0, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, ext(0), NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega329", "ATmega329A"},     {0x1E, 0x95, 0x03},  32768, 128, 1024,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, ext(0), NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega329P", "ATmega329PA"},   {0x1E, 0x95, 0x0B},  32768, 128, 1024,  4,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, ext(0), NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega649", "ATmega649A"},     {0x1E, 0x96, 0x03},  65536, 256, 2048,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  9000,  9000, 4500, false, ext(0), NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega649P"},                  {0x1E, 0x96, 0x0B},  65536, 256, 2048,  8,   3, {0xFF, 0x99, 0x62}, 3, {0xFF, 0x99, 0x62}, {0xF8, 0x00, 0x00}, 4500,  3600,  9000, 4500, false, ext(0), NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega8U2"},                   {0x1E, 0x93, 0x89},   8192, 128,  512,  4,   3, {0xF4, 0xD9, 0x5E}, 3, {0xF4, 0xD9, 0x5E}, {0xF0, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, high(6), high(7), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega16U2"},                  {0x1E, 0x94, 0x89},  16384, 128,  512,  4,   3, {0xF4, 0xD9, 0x5E}, 3, {0xF4, 0xD9, 0x5E}, {0xF0, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, high(6), high(7), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega32U2"},                  {0x1E, 0x95, 0x8A},  32768, 128, 1024,  4,   3, {0xF4, 0xD9, 0x5E}, 3, {0xF4, 0xD9, 0x5E}, {0xF0, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, high(6), high(7), high(5), NONE, NONE, ClockSource::RC8_CKDIV8},
  {{"ATmega16U4"},                  {0x1E, 0x94, 0x88},  16384, 128,  512,  4,   3, {0xF3, 0x99, 0x52}, 3, {0xF3, 0x99, 0x52}, {0xF0, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
  {{"ATmega32U4"},                  {0x1E, 0x95, 0x87},  32768, 128, 1024,  4,   3, {0xF3, 0x99, 0x52}, 3, {0xF3, 0x99, 0x52}, {0xF0, 0x00, 0x00}, 4500,  9000,  9000, 9000, false, NONE, NONE, high(5), high(6), high(7), ClockSource::RC8_CKDIV8},
};
// clang-format on

// Null when no row has the signature, or the name (any of a row's names, any case).
const Part* find_part(uint8_t signature0, uint8_t signature1, uint8_t signature2);
const Part* find_part(std::string_view name);
bool part_has_name(const Part& part, std::string_view name);

}  // namespace avr
