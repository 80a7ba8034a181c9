#include "signals.h"

#include "pacing.h"
#include "port.h"

int axis_index(char letter) {
  for (int i = 0; i < AXIS_COUNT; ++i)
    if (axis_lines[i].letter == letter) return i;
  return -1;
}

void set_axis_line(unsigned line, int8_t value) {
  if (line >= AXIS_LINE_COUNT) return;
  if (value == 1)
    SetPortBit(LPT_DATA, static_cast<uint8_t>(line));
  else
    ClrPortBit(LPT_DATA, static_cast<uint8_t>(line));
}

void set_aux_output(unsigned index, int on) {
  if (index >= AUX_COUNT) return;
  bool set_bit = on ? aux_on_bit[index] == 1 : aux_on_bit[index] == 0;
  if (set_bit)
    SetPortBit(LPT_CONTROL, static_cast<uint8_t>(index));
  else
    ClrPortBit(LPT_CONTROL, static_cast<uint8_t>(index));
}

int read_input(uint8_t bit) { return GetPortBit(LPT_STATUS, bit); }

char level_letter(int value) { return value == -1 ? 'H' : 'L'; }

void step_pulse(unsigned line) {
  set_axis_line(line, 1);
  wait_units(STEP_HIGH_UNITS);
  set_axis_line(line, 0);
  wait_units(STEP_LOW_UNITS);
}

void all_axis_lines_off() {
  for (unsigned line = 0; line < AXIS_LINE_COUNT; ++line) set_axis_line(line, 0);
}

void all_aux_on() {
  for (unsigned index : aux_order) set_aux_output(index, 1);
}

void all_aux_off() {
  for (unsigned index : aux_order) set_aux_output(index, 0);
}

void all_aux_off_at_once() { write_port_register(LPT_CONTROL, aux_all_off_register()); }

void send_driver_byte(int byte, char axis) {
  int row = axis_index(axis);
  unsigned data = row < 0 ? NO_LINE : axis_lines[row].dir_line;
  unsigned clock = row < 0 ? NO_LINE : axis_lines[row].step_line;

  // Start condition: the data line falls while the clock is high.
  set_axis_line(data, 1);
  set_axis_line(clock, 1);
  wait_units(DRIVER_START_UNITS);
  set_axis_line(data, 0);
  wait_units(DRIVER_START_SETTLE_UNITS);

  // Data changes only while the clock is low; the driver samples it on the rise.
  for (int bit = 0; bit < 8; ++bit) {
    set_axis_line(clock, 0);
    wait_units(DRIVER_HALF_BIT_UNITS);
    set_axis_line(data, static_cast<int8_t>((byte >> bit) & 1));
    set_axis_line(clock, 1);
    wait_units(DRIVER_HALF_BIT_UNITS);
  }
  set_axis_line(clock, 0);
}
