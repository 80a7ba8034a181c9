// Moving the motors: the single step, the interactive test drive and the ramp
// test. Each loop is built from a pass function and an arithmetic function that a
// test can run one pass at a time.
#pragma once
#include <cstdint>

// The test drive's status lines add the cost of a step pass to the pause: 58 units
// in its first line, 40 in the lines after a key.
constexpr int32_t DRIVE_FIRST_LINE_EXTRA = 58;
constexpr int32_t DRIVE_KEY_LINE_EXTRA = 40;
constexpr int STEPS_PER_REVOLUTION = 200;
constexpr int32_t FIVE_COMMAND_DELAY_US = 20000;
constexpr int32_t RAMP_START_DELAY = 200000;
// Slowest pause the test drive's d key reaches, so that the figure plus the line's
// 58 units still fits a signed 32-bit count.
constexpr int32_t DRIVE_SLOWEST_DELAY = INT32_MAX - DRIVE_FIRST_LINE_EXTRA;

struct SpeedFigures {
  int32_t steps_per_second;
  int32_t rpm;
};
// Computed from a pause P in delay units taken as microseconds, not measured.
SpeedFigures speed_figures(int32_t pause);

// u: five per cent faster; d: five per cent slower, doubling plus one below 20
// where five per cent would truncate to nothing. Never below 1.
int32_t apply_speed_key(int32_t delay, int key);

// "s" command: the word's second character names the axis, its third the direction.
void single_step(const char* word);

// One pass of the test drive: each axis's configured direction, then a step on
// each enabled axis, in the order X, Y, Z, A.
void drive_step_pass();

struct DriveKeys {
  int axis = -1;       // selected axis row, -1 before any axis key
  bool armed = false;  // an action key will act on the selected axis
};
// Handles one key of the test drive; true when the key ends it.
bool drive_key(DriveKeys& keys, int key);
void test_drive();

struct RampState {
  int32_t delay;
  bool accelerating;
  int64_t elapsed;  // units waited since the last adjustment
  uint8_t direction;
};
RampState ramp_start(int32_t start_delay);
// Counts one pass's wait and, when the waits add up to more than the slowest pause,
// speeds up or slows down by five per cent, clamping at the X axis's limits and
// reversing at the slow end.
void ramp_adjust(RampState& ramp);
// Step pass, wait, adjustment and the status line.
void ramp_pass(RampState& ramp);
void ramp_test(int32_t start_delay);
