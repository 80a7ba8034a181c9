// The AVR serial-programming instructions, one operation each.
#pragma once
#include <cstdint>

constexpr int READY_POLL_LIMIT = 5000;  // isp_wait_ready gives up after 5002 polls

extern uint8_t target_signature[3];
extern uint8_t fuse_bytes[3];  // extended, high, low

uint8_t isp_programming_enable();
void isp_chip_erase();
uint8_t isp_poll_ready();
void isp_load_extended_address(unsigned ext);
void isp_load_page_high(unsigned word, unsigned data);
void isp_load_page_low(unsigned word, unsigned data);
void isp_write_page(unsigned address);
uint8_t isp_read_flash_high(unsigned address);
uint8_t isp_read_flash_low(unsigned address);
uint8_t isp_read_eeprom(unsigned address);
void isp_write_eeprom(unsigned address, unsigned data);
void isp_load_eeprom_page(unsigned offset, unsigned data);
void isp_write_eeprom_page(unsigned address);
uint8_t isp_read_lock();
void isp_write_lock(unsigned data);
void isp_read_signature();
void isp_read_fuses();
void isp_write_fuse_low(unsigned data);
void isp_write_fuse_high(unsigned data);
void isp_write_fuse_extended(unsigned data);
uint8_t isp_read_calibration();
int isp_wait_ready();  // 0 ready, -1 time-out
