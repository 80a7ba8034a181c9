// The four-axis stepper board on the first parallel port: eight axis lines on the
// data register, four aux outputs on the control register, five switch inputs on
// the status register. Every board access of the utility goes through here.
#pragma once
#include <array>
#include <cstdint>

// Axis lines: the number is the data-register bit, a set bit drives the pin high.
// A direction line doubles as the serial data line of its axis's motor driver and
// the step line as its serial clock.
constexpr unsigned LINE_X_DIR = 0;   // pin 2
constexpr unsigned LINE_X_STEP = 1;  // pin 3
constexpr unsigned LINE_Y_DIR = 2;   // pin 4
constexpr unsigned LINE_Y_STEP = 3;  // pin 5
constexpr unsigned LINE_Z_DIR = 4;   // pin 6
constexpr unsigned LINE_Z_STEP = 5;  // pin 7
constexpr unsigned LINE_A_DIR = 6;   // pin 8, also the 1 Hz test output
constexpr unsigned LINE_A_STEP = 7;  // pin 9
constexpr unsigned AXIS_LINE_COUNT = 8;
// A line number that drives nothing: set_axis_line ignores lines above 7.
constexpr unsigned NO_LINE = 0xFF;

// Direction values, written to the direction line unchanged: counter-clockwise is high.
constexpr uint8_t DIRECTION_CW = 0;
constexpr uint8_t DIRECTION_CCW = 1;

constexpr int AXIS_COUNT = 4;
struct AxisLines {
  char letter;         // lower case
  unsigned dir_line;
  unsigned step_line;
};
constexpr std::array<AxisLines, AXIS_COUNT> axis_lines = {{
    {'x', LINE_X_DIR, LINE_X_STEP},
    {'y', LINE_Y_DIR, LINE_Y_STEP},
    {'z', LINE_Z_DIR, LINE_Z_STEP},
    {'a', LINE_A_DIR, LINE_A_STEP},
}};
// Row of `axis_lines` for a lower-case axis letter, -1 for any other character.
int axis_index(char letter);

// Aux outputs: the index is the control-register bit. The port inverts control
// bits 0, 1 and 3 on their way to the pins and passes bit 2 straight, so "on"
// clears bits 0, 1, 3 and sets bit 2: every aux pin is then high while its output is on.
constexpr unsigned AUX1 = 1;  // pin 14
constexpr unsigned AUX2 = 2;  // pin 16
constexpr unsigned AUX3 = 3;  // pin 17
constexpr unsigned AUX4 = 0;  // pin 1
constexpr unsigned AUX_COUNT = 4;
// Register bit value that switches each output on, by control bit 0..3.
constexpr std::array<uint8_t, AUX_COUNT> aux_on_bit = {0, 0, 1, 0};
// The control register's line bits with every output off (1011): each bit at the
// value that does not switch its output on.
constexpr uint8_t aux_all_off_register() {
  uint8_t value = 0;
  for (unsigned bit = 0; bit < AUX_COUNT; ++bit)
    if (aux_on_bit[bit] == 0) value = static_cast<uint8_t>(value | (1u << bit));
  return value;
}
// Hardware order of the group operations: Aux1, Aux2, Aux3, Aux4.
constexpr std::array<unsigned, AUX_COUNT> aux_order = {AUX1, AUX2, AUX3, AUX4};

// Inputs: the number is the status-register bit. Every switch reads open with its
// pin high; since the port inverts status bit 7, the X limit's register bit reads 0
// when open and the others read 1.
constexpr uint8_t INPUT_X_LIMIT = 7;  // pin 11
constexpr uint8_t INPUT_Y_LIMIT = 5;  // pin 12
constexpr uint8_t INPUT_Z_LIMIT = 4;  // pin 13
constexpr uint8_t INPUT_A_LIMIT = 3;  // pin 15
constexpr uint8_t INPUT_ESTOP = 6;    // pin 10

// Step pulse: high for 4 units, then low for 3 before anything else may happen.
constexpr int STEP_HIGH_UNITS = 4;
constexpr int STEP_LOW_UNITS = 3;
// Driver transfer: the start condition holds 5 + 1 units, each bit 5 + 5.
constexpr int DRIVER_START_UNITS = 5;
constexpr int DRIVER_START_SETTLE_UNITS = 1;
constexpr int DRIVER_HALF_BIT_UNITS = 5;

// Only the value 1 drives a line high; lines above 7 touch no register.
void set_axis_line(unsigned line, int8_t value);
// on = 1 switches the output on, 0 off; indices above 3 change nothing.
void set_aux_output(unsigned index, int on);
// -1 for a set status bit, 0 for a clear one, exactly as the register shows it.
int read_input(uint8_t bit);
// 'H' for -1, 'L' for anything else.
char level_letter(int value);
void step_pulse(unsigned line);
void all_axis_lines_off();
void all_aux_on();
void all_aux_off();
// All four outputs off in one register write, where the port library offers one.
void all_aux_off_at_once();
// Sends the low eight bits of `byte` to the driver of axis 'x', 'y', 'z' or 'a'
// (lower case only): start condition, then eight bits, least significant first,
// each valid at the rising clock edge. Another letter drives nothing, but every
// wait still runs.
void send_driver_byte(int byte, char axis);
