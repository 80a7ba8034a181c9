// The AVR serial-programming instructions: four bytes each, framed from the table
// in hardware.h over the byte shifts of the link.
#include "isp.h"

#include <cstddef>

#include "delay.h"
#include "hardware.h"
#include "link.h"

uint8_t target_signature[3] = {};
uint8_t fuse_bytes[3] = {};

namespace {

// Sends one instruction; returns the byte shifted in at its ANSWER position (0 when
// it has none). Arguments are cut to the bytes the positions carry.
uint8_t run(const IspInstruction& ins, unsigned address = 0, unsigned data = 0) {
  uint8_t answer = 0;
  for (size_t i = 0; i < ins.code.size(); ++i) {
    switch (ins.field[i]) {
      case IspField::FIXED: isp_send_byte(ins.code[i]); break;
      case IspField::ADDRESS_HIGH: isp_send_byte((address >> 8) & 0xFF); break;
      case IspField::ADDRESS_LOW: isp_send_byte(address & 0xFF); break;
      case IspField::DATA: isp_send_byte(data & 0xFF); break;
      case IspField::ANSWER: answer = isp_transfer_byte(0); break;
    }
  }
  return answer;
}

}  // namespace

uint8_t isp_programming_enable() { return run(isp_code::PROGRAMMING_ENABLE); }
void isp_chip_erase() { run(isp_code::CHIP_ERASE); }
uint8_t isp_poll_ready() { return run(isp_code::POLL_READY); }
void isp_load_extended_address(unsigned ext) { run(isp_code::LOAD_EXTENDED_ADDRESS, 0, ext); }
void isp_load_page_high(unsigned word, unsigned data) { run(isp_code::LOAD_PAGE_HIGH, word, data); }
void isp_load_page_low(unsigned word, unsigned data) { run(isp_code::LOAD_PAGE_LOW, word, data); }
void isp_write_page(unsigned address) { run(isp_code::WRITE_PAGE, address); }
uint8_t isp_read_flash_high(unsigned address) { return run(isp_code::READ_FLASH_HIGH, address); }
uint8_t isp_read_flash_low(unsigned address) { return run(isp_code::READ_FLASH_LOW, address); }
uint8_t isp_read_eeprom(unsigned address) { return run(isp_code::READ_EEPROM, address); }
void isp_write_eeprom(unsigned address, unsigned data) { run(isp_code::WRITE_EEPROM, address, data); }
void isp_load_eeprom_page(unsigned offset, unsigned data) { run(isp_code::LOAD_EEPROM_PAGE, offset, data); }
void isp_write_eeprom_page(unsigned address) { run(isp_code::WRITE_EEPROM_PAGE, address); }
uint8_t isp_read_lock() { return run(isp_code::READ_LOCK); }
void isp_write_lock(unsigned data) { run(isp_code::WRITE_LOCK, 0, data); }

void isp_read_signature() {
  for (unsigned i = 0; i < 3; ++i) target_signature[i] = run(isp_code::READ_SIGNATURE, i);
}

// Low, high, extended, in that order; kept as extended, high, low.
void isp_read_fuses() {
  fuse_bytes[2] = run(isp_code::READ_FUSE_LOW);
  fuse_bytes[1] = run(isp_code::READ_FUSE_HIGH);
  fuse_bytes[0] = run(isp_code::READ_FUSE_EXTENDED);
}

void isp_write_fuse_low(unsigned data) { run(isp_code::WRITE_FUSE_LOW, 0, data); }
void isp_write_fuse_high(unsigned data) { run(isp_code::WRITE_FUSE_HIGH, 0, data); }
void isp_write_fuse_extended(unsigned data) { run(isp_code::WRITE_FUSE_EXTENDED, 0, data); }
uint8_t isp_read_calibration() { return run(isp_code::READ_CALIBRATION); }

// A target that stays busy is polled READY_POLL_LIMIT + 2 times, with a pause after
// each busy answer: about half a second before giving up.
int isp_wait_ready() {
  for (int n = 0;; ++n) {
    if ((isp_poll_ready() & BUSY_BIT) == 0) return 0;
    delay_us(READY_POLL_WAIT_US);
    if (n > READY_POLL_LIMIT) return -1;
  }
}
