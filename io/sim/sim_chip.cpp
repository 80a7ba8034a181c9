// Memories and instruction semantics of the simulated ATmega.
#include "sim_chip.h"

#include <algorithm>
#include <cctype>

#include "programmer/lock_modes.h"

namespace io::sim {
namespace {

// The parts the board can carry: the seven of the programmer's table, plus the
// ATmega328P, which that table does not know (for the "unrecognised" paths). Factory
// fuses are the data sheets' shipping values; parts without an extended fuse read FF.
// RSTDISBL and DWEN are high fuse bits 7 and 6 of the mega48 family and the 328P; on
// the others those bits are OCDEN and JTAGEN, which leave serial programming alone.
// The extended fuse has 1 bit on the ATmega48 (SELFPRGEN), 2 on the ATmega128 (M103C,
// WDTON) and 3 on the others that have one; the rest of its bits read 1. The ATmega16
// and ATmega32 have none; the board keeps what is written there as before.
constexpr uint8_t RSTDISBL = 0x80;
constexpr uint8_t DWEN = 0x40;
constexpr uint8_t EXT_BITS_7_1 = 0xFE;
constexpr uint8_t EXT_BITS_7_2 = 0xFC;
constexpr uint8_t EXT_BITS_7_3 = 0xF8;
constexpr std::array<SimPart, 8> sim_parts = {{
    {"ATmega16", {0x1E, 0x94, 0x03}, 16384, 64, 512, 0, 9000, {0xD4, 0xD9, 0xD4}, {0xFF, 0x99, 0xE1}, 0xA7, 0, 0, 0},
    {"ATmega32", {0x1E, 0x95, 0x02}, 32768, 64, 1024, 0, 9000, {0xD9, 0xE4, 0xFF}, {0xFF, 0x99, 0xE1}, 0xAB, 0, 0, 0},
    {"ATmega48", {0x1E, 0x92, 0x05}, 4096, 32, 256, 4, 3600, {0xFF, 0xFF, 0xFF}, {0xFF, 0xDF, 0x62}, 0x9C, RSTDISBL, DWEN, EXT_BITS_7_1},
    {"ATmega88", {0x1E, 0x93, 0x0A}, 8192, 32, 512, 4, 3600, {0xF9, 0xDF, 0xE2}, {0xF9, 0xDF, 0x62}, 0x9A, RSTDISBL, DWEN, EXT_BITS_7_3},
    {"ATmega168", {0x1E, 0x94, 0x06}, 16384, 64, 512, 4, 3600, {0xF9, 0xDF, 0xE2}, {0xF9, 0xDF, 0x62}, 0x98, RSTDISBL, DWEN, EXT_BITS_7_3},
    {"ATmega644", {0x1E, 0x96, 0x09}, 65536, 128, 2048, 8, 9000, {0xFF, 0xD9, 0xE7}, {0xFF, 0x99, 0x62}, 0x8F, 0, 0, EXT_BITS_7_3},
    {"ATmega128", {0x1E, 0x97, 0x02}, 131072, 128, 4096, 0, 9000, {0xFF, 0xCB, 0x8F}, {0xFD, 0x99, 0xE1}, 0xB2, 0, 0, EXT_BITS_7_2},
    {"ATmega328P", {0x1E, 0x95, 0x0F}, 32768, 64, 1024, 4, 3600, {0xFF, 0xD9, 0x62}, {0xFF, 0xD9, 0x62}, 0x9E, RSTDISBL, DWEN, EXT_BITS_7_3},
}};

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool busy_now(const Chip& chip, double now_us) {
  return chip.fast ? chip.busy_polls_left > 0 : now_us < chip.busy_until_us;
}

void start_busy(Chip& chip, double now_us, double duration_us) {
  if (chip.fast)
    chip.busy_polls_left = FAST_BUSY_POLLS;
  else
    chip.busy_until_us = now_us + duration_us;
}

// Writes are refused on a read-only board and, for memories and fuses, in the lock
// modes that disable programming; reads answer FF in those that disable verification.
bool may_program(const Chip& chip) {
  return chip.fault != Fault::readonly && lock_mode(chip.lock).programming;
}
bool may_read(const Chip& chip) { return lock_mode(chip.lock).reading; }

// The value a programming cycle leaves in a cell. Flash can only clear bits (a page
// write ANDs the buffer into the cells); EEPROM writes erase the byte first.
uint8_t programmed_value(Chip& chip, uint8_t old_value, uint8_t value, bool and_only) {
  chip.programmed_bytes++;
  if (chip.fault == Fault::flip && chip.flip_every != 0 && chip.programmed_bytes % chip.flip_every == 0) {
    value = static_cast<uint8_t>(value ^ 0x01);
    chip.count.flipped_bytes++;
  }
  return and_only ? static_cast<uint8_t>(old_value & value) : value;
}

// Flash that 16-bit word addresses reach without the Load Extended Address byte.
constexpr uint32_t FLASH_BYTES_16_BIT_WORDS = 0x20000;

uint32_t flash_word_address(const Chip& chip, uint8_t hi, uint8_t lo) {
  uint32_t words = chip.part->flash_bytes / 2;
  return ((uint32_t{chip.extended_address} << 16) | (uint32_t{hi} << 8) | lo) & (words - 1);
}

uint32_t eeprom_address(const Chip& chip, uint8_t hi, uint8_t lo) {
  return ((uint32_t{hi} << 8) | lo) & (chip.part->eeprom_bytes - 1);
}

void write_page(Chip& chip, uint8_t hi, uint8_t lo, double now_us) {
  chip.count.page_writes++;
  uint32_t page_bytes = chip.part->page_words * 2;
  uint32_t first = (flash_word_address(chip, hi, lo) & ~(chip.part->page_words - 1)) * 2;
  if (may_program(chip)) {
    for (uint32_t i = 0; i < page_bytes; i++)
      if (chip.page_loaded[i]) chip.flash[first + i] = programmed_value(chip, chip.flash[first + i], chip.page_buffer[i], true);
  }
  // The temporary buffer erases itself after every page write.
  std::fill(chip.page_buffer.begin(), chip.page_buffer.end(), uint8_t{0xFF});
  std::fill(chip.page_loaded.begin(), chip.page_loaded.end(), uint8_t{0});
  start_busy(chip, now_us, PAGE_WRITE_US);
}

void write_eeprom_page(Chip& chip, uint8_t hi, uint8_t lo, double now_us) {
  chip.count.eeprom_writes++;
  uint32_t size = chip.part->eeprom_page;
  uint32_t first = eeprom_address(chip, hi, lo) & ~(size - 1);
  if (may_program(chip)) {
    for (uint32_t i = 0; i < size; i++)
      if (chip.eeprom_loaded[i]) chip.eeprom[first + i] = programmed_value(chip, chip.eeprom[first + i], chip.eeprom_buffer[i], false);
  }
  std::fill(chip.eeprom_loaded.begin(), chip.eeprom_loaded.end(), uint8_t{0});
  start_busy(chip, now_us, chip.part->eeprom_write_us);
}

void write_fuse(Chip& chip, size_t index, uint8_t value, double now_us) {
  chip.count.fuse_writes++;
  uint8_t& fuse = chip.fuses[index];
  // SPIEN keeps its level: only a high-voltage programmer can change it.
  uint8_t fixed = index == FUSE_HIGH ? HIGH_FUSE_SPIEN : 0;
  if (index == FUSE_EXTENDED) value = chip_extended_fuse(chip, value);
  if (may_program(chip)) fuse = static_cast<uint8_t>((value & ~fixed) | (fuse & fixed));
  start_busy(chip, now_us, FUSE_WRITE_US);
}

void execute_programming(Chip& chip, const uint8_t* b, double now_us) {
  switch (b[1]) {
    case OP2_ENABLE:
      break;
    case OP2_CHIP_ERASE:
      chip.count.chip_erases++;
      if (chip.fault != Fault::readonly) {
        std::fill(chip.flash.begin(), chip.flash.end(), uint8_t{0xFF});
        std::fill(chip.eeprom.begin(), chip.eeprom.end(), uint8_t{0xFF});
        chip.lock = 0xFF;
      }
      start_busy(chip, now_us, CHIP_ERASE_US);
      break;
    case OP2_WRITE_FUSE_LOW: write_fuse(chip, FUSE_LOW, b[3], now_us); break;
    case OP2_WRITE_FUSE_HIGH: write_fuse(chip, FUSE_HIGH, b[3], now_us); break;
    case OP2_WRITE_FUSE_EXTENDED: write_fuse(chip, FUSE_EXTENDED, b[3], now_us); break;
    case OP2_WRITE_LOCK:
      // Lock bits can only be programmed further; only a chip erase opens them again.
      chip.count.lock_writes++;
      if (chip.fault != Fault::readonly) chip.lock = static_cast<uint8_t>((chip.lock & b[3]) | LOCK_UNUSED);
      start_busy(chip, now_us, FUSE_WRITE_US);
      break;
    default:
      chip.count.unknown_instructions++;
      break;
  }
}

}  // namespace

const SimPart* find_sim_part(std::string_view name) {
  for (const SimPart& part : sim_parts)
    if (same_name(part.name, name)) return &part;
  return nullptr;
}

std::string sim_part_names() {
  std::string names;
  for (const SimPart& part : sim_parts) {
    if (!names.empty()) names += ", ";
    names += part.name;
  }
  return names;
}

void chip_init(Chip& chip, const SimPart& part, bool factory_fuses) {
  chip.part = &part;
  chip.flash.assign(part.flash_bytes, 0xFF);
  chip.eeprom.assign(part.eeprom_bytes, 0xFF);
  chip.fuses = factory_fuses ? part.factory_fuses : part.table_fuses;
  // A chip on an ISP cable has SPIEN programmed, whatever the table writes for it.
  chip.fuses[FUSE_HIGH] = static_cast<uint8_t>(chip.fuses[FUSE_HIGH] & ~HIGH_FUSE_SPIEN);
  chip.lock = 0xFF;
  chip.page_buffer.assign(part.page_words * 2, 0xFF);
  chip.page_loaded.assign(part.page_words * 2, 0);
  chip.eeprom_buffer.assign(part.eeprom_page, 0xFF);
  chip.eeprom_loaded.assign(part.eeprom_page, 0);
  chip.extended_address = 0;
}

uint8_t chip_extended_fuse(const Chip& chip, uint8_t value) {
  return static_cast<uint8_t>(value | chip.part->extended_unused);
}

bool chip_serial_programming_off(const Chip& chip) {
  return chip_reset_disabled(chip) || chip_debugwire(chip) || (chip.fuses[FUSE_HIGH] & HIGH_FUSE_SPIEN) != 0;
}

bool chip_reset_disabled(const Chip& chip) {
  return chip.part->rstdisbl != 0 && (chip.fuses[FUSE_HIGH] & chip.part->rstdisbl) == 0;
}

// debugWIRE takes the RESET pin only while the chip is unlocked (lock mode 1); a chip
// erase that opens the lock hands the pin over.
bool chip_debugwire(const Chip& chip) {
  return chip.part->dwen != 0 && (chip.fuses[FUSE_HIGH] & chip.part->dwen) == 0 && lock_mode(chip.lock).mode == 1;
}

Decoded chip_decode(Chip& chip, const uint8_t* b, double now_us) {
  Decoded d;
  bool busy = busy_now(chip, now_us);
  if (b[0] == OP_POLL_READY) {
    d.has_answer = true;
    d.answer = (busy || chip.fault == Fault::busy) ? 0xFF : 0xFE;
    if (chip.fast && chip.busy_polls_left > 0) chip.busy_polls_left--;
    return d;
  }
  if (busy) {
    if (chip.fast) {
      chip.busy_polls_left = 0;  // tests need not poll: the next instruction ends the wait
    } else if (chip.fault != Fault::busy) {
      d.ignored = true;
      return d;
    }
  }
  const SimPart& part = *chip.part;
  switch (b[0]) {
    case OP_READ_FLASH_LOW:
    case OP_READ_FLASH_HIGH: {
      uint32_t byte = flash_word_address(chip, b[1], b[2]) * 2 + (b[0] == OP_READ_FLASH_HIGH ? 1 : 0);
      d.answer = may_read(chip) ? chip.flash[byte] : 0xFF;
      d.has_answer = true;
      break;
    }
    case OP_READ_EEPROM:
      d.answer = may_read(chip) ? chip.eeprom[eeprom_address(chip, b[1], b[2])] : 0xFF;
      d.has_answer = true;
      break;
    case OP_READ_LOCK_OR_HIGH:
      d.answer = (b[1] & 0x08) ? chip.fuses[FUSE_HIGH] : chip.lock;
      d.has_answer = true;
      break;
    case OP_READ_FUSE_LOW_OR_EXT:
      d.answer = (b[1] & 0x08) ? chip.fuses[FUSE_EXTENDED] : chip.fuses[FUSE_LOW];
      d.has_answer = true;
      break;
    case OP_READ_SIGNATURE:
      d.answer = (b[2] & 0x03) < 3 ? part.signature[b[2] & 0x03] : 0xFF;
      d.has_answer = true;
      break;
    case OP_READ_CALIBRATION:
      d.answer = part.calibration;
      d.has_answer = true;
      break;
    default:
      break;
  }
  return d;
}

void chip_execute(Chip& chip, const uint8_t* b, const Decoded& decoded, double now_us) {
  chip.count.instructions++;
  if (decoded.ignored) {
    chip.count.ignored_while_busy++;
    return;
  }
  if (decoded.has_answer) return;  // reads and the poll change nothing
  const SimPart& part = *chip.part;
  switch (b[0]) {
    case OP_PROGRAMMING: execute_programming(chip, b, now_us); break;
    case OP_LOAD_EXTENDED_ADDRESS:
      // Only a part with flash beyond 64 K words keeps the byte; the others ignore the
      // instruction, which the programmer sends with 0 before every pass over flash.
      // Without it, a read or page write above 128 KiB lands in the low half.
      if (part.flash_bytes > FLASH_BYTES_16_BIT_WORDS) chip.extended_address = b[2];
      break;
    case OP_LOAD_PAGE_LOW:
    case OP_LOAD_PAGE_HIGH: {
      uint32_t i = (b[2] & (part.page_words - 1)) * 2 + (b[0] == OP_LOAD_PAGE_HIGH ? 1 : 0);
      chip.page_buffer[i] = b[3];
      chip.page_loaded[i] = 1;
      break;
    }
    case OP_WRITE_PAGE: write_page(chip, b[1], b[2], now_us); break;
    case OP_WRITE_EEPROM: {
      chip.count.eeprom_writes++;
      uint32_t a = eeprom_address(chip, b[1], b[2]);
      if (may_program(chip)) chip.eeprom[a] = programmed_value(chip, chip.eeprom[a], b[3], false);
      start_busy(chip, now_us, part.eeprom_write_us);
      break;
    }
    case OP_LOAD_EEPROM_PAGE:
    case OP_WRITE_EEPROM_PAGE:
      if (part.eeprom_page == 0) {
        chip.count.unknown_instructions++;
      } else if (b[0] == OP_LOAD_EEPROM_PAGE) {
        uint32_t i = b[2] & (part.eeprom_page - 1);
        chip.eeprom_buffer[i] = b[3];
        chip.eeprom_loaded[i] = 1;
      } else {
        write_eeprom_page(chip, b[1], b[2], now_us);
      }
      break;
    default:
      chip.count.unknown_instructions++;
      break;
  }
}

}  // namespace io::sim
