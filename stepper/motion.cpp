#include "motion.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>

#include "console.h"
#include "pacing.h"
#include "settings.h"
#include "signals.h"

namespace {

int32_t truncate_to_int32(double value) {
  if (!(value < 2147483647.0)) return INT32_MAX;  // also an infinite rate of a zero pause
  if (value < -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(std::trunc(value));
}

void print_drive_line(const char* format, int32_t shown_delay, int32_t speed_pause) {
  SpeedFigures speed = speed_figures(speed_pause);
  std::printf(format, shown_delay, speed.steps_per_second, speed.rpm);
  std::fflush(stdout);
}

// Step pass with one direction for all axes, or the configured ones.
void step_pass(const uint8_t* common_direction) {
  for (int axis = 0; axis < AXIS_COUNT; ++axis) {
    uint8_t direction = common_direction ? *common_direction : axis_direction(axis);
    set_axis_line(axis_lines[axis].dir_line, static_cast<int8_t>(direction));
    if (axis_enable(axis) == 1) step_pulse(axis_lines[axis].step_line);
  }
}

}  // namespace

SpeedFigures speed_figures(int32_t pause) {
  double f = static_cast<float>(pause);
  double steps_per_second = 1.0 / (f / 1000000.0);
  double rpm = steps_per_second / STEPS_PER_REVOLUTION * 60.0;
  return {truncate_to_int32(steps_per_second), truncate_to_int32(rpm)};
}

int32_t apply_speed_key(int32_t delay, int key) {
  double d = delay;
  if (key == 'u') delay = truncate_to_int32(d - d * 0.05);
  if (key == 'd') delay = delay >= 20 ? truncate_to_int32(d + d * 0.05) : delay * 2 + 1;
  if (delay > DRIVE_SLOWEST_DELAY) delay = DRIVE_SLOWEST_DELAY;
  if (delay <= 1) delay = 1;
  return delay;
}

void single_step(const char* word) {
  char letter = word[0] ? static_cast<char>(std::tolower(static_cast<unsigned char>(word[1]))) : 0;
  char sense = letter ? static_cast<char>(std::tolower(static_cast<unsigned char>(word[2]))) : 0;
  uint8_t direction = sense == 'c' ? DIRECTION_CW : DIRECTION_CCW;
  int axis = letter ? axis_index(letter) : -1;
  unsigned dir_line = axis < 0 ? NO_LINE : axis_lines[axis].dir_line;
  unsigned step_line = axis < 0 ? NO_LINE : axis_lines[axis].step_line;
  set_axis_line(dir_line, static_cast<int8_t>(direction));
  step_pulse(step_line);
}

void drive_step_pass() { step_pass(nullptr); }

bool drive_key(DriveKeys& keys, int key) {
  settings.test_delay_us = apply_speed_key(settings.test_delay_us, key);
  if (key != 'q')
    print_drive_line("Delay %d usec, %d steps/sec, %d rpm                      \r",
                     settings.test_delay_us + DRIVE_FIRST_LINE_EXTRA,
                     settings.test_delay_us + DRIVE_KEY_LINE_EXTRA);
  int axis = key > 0 && key < 128 ? axis_index(static_cast<char>(key)) : -1;
  if (axis >= 0) {
    keys.axis = axis;
    keys.armed = true;
  } else if (keys.armed && (key == 'c' || key == 'w' || key == 'o' || key == 'f')) {
    if (key == 'c') axis_direction(keys.axis) = DIRECTION_CW;
    if (key == 'w') axis_direction(keys.axis) = DIRECTION_CCW;
    if (key == 'o') axis_enable(keys.axis) = 1;
    if (key == 'f') axis_enable(keys.axis) = 0;
    print_axis_status();
    keys.armed = false;
  }
  return key == 'q';
}

void test_drive() {
  // Single keys from here on, before the first line is shown: a key pressed while
  // the header prints is neither echoed nor held for a newline.
  KeyMode keys_mode;
  std::printf("Test Drive Function\n");
  print_axis_status();
  std::printf("Enter axis id [x,y,z,a] followed by [o-on|f-off] or [c-cw|w-ccw]\n");
  std::printf("Press any q to quit\n\n");
  print_drive_line("Delay %d usec, %d steps/sec, %d rpm - u-increase, d-decrease, q-exit\n",
                   settings.test_delay_us + DRIVE_FIRST_LINE_EXTRA,
                   settings.test_delay_us + DRIVE_FIRST_LINE_EXTRA);
  DriveKeys keys;
  for (;;) {
    drive_step_pass();
    wait_units(settings.test_delay_us);
    if (!key_waiting()) continue;
    int key = read_key();
    if (key == CONSOLE_END) key = 'q';  // nobody left to press q
    if (drive_key(keys, key)) return;
  }
}

RampState ramp_start(int32_t start_delay) { return {start_delay, true, 0, DIRECTION_CW}; }

void ramp_adjust(RampState& ramp) {
  ramp.elapsed += ramp.delay;
  if (ramp.elapsed <= settings.x_max_delay_us) return;
  ramp.elapsed = 0;
  double d = ramp.delay;
  ramp.delay = truncate_to_int32(ramp.accelerating ? d - d * 0.05 : d + d * 0.05);
  if (ramp.delay < settings.x_min_delay_us) {
    ramp.delay = settings.x_min_delay_us;
    ramp.accelerating = false;
  }
  if (ramp.delay > settings.x_max_delay_us) {
    ramp.delay = settings.x_max_delay_us;
    ramp.accelerating = true;
    ramp.direction = ramp.direction == 0 ? 1 : 0;
  }
}

void ramp_pass(RampState& ramp) {
  step_pass(&ramp.direction);
  wait_units(ramp.delay);
  ramp_adjust(ramp);
  print_drive_line("Delay %d usec, %d steps/sec, %d rpm                \r", ramp.delay, ramp.delay);
}

void ramp_test(int32_t start_delay) {
  KeyMode keys_mode;
  std::printf("Ramp Test Function\n");
  std::printf("Press any key to quit\n");
  RampState ramp = ramp_start(start_delay);
  while (!key_waiting()) ramp_pass(ramp);
  std::printf("\n");
}
