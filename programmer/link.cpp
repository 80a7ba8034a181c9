// The bit-banged serial link to the target and the reset sequences.
//
// Every edge is one port call followed by a busy-wait; nothing else touches the data
// register while a byte is shifted. At the standard timing a send costs 5 + 8 x 6 us
// of waiting, a transfer 5 + 8 x 8: SCK stays high 2 us in a send, 4 in a transfer
// (MISO is sampled in the middle of that), and low 4 us between bits. A shortened
// clock keeps the same order with shorter waits (isp_timing).
#include "link.h"

#include <cstddef>

#include "delay.h"
#include "hardware.h"
#include "port.h"

int target_released = 0;
const IspTiming STANDARD_TIMING{SHIFT_LEAD_IN_US * 1000, HALF_BIT_US * 1000, HALF_BIT_US * 1000, HALF_BIT_US * 1000,
                                false};
IspTiming isp_timing = STANDARD_TIMING;

// Each wait starts after the port call that made the edge has returned and ends
// before the next begins, so a phase lasts at least its waits, whatever the port costs.
IspTiming timing_for_phase(int64_t phase_ns) {
  const int64_t half = (phase_ns + 1) / 2;
  return {0, half, 2 * half, half, true};
}

namespace {
int line_level[CABLE_LINE_COUNT] = {-1, -1, -1, -1, -1, -1, -1};  // as last written, -1 not yet
}

void set_cable_line(int line, int level) {
  if (line < 0 || line >= CABLE_LINE_COUNT) return;
  line_level[line] = level == 1 ? 1 : 0;
  const PortLine& out = CABLE_OUTPUTS[static_cast<size_t>(line)];
  if (level == 1)
    SetPortBit(out.port, out.bit);
  else
    ClrPortBit(out.port, out.bit);
}

namespace {

bool miso_is_one() { return GetPortBit(CABLE_MISO.port, CABLE_MISO.bit) == MISO_READING_PIN_HIGH; }

// With `only_changes`, a line already at `level` is not written again: on a port
// whose every access takes a microsecond, a third of a byte's calls. The standard
// timing makes the calls it always made.
void drive(int line, int level, bool only_changes) {
  if (!only_changes || line_level[line] != level) set_cable_line(line, level);
}

// Shifts one byte, most significant bit first; with `sample` set, reads MISO in the
// middle of each high phase of SCK and returns what it saw.
uint8_t shift_byte(unsigned value, bool sample) {
  unsigned result = 0;
  const IspTiming& t = isp_timing;
  drive(LINE_SCK, 0, t.only_changes);
  delay_ns(t.lead_in_ns);
  for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
    drive(LINE_MOSI, (value & mask) ? 1 : 0, t.only_changes);
    delay_ns(t.low_ns);
    set_cable_line(LINE_SCK, 1);
    if (sample) {
      delay_ns(t.sample_high_ns);
      result = (result << 1) & 0xFF;
      if (miso_is_one()) result |= 1;
      delay_ns(t.sample_high_ns);
    } else {
      delay_ns(t.send_high_ns);
    }
    set_cable_line(LINE_SCK, 0);
    delay_ns(t.low_ns);
  }
  return static_cast<uint8_t>(result);
}

}  // namespace

void isp_send_byte(unsigned value) { shift_byte(value & 0xFF, false); }

uint8_t isp_transfer_byte(unsigned value) { return shift_byte(value & 0xFF, true); }

// A positive pulse on RESET while SCK is low, then RESET held low: the target enters
// serial-programming mode and is ready for Programming Enable about 0.39 s later.
void enter_programming_mode() {
  set_cable_line(LINE_MOSI, 1);
  set_cable_line(LINE_SCK, 0);
  delay_us(RESET_SETTLE_US);
  delay_us(RESET_PRE_US);
  set_cable_line(LINE_RESET, 1);
  delay_us(RESET_SETTLE_US);
  set_cable_line(LINE_RESET, 0);
  delay_us(PROGRAMMING_ENTRY_US);
  target_released = 0;
}

void release_target() {
  delay_us(RELEASE_LEAD_IN_US);
  set_cable_line(LINE_RESET, 1);
  delay_us(RESET_SETTLE_US);
  target_released = 1;
}

void raise_reset_line() {
  set_cable_line(LINE_RESET, 1);
  delay_us(RESET_SETTLE_US);
}
