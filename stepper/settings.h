// The utility's one settings record, its defaults, the optional configuration file
// "pavoltconfig.txt" and the two settings reports.
#pragma once
#include <cstdint>
#include <cstdio>

struct Settings {
  int32_t max_x_step_pps, min_x_step_pps;
  int32_t max_y_step_pps, min_y_step_pps;
  int32_t max_z_step_pps, min_z_step_pps;
  int32_t max_a_step_pps, min_a_step_pps;
  float max_feedrate;  // inches per minute
  float x_resolution, y_resolution, z_resolution, a_resolution;  // inches per step
  uint8_t x_axis_enable, y_axis_enable, z_axis_enable, a_axis_enable;  // 1 on, 0 off
  uint8_t x_axis_direction, y_axis_direction, z_axis_direction, a_axis_direction;
  char x_step_mode, y_step_mode, z_step_mode, a_step_mode;  // lower case
  int32_t test_delay_us;   // test drive pause, delay units
  int32_t x_min_delay_us;  // ramp: fastest pause, from max_x_step_pps
  int32_t x_max_delay_us;  // ramp: slowest pause and adjustment interval, from min_x_step_pps
};

extern Settings settings;

constexpr const char* CONFIG_FILE_NAME = "pavoltconfig.txt";
// Key and value words of the configuration file hold at most 59 characters.
constexpr size_t CONFIG_WORD_CAPACITY = 60;

constexpr int32_t DEFAULT_MAX_STEP_PPS = 3500;
constexpr int32_t DEFAULT_MIN_STEP_PPS = 10;
constexpr float DEFAULT_MAX_FEEDRATE = 20.0f;
constexpr float DEFAULT_RESOLUTION = 0.00025f;
constexpr char DEFAULT_STEP_MODE = 'w';
constexpr int32_t DEFAULT_TEST_DELAY_US = 2000;

// Per-axis fields by axis row (x, y, z, a).
uint8_t& axis_enable(int axis);
uint8_t& axis_direction(int axis);
char axis_step_mode(int axis);

void store_default_settings();
// Lines off, defaults, configuration file, derived limits.
void init_settings();
// Reads "pavoltconfig.txt" from the working directory when it exists.
void load_config_file();
// Reads configuration words from an open file; `name` appears in messages.
void read_config(std::FILE* file, const char* name);
void derive_delay_limits();
void print_axis_status();
void print_settings();
