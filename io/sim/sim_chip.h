// The simulated ATmega behind the Varn ISP cable: its memories, fuses and lock, and
// what each serial-programming instruction does to them. The pin-level framing of
// the instructions lives in sim_varn.cpp; this layer sees whole instructions.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace io::sim {

// One part the simulated board can carry. Sizes and busy times from the data sheets.
struct SimPart {
  const char* name;
  std::array<uint8_t, 3> signature;
  uint32_t flash_bytes;
  uint32_t page_words;
  uint32_t eeprom_bytes;
  uint32_t eeprom_page;       // bytes per EEPROM page, 0 where the part has no page mode
  double eeprom_write_us;     // tWD_EEPROM: 3.6 ms on the mega48 family, 9 ms elsewhere
  std::array<uint8_t, 3> table_fuses;    // extended, high, low as the programmer's table has them
  std::array<uint8_t, 3> factory_fuses;  // extended, high, low as shipped
  uint8_t calibration;
  // High fuse bits that, programmed (0), give the RESET pin another job from the next
  // reset on: RSTDISBL makes it an I/O pin, DWEN the debugWIRE line. Either way the
  // chip no longer enters serial programming. 0 where the part has no such bit.
  uint8_t rstdisbl;
  uint8_t dwen;
  // Extended fuse bits the part has no fuse for ("-" in the data sheet's table): they
  // read 1 whatever was written. Low and high fuse bits all exist on every part here.
  uint8_t extended_unused;
};

// Positions in Chip::fuses and the parts' fuse triples.
constexpr size_t FUSE_EXTENDED = 0;
constexpr size_t FUSE_HIGH = 1;
constexpr size_t FUSE_LOW = 2;

// SPIEN, high fuse bit 5 on every part of the board: serial programming can't change it.
constexpr uint8_t HIGH_FUSE_SPIEN = 0x20;

// Busy periods of serial programming, microseconds (tWD_FLASH, tWD_ERASE, tWD_FUSE).
constexpr double PAGE_WRITE_US = 4500;
constexpr double CHIP_ERASE_US = 9000;
constexpr double FUSE_WRITE_US = 4500;
// In fast mode an operation stays busy for this many polls (or until another instruction).
constexpr int FAST_BUSY_POLLS = 2;

// Lock bits 7 and 6 do not exist on any of these parts and always read 1. What LB1 and
// LB2 lock is the programmer's table (programmer/lock_modes.h), the data sheets' modes.
constexpr uint8_t LOCK_UNUSED = 0xC0;

// Null when `name` is no part of the board's table (case-insensitive).
const SimPart* find_sim_part(std::string_view name);
// The part names, for messages.
std::string sim_part_names();

enum class Fault { none, absent, silent, busy, flip, locked, readonly };

struct Counters {
  uint64_t instructions = 0;
  uint64_t chip_erases = 0;
  uint64_t page_writes = 0;
  uint64_t eeprom_writes = 0;
  uint64_t fuse_writes = 0;
  uint64_t lock_writes = 0;
  uint64_t ignored_while_busy = 0;
  uint64_t unknown_instructions = 0;
  uint64_t flipped_bytes = 0;
};

struct Chip {
  const SimPart* part = nullptr;
  std::vector<uint8_t> flash;
  std::vector<uint8_t> eeprom;
  std::array<uint8_t, 3> fuses{};  // FUSE_EXTENDED, FUSE_HIGH, FUSE_LOW
  uint8_t lock = 0xFF;
  // Page buffers: a word that was never loaded stays 0xFF, which leaves flash as it is.
  std::vector<uint8_t> page_buffer;
  std::vector<uint8_t> page_loaded;  // which buffer bytes a load instruction filled
  std::vector<uint8_t> eeprom_buffer;
  std::vector<uint8_t> eeprom_loaded;
  uint8_t extended_address = 0;

  Fault fault = Fault::none;
  uint32_t flip_every = 0;   // fault flip:N
  uint64_t programmed_bytes = 0;
  bool fast = false;
  double busy_until_us = 0;  // real timing: busy while now < this
  int busy_polls_left = 0;   // fast timing: polls still answered busy
  Counters count;
};

// A new chip of `part`: erased, fuses from the table (or factory values) with SPIEN
// programmed, lock open.
void chip_init(Chip& chip, const SimPart& part, bool factory_fuses);

// The extended fuse as the chip holds `value`: its unused bits read 1.
uint8_t chip_extended_fuse(const Chip& chip, uint8_t value);

// The fuses as they stand program RSTDISBL, or DWEN with the lock bits open (the state
// the chip takes at its next reset).
bool chip_reset_disabled(const Chip& chip);
bool chip_debugwire(const Chip& chip);
// From its next reset on the chip will not enter serial programming: RSTDISBL or DWEN
// programmed, or SPIEN unprogrammed (which only a state file can give it).
bool chip_serial_programming_off(const Chip& chip);

// Serial-programming instruction bytes (byte 1, and byte 2 where it selects).
constexpr uint8_t OP_PROGRAMMING = 0xAC;  // with byte 2 below
constexpr uint8_t OP2_ENABLE = 0x53;
constexpr uint8_t OP2_CHIP_ERASE = 0x80;
constexpr uint8_t OP2_WRITE_FUSE_LOW = 0xA0;
constexpr uint8_t OP2_WRITE_FUSE_HIGH = 0xA8;
constexpr uint8_t OP2_WRITE_FUSE_EXTENDED = 0xA4;
constexpr uint8_t OP2_WRITE_LOCK = 0xE0;
constexpr uint8_t OP_POLL_READY = 0xF0;
constexpr uint8_t OP_LOAD_EXTENDED_ADDRESS = 0x4D;
constexpr uint8_t OP_LOAD_PAGE_HIGH = 0x48;
constexpr uint8_t OP_LOAD_PAGE_LOW = 0x40;
constexpr uint8_t OP_WRITE_PAGE = 0x4C;
constexpr uint8_t OP_READ_FLASH_HIGH = 0x28;
constexpr uint8_t OP_READ_FLASH_LOW = 0x20;
constexpr uint8_t OP_READ_EEPROM = 0xA0;
constexpr uint8_t OP_WRITE_EEPROM = 0xC0;
constexpr uint8_t OP_LOAD_EEPROM_PAGE = 0xC1;
constexpr uint8_t OP_WRITE_EEPROM_PAGE = 0xC2;
constexpr uint8_t OP_READ_LOCK_OR_HIGH = 0x58;  // byte 2: 0x00 lock, 0x08 high fuse
constexpr uint8_t OP_READ_FUSE_LOW_OR_EXT = 0x50;  // byte 2: 0x00 low fuse, 0x08 extended
constexpr uint8_t OP_READ_SIGNATURE = 0x30;
constexpr uint8_t OP_READ_CALIBRATION = 0x38;

// Decision made when the first three bytes are in, before the fourth is shifted.
struct Decoded {
  bool ignored = false;     // sent while busy: the chip does nothing with it
  bool has_answer = false;  // the fourth byte carries `answer`
  uint8_t answer = 0;
};

Decoded chip_decode(Chip& chip, const uint8_t* bytes, double now_us);
// Carries out a whole instruction whose decode said it is not ignored.
void chip_execute(Chip& chip, const uint8_t* bytes, const Decoded& decoded, double now_us);

}  // namespace io::sim
