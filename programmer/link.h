// The ISP cable: three lines on the data register, MISO on status bit 7.
#pragma once
#include <cstdint>

enum CableLine { LINE_MOSI = 0, LINE_SCK = 1, LINE_RESET = 2 };

extern int target_released;  // 1: RESET high, target runs; 0: held in programming mode

void set_cable_line(int line, int level);
void isp_send_byte(unsigned value);
uint8_t isp_transfer_byte(unsigned value);
void enter_programming_mode();
void release_target();
void raise_reset_line();
