// The simulated ATmega behind the Varn ISP cable: its memories, fuses and lock, and
// what each serial-programming instruction does to them. The pin-level framing of
// the instructions lives in sim_varn.cpp; this layer sees whole instructions.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "isp_instructions.h"
#include "part_facts.h"

namespace io::sim {

// One part the simulated board can carry: the same facts the programmer takes (sizes,
// signature, fuses and their bits, busy times), from the avr library.
using SimPart = avr::Part;

// Positions in Chip::fuses and the parts' fuse triples.
constexpr size_t FUSE_EXTENDED = avr::FUSE_EXTENDED;
constexpr size_t FUSE_HIGH = avr::FUSE_HIGH;
constexpr size_t FUSE_LOW = avr::FUSE_LOW;

// In fast mode an operation stays busy for this many polls (or until another instruction).
constexpr int FAST_BUSY_POLLS = 2;

// Lock bits 7 and 6 do not exist on any of these parts and always read 1. What LB1 and
// LB2 lock is the data sheets' lock modes (lock_modes.h), the programmer's table too.
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
  uint8_t calibration = 0;  // this chip's oscillator calibration byte
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

// A new chip of `part`: erased, fuses as the Varn board ships it (or factory values)
// with SPIEN programmed, lock open.
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

// Serial-programming instruction bytes (byte 1, and byte 2 where it selects), from the
// instruction table the programmer sends.
constexpr uint8_t OP_PROGRAMMING = isp_code::PROGRAMMING_ENABLE.code[0];  // with byte 2 below
constexpr uint8_t OP2_ENABLE = isp_code::PROGRAMMING_ENABLE.code[1];
constexpr uint8_t OP2_CHIP_ERASE = isp_code::CHIP_ERASE.code[1];
constexpr uint8_t OP2_WRITE_FUSE_LOW = isp_code::WRITE_FUSE_LOW.code[1];
constexpr uint8_t OP2_WRITE_FUSE_HIGH = isp_code::WRITE_FUSE_HIGH.code[1];
constexpr uint8_t OP2_WRITE_FUSE_EXTENDED = isp_code::WRITE_FUSE_EXTENDED.code[1];
constexpr uint8_t OP2_WRITE_LOCK = isp_code::WRITE_LOCK.code[1];
constexpr uint8_t OP_POLL_READY = isp_code::POLL_READY.code[0];
constexpr uint8_t OP_LOAD_EXTENDED_ADDRESS = isp_code::LOAD_EXTENDED_ADDRESS.code[0];
constexpr uint8_t OP_LOAD_PAGE_HIGH = isp_code::LOAD_PAGE_HIGH.code[0];
constexpr uint8_t OP_LOAD_PAGE_LOW = isp_code::LOAD_PAGE_LOW.code[0];
constexpr uint8_t OP_WRITE_PAGE = isp_code::WRITE_PAGE.code[0];
constexpr uint8_t OP_READ_FLASH_HIGH = isp_code::READ_FLASH_HIGH.code[0];
constexpr uint8_t OP_READ_FLASH_LOW = isp_code::READ_FLASH_LOW.code[0];
constexpr uint8_t OP_READ_EEPROM = isp_code::READ_EEPROM.code[0];
constexpr uint8_t OP_WRITE_EEPROM = isp_code::WRITE_EEPROM.code[0];
constexpr uint8_t OP_LOAD_EEPROM_PAGE = isp_code::LOAD_EEPROM_PAGE.code[0];
constexpr uint8_t OP_WRITE_EEPROM_PAGE = isp_code::WRITE_EEPROM_PAGE.code[0];
// Byte 2 selects: 0x00 the lock, 0x08 the high fuse.
constexpr uint8_t OP_READ_LOCK_OR_HIGH = isp_code::READ_LOCK.code[0];
// Byte 2 selects: 0x00 the low fuse, 0x08 the extended fuse.
constexpr uint8_t OP_READ_FUSE_LOW_OR_EXT = isp_code::READ_FUSE_LOW.code[0];
constexpr uint8_t OP_READ_SIGNATURE = isp_code::READ_SIGNATURE.code[0];
constexpr uint8_t OP_READ_CALIBRATION = isp_code::READ_CALIBRATION.code[0];
static_assert(isp_code::READ_FUSE_HIGH.code[0] == OP_READ_LOCK_OR_HIGH &&
              isp_code::READ_FUSE_EXTENDED.code[0] == OP_READ_FUSE_LOW_OR_EXT);

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
