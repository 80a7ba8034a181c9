// The ISP cable: three lines on the data register, MISO on status bit 7.
#pragma once
#include <cstdint>

enum CableLine { LINE_MOSI = 0, LINE_SCK = 1, LINE_RESET = 2 };

extern int target_released;  // 1: RESET high, target runs; 0: held in programming mode

// The waits of the serial clock, in nanoseconds. SCK stays low for two `low` waits (one
// before MOSI changes, one after) and high for one `send_high` wait in a send, two
// `sample_high` waits in a transfer (MISO is sampled between them); `lead_in` before
// the first bit of a byte. The standard timing suits a chip at 1 MHz, the slowest any
// part leaves the factory at: every phase 2 us or more.
struct IspTiming {
  int64_t lead_in_ns;
  int64_t low_ns;
  int64_t send_high_ns;
  int64_t sample_high_ns;
  bool only_changes;  // a line already at its level is not written again
};
extern const IspTiming STANDARD_TIMING;
extern IspTiming isp_timing;  // the waits in use; STANDARD_TIMING unless a download shortens them
// Waits that make every SCK phase last at least `phase_ns`, with no lead-in, and
// only the calls that change a line.
IspTiming timing_for_phase(int64_t phase_ns);

void set_cable_line(int line, int level);
void isp_send_byte(unsigned value);
uint8_t isp_transfer_byte(unsigned value);
void enter_programming_mode();
void release_target();
void raise_reset_line();
