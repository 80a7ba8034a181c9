// Memories and instruction semantics of the simulated ATmega.
#include "sim_chip.h"

#include <algorithm>

#include "lock_modes.h"

namespace io::sim {
namespace {

// The board carries every part of the parts table, plus the ATtiny85, an AVR that
// speaks the same serial-programming instructions but that the programmer does not
// know (for its "unrecognised" paths). Its figures are its data sheet's: 32-word
// pages, 4-byte EEPROM pages, tWD_EEPROM 4 ms, only SELFPRGEN in the extended fuse.
// clang-format off
constexpr SimPart ATTINY85 = {
  {"ATtiny85"}, {0x1E, 0x93, 0x0B}, 8192, 64, 512, 4, 3, {0xFF, 0xDF, 0x62}, 3, {0xFF, 0xDF, 0x62},
  {0xFE, 0x00, 0x00}, 4500, 4000, 9000, 4500, false, avr::high(7), avr::high(6), avr::high(5), avr::NONE, avr::NONE,
  avr::ClockSource::RC8_CKDIV8};
// clang-format on

// Each simulated chip's oscillator calibration byte: its own, as every real chip's
// differs. A part not listed answers 0x80, the middle of the range.
struct Calibration {
  std::array<uint8_t, 3> signature;
  uint8_t value;
};
constexpr Calibration calibrations[] = {
    {{0x1E, 0x94, 0x03}, 0xA7}, {{0x1E, 0x95, 0x02}, 0xAB}, {{0x1E, 0x92, 0x05}, 0x9C},
    {{0x1E, 0x93, 0x0A}, 0x9A}, {{0x1E, 0x94, 0x06}, 0x98}, {{0x1E, 0x96, 0x09}, 0x8F},
    {{0x1E, 0x97, 0x02}, 0xB2}, {{0x1E, 0x95, 0x0F}, 0x9E}, {{0x1E, 0x93, 0x0B}, 0x8C},
};
constexpr uint8_t CALIBRATION_MIDDLE = 0x80;

uint8_t calibration_of(const SimPart& part) {
  for (const Calibration& c : calibrations)
    if (c.signature == part.signature) return c.value;
  return CALIBRATION_MIDDLE;
}

// Every part of the board, the table's in its order and then the board's own.
template <typename Visit>
const SimPart* each_part(Visit visit) {
  for (const SimPart& part : avr::PARTS)
    if (visit(part)) return &part;
  return visit(ATTINY85) ? &ATTINY85 : nullptr;
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

// The part has the fuse bit and the chip's fuses program it (0).
bool programmed(const Chip& chip, avr::FuseBitAt bit) {
  return bit.exists() && (chip.fuses[static_cast<size_t>(bit.fuse)] & bit.mask) == 0;
}

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

uint32_t flash_word_address(const Chip& chip, uint8_t hi, uint8_t lo) {
  uint32_t words = chip.part->flash_bytes / 2;
  return ((uint32_t{chip.extended_address} << 16) | (uint32_t{hi} << 8) | lo) & (words - 1);
}

uint32_t eeprom_address(const Chip& chip, uint8_t hi, uint8_t lo) {
  return ((uint32_t{hi} << 8) | lo) & (chip.part->eeprom_bytes - 1);
}

void write_page(Chip& chip, uint8_t hi, uint8_t lo, double now_us) {
  chip.count.page_writes++;
  uint32_t page_bytes = chip.part->flash_page_bytes;
  uint32_t first = (flash_word_address(chip, hi, lo) & ~(page_bytes / 2 - 1)) * 2;
  if (may_program(chip)) {
    for (uint32_t i = 0; i < page_bytes; i++)
      if (chip.page_loaded[i]) chip.flash[first + i] = programmed_value(chip, chip.flash[first + i], chip.page_buffer[i], true);
  }
  // The temporary buffer erases itself after every page write.
  std::fill(chip.page_buffer.begin(), chip.page_buffer.end(), uint8_t{0xFF});
  std::fill(chip.page_loaded.begin(), chip.page_loaded.end(), uint8_t{0});
  start_busy(chip, now_us, chip.part->flash_write_us);
}

void write_eeprom_page(Chip& chip, uint8_t hi, uint8_t lo, double now_us) {
  chip.count.eeprom_writes++;
  uint32_t size = chip.part->eeprom_page_bytes;
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
  const avr::FuseBitAt spien = chip.part->spien;
  uint8_t fixed = spien.fuse == static_cast<int>(index) ? spien.mask : 0;
  if (index == FUSE_EXTENDED) value = chip_extended_fuse(chip, value);
  if (may_program(chip)) fuse = static_cast<uint8_t>((value & ~fixed) | (fuse & fixed));
  start_busy(chip, now_us, chip.part->fuse_write_us);
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
      start_busy(chip, now_us, chip.part->erase_us);
      break;
    case OP2_WRITE_FUSE_LOW: write_fuse(chip, FUSE_LOW, b[3], now_us); break;
    case OP2_WRITE_FUSE_HIGH: write_fuse(chip, FUSE_HIGH, b[3], now_us); break;
    case OP2_WRITE_FUSE_EXTENDED: write_fuse(chip, FUSE_EXTENDED, b[3], now_us); break;
    case OP2_WRITE_LOCK:
      // Lock bits can only be programmed further; only a chip erase opens them again.
      chip.count.lock_writes++;
      if (chip.fault != Fault::readonly) chip.lock = static_cast<uint8_t>((chip.lock & b[3]) | LOCK_UNUSED);
      start_busy(chip, now_us, chip.part->fuse_write_us);
      break;
    default:
      chip.count.unknown_instructions++;
      break;
  }
}

}  // namespace

const SimPart* find_sim_part(std::string_view name) {
  return each_part([&](const SimPart& part) { return avr::part_has_name(part, name); });
}

std::string sim_part_names() {
  std::string names;
  each_part([&](const SimPart& part) {
    if (!names.empty()) names += ", ";
    names += part.name();
    return false;
  });
  return names;
}

void chip_init(Chip& chip, const SimPart& part, bool factory_fuses) {
  chip.part = &part;
  chip.calibration = calibration_of(part);
  chip.flash.assign(part.flash_bytes, 0xFF);
  chip.eeprom.assign(part.eeprom_bytes, 0xFF);
  chip.fuses = factory_fuses ? part.factory_fuses : part.board_fuses;
  // A chip on an ISP cable has SPIEN programmed, whatever the board's list writes for it.
  chip.fuses[part.spien.fuse] = static_cast<uint8_t>(chip.fuses[part.spien.fuse] & ~part.spien.mask);
  chip.lock = 0xFF;
  chip.page_buffer.assign(part.flash_page_bytes, 0xFF);
  chip.page_loaded.assign(part.flash_page_bytes, 0);
  chip.eeprom_buffer.assign(part.eeprom_page_bytes, 0xFF);
  chip.eeprom_loaded.assign(part.eeprom_page_bytes, 0);
  chip.extended_address = 0;
}

uint8_t chip_extended_fuse(const Chip& chip, uint8_t value) {
  return static_cast<uint8_t>(value | chip.part->unused_bits[FUSE_EXTENDED]);
}

bool chip_serial_programming_off(const Chip& chip) {
  return chip_reset_disabled(chip) || chip_debugwire(chip) || !programmed(chip, chip.part->spien);
}

bool chip_reset_disabled(const Chip& chip) { return programmed(chip, chip.part->rstdisbl); }

// debugWIRE takes the RESET pin only while the chip is unlocked (lock mode 1); a chip
// erase that opens the lock hands the pin over.
bool chip_debugwire(const Chip& chip) {
  return programmed(chip, chip.part->dwen) && lock_mode(chip.lock).mode == 1;
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
      d.answer = chip.calibration;
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
      if (part.load_extended_address) chip.extended_address = b[2];
      break;
    case OP_LOAD_PAGE_LOW:
    case OP_LOAD_PAGE_HIGH: {
      uint32_t i = (b[2] & (part.flash_page_bytes / 2 - 1)) * 2 + (b[0] == OP_LOAD_PAGE_HIGH ? 1 : 0);
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
      if (part.eeprom_page_bytes == 0) {
        chip.count.unknown_instructions++;
      } else if (b[0] == OP_LOAD_EEPROM_PAGE) {
        uint32_t i = b[2] & (part.eeprom_page_bytes - 1);
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
