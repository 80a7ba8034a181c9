#include "settings.h"

#include <cctype>
#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <strings.h>

#include "console.h"
#include "run_state.h"
#include "signals.h"

Settings settings;

namespace {

enum KeyKind { KEY_RATE, KEY_FLOAT, KEY_ENABLE, KEY_DIRECTION, KEY_STEP_MODE };

struct ConfigKey {
  const char* name;
  KeyKind kind;
  int32_t Settings::*rate = nullptr;
  float Settings::*number = nullptr;
  uint8_t Settings::*flag = nullptr;
  char Settings::*letter = nullptr;
};

// The keys in the order every word is compared with them.
const ConfigKey config_keys[] = {
    {"max_x_step_pps", KEY_RATE, &Settings::max_x_step_pps},
    {"min_x_step_pps", KEY_RATE, &Settings::min_x_step_pps},
    {"max_y_step_pps", KEY_RATE, &Settings::max_y_step_pps},
    {"min_y_step_pps", KEY_RATE, &Settings::min_y_step_pps},
    {"max_z_step_pps", KEY_RATE, &Settings::max_z_step_pps},
    {"min_z_step_pps", KEY_RATE, &Settings::min_z_step_pps},
    {"max_a_step_pps", KEY_RATE, &Settings::max_a_step_pps},
    {"min_a_step_pps", KEY_RATE, &Settings::min_a_step_pps},
    {"max_feedrate", KEY_FLOAT, nullptr, &Settings::max_feedrate},
    {"x_resolution", KEY_FLOAT, nullptr, &Settings::x_resolution},
    {"y_resolution", KEY_FLOAT, nullptr, &Settings::y_resolution},
    {"z_resolution", KEY_FLOAT, nullptr, &Settings::z_resolution},
    {"a_resolution", KEY_FLOAT, nullptr, &Settings::a_resolution},
    {"x_axis_enable", KEY_ENABLE, nullptr, nullptr, &Settings::x_axis_enable},
    {"y_axis_enable", KEY_ENABLE, nullptr, nullptr, &Settings::y_axis_enable},
    {"z_axis_enable", KEY_ENABLE, nullptr, nullptr, &Settings::z_axis_enable},
    {"a_axis_enable", KEY_ENABLE, nullptr, nullptr, &Settings::a_axis_enable},
    {"x_axis_direction", KEY_DIRECTION, nullptr, nullptr, &Settings::x_axis_direction},
    {"y_axis_direction", KEY_DIRECTION, nullptr, nullptr, &Settings::y_axis_direction},
    {"z_axis_direction", KEY_DIRECTION, nullptr, nullptr, &Settings::z_axis_direction},
    {"a_axis_direction", KEY_DIRECTION, nullptr, nullptr, &Settings::a_axis_direction},
    {"x_step_mode", KEY_STEP_MODE, nullptr, nullptr, nullptr, &Settings::x_step_mode},
    {"y_step_mode", KEY_STEP_MODE, nullptr, nullptr, nullptr, &Settings::y_step_mode},
    {"z_step_mode", KEY_STEP_MODE, nullptr, nullptr, nullptr, &Settings::z_step_mode},
    {"a_step_mode", KEY_STEP_MODE, nullptr, nullptr, nullptr, &Settings::a_step_mode},
};

constexpr uint8_t Settings::*enable_fields[AXIS_COUNT] = {
    &Settings::x_axis_enable, &Settings::y_axis_enable, &Settings::z_axis_enable,
    &Settings::a_axis_enable};
constexpr uint8_t Settings::*direction_fields[AXIS_COUNT] = {
    &Settings::x_axis_direction, &Settings::y_axis_direction, &Settings::z_axis_direction,
    &Settings::a_axis_direction};
constexpr char Settings::*step_mode_fields[AXIS_COUNT] = {
    &Settings::x_step_mode, &Settings::y_step_mode, &Settings::z_step_mode,
    &Settings::a_step_mode};

// Words of the configuration file, with the line each stands on. A value that holds
// a number and more (12,5 or 1000min_x_step_pps) gives back what follows the number
// as the next word, as a "%d" or "%f" conversion would leave it; a word that holds no
// number is given back whole. So a key written straight after a bad value still counts.
class ConfigWords {
 public:
  ConfigWords(std::FILE* file, const char* name) : file_(file), name_(name) {}

  // Next word into `word` (CONFIG_WORD_CAPACITY bytes).
  WordResult next(char* word) {
    if (!pending_.empty()) {
      std::memcpy(word, pending_.c_str(), pending_.size() + 1);
      pending_.clear();
      return WORD_OK;
    }
    WordResult result = read_file_word(file_, word, CONFIG_WORD_CAPACITY, &line_);
    if (result != WORD_END) word_line_ = line_;  // at the end, the key's line stays
    return result;
  }

  void put_back(const char* rest) { pending_ = rest; }
  int line() const { return word_line_; }

  // One line on standard error for a value that can't be used: the file's line, the
  // key, what is wrong, and the value the setting keeps. The run then ends with 2.
  void refuse(const ConfigKey& key, const std::string& what, const std::string& kept) const {
    report_failure(Stream::err, "%s line %d: %s %s - keeping %s\n", name_, word_line_, key.name, what.c_str(),
                   kept.c_str());
  }

 private:
  std::FILE* file_;
  const char* name_;
  std::string pending_;
  int line_ = 1;       // where reading stands
  int word_line_ = 1;  // the line of the word read last
};

// The key's value word, or null: at the end of the file the key is refused as having
// none; a word too long to hold was refused as it was read.
const char* value_word(ConfigWords& words, const ConfigKey& key, char* word, const std::string& kept) {
  const WordResult result = words.next(word);
  if (result == WORD_END) words.refuse(key, "has no value", kept);
  return result == WORD_OK ? word : nullptr;
}

// True when the rate was set.
bool read_rate(ConfigWords& words, const ConfigKey& key) {
  int32_t& field = settings.*key.rate;
  const std::string kept = std::to_string(field);
  char word[CONFIG_WORD_CAPACITY];
  if (!value_word(words, key, word, kept)) return false;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(word, &end, 10);
  if (end == word || *end) {
    words.refuse(key, std::string(word) + " is not a whole number", kept);
    words.put_back(end == word ? word : end);
  } else if (errno == ERANGE || value > INT32_MAX || value < INT32_MIN) {
    words.refuse(key, std::string(word) + " is out of range", kept);
  } else if (value <= 0) {  // a rate of 0 or below would divide the delay limits by zero
    words.refuse(key, std::string(word) + " must be above 0", kept);
  } else {
    field = static_cast<int32_t>(value);
    return true;
  }
  return false;
}

// The end of the plain decimal number `text` begins with (digits, a sign before them
// and one decimal point among them), or `text` itself when it begins with none. Not
// hexadecimal, exponents, inf or nan: the file is one of plain decimal numbers.
const char* plain_decimal_end(const char* text) {
  const char* p = text + (*text == '+' || *text == '-');
  bool digits = false, point = false;
  for (;; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p))) digits = true;
    else if (*p == '.' && !point) point = true;
    else break;
  }
  return digits ? p : text;
}

// Feed rates and resolutions: a plain decimal number above 0 (the moves divide by them).
void read_float(ConfigWords& words, const ConfigKey& key) {
  float& field = settings.*key.number;
  char kept[32];
  std::snprintf(kept, sizeof kept, "%g", static_cast<double>(field));
  char word[CONFIG_WORD_CAPACITY];
  if (!value_word(words, key, word, kept)) return;
  const char* end = plain_decimal_end(word);
  const double value = std::strtod(word, nullptr);
  if (end == word || *end) {
    words.refuse(key, std::string(word) + " is not a plain decimal number", kept);
    words.put_back(end);
  } else if (value > FLT_MAX) {
    words.refuse(key, std::string(word) + " is out of range", kept);
  } else if (!(value > 0) || static_cast<float>(value) == 0) {
    words.refuse(key, std::string(word) + " must be above 0", kept);
  } else {
    field = static_cast<float>(value);
  }
}

// A flag that one of two words sets (on or off, cw or ccw); any other word is refused.
struct FlagWords {
  const char* name[2];
  uint8_t value[2];
};
constexpr FlagWords ENABLE_WORDS = {{"on", "off"}, {1, 0}};
constexpr FlagWords DIRECTION_WORDS = {{"cw", "ccw"}, {DIRECTION_CW, DIRECTION_CCW}};

void read_flag(ConfigWords& words, const ConfigKey& key, const FlagWords& choice, char* value) {
  uint8_t& flag = settings.*key.flag;
  const char* kept = flag == choice.value[0] ? choice.name[0] : choice.name[1];
  if (!value_word(words, key, value, kept)) return;
  for (int i = 0; i < 2; ++i) {
    if (strcasecmp(value, choice.name[i]) == 0) {
      flag = choice.value[i];
      return;
    }
  }
  words.refuse(key, std::string(value) + " is neither " + choice.name[0] + " nor " + choice.name[1], kept);
}

// The word after an enable, direction or step-mode key is its value, whatever it holds.
void read_word_value(ConfigWords& words, const ConfigKey& key) {
  char value[CONFIG_WORD_CAPACITY];
  switch (key.kind) {
    case KEY_ENABLE:
      read_flag(words, key, ENABLE_WORDS, value);
      break;
    case KEY_DIRECTION:
      read_flag(words, key, DIRECTION_WORDS, value);
      break;
    case KEY_STEP_MODE: {
      char& letter = settings.*key.letter;
      if (!value_word(words, key, value, std::string(1, letter))) return;
      letter = static_cast<char>(std::tolower(static_cast<unsigned char>(value[0])));
      break;
    }
    default:
      break;
  }
}

int32_t rate_to_delay(int32_t steps_per_second) {
  return static_cast<int32_t>(std::trunc(1000000.0 / steps_per_second));
}

const char* direction_text(uint8_t direction) { return direction == 0 ? "CW " : "CCW "; }

}  // namespace

uint8_t& axis_enable(int axis) { return settings.*enable_fields[axis]; }
uint8_t& axis_direction(int axis) { return settings.*direction_fields[axis]; }
char axis_step_mode(int axis) { return settings.*step_mode_fields[axis]; }

void store_default_settings() {
  for (int32_t Settings::*max : {&Settings::max_x_step_pps, &Settings::max_y_step_pps,
                                 &Settings::max_z_step_pps, &Settings::max_a_step_pps})
    settings.*max = DEFAULT_MAX_STEP_PPS;
  for (int32_t Settings::*min : {&Settings::min_x_step_pps, &Settings::min_y_step_pps,
                                 &Settings::min_z_step_pps, &Settings::min_a_step_pps})
    settings.*min = DEFAULT_MIN_STEP_PPS;
  settings.max_feedrate = DEFAULT_MAX_FEEDRATE;
  settings.x_resolution = settings.y_resolution = DEFAULT_RESOLUTION;
  settings.z_resolution = settings.a_resolution = DEFAULT_RESOLUTION;
  for (int axis = 0; axis < AXIS_COUNT; ++axis) {
    settings.*enable_fields[axis] = 1;
    settings.*direction_fields[axis] = DIRECTION_CW;
    settings.*step_mode_fields[axis] = DEFAULT_STEP_MODE;
  }
  settings.test_delay_us = DEFAULT_TEST_DELAY_US;
  settings.x_min_delay_us = 0;
  settings.x_max_delay_us = 0;
}

void init_settings() {
  // This is the run's first port operation, which opens the port. On ppdev the claim
  // sets the control register to the kernel's default (0x0C), which by the board's
  // polarity switches Aux1, Aux2 and Aux4 on: one write of the all-off value follows
  // at once, rather than three bit changes after eight axis lines.
  all_aux_off_at_once();
  all_axis_lines_off();
  all_aux_off();
  store_default_settings();
  load_config_file();
  derive_delay_limits();
}

// A name that opens may still give no bytes: a folder of that name opens for reading
// on Linux and fails at the first read. True when the first read works (or meets the
// end of an empty file); the byte read is put back.
bool first_read_works(std::FILE* file) {
  const int c = std::fgetc(file);
  if (c == EOF) return !std::ferror(file);
  std::ungetc(c, file);
  return true;
}

void load_config_file() {
  std::FILE* file = std::fopen(CONFIG_FILE_NAME, "r");
  if (!file) {
    // No file: the defaults, silently. A file the user may not read (one an earlier
    // run as root left behind, say) leaves the defaults too, but the run doesn't pass
    // for one that took the user's settings.
    if (errno != ENOENT) {
      const int error = errno;
      report_failure(Stream::err, "%s: %s - default settings kept\n", CONFIG_FILE_NAME, std::strerror(error));
    }
    return;
  }
  if (!first_read_works(file)) {
    report_failure(Stream::out, "\n%s can't be read - default settings kept\n", CONFIG_FILE_NAME);
    std::fclose(file);
    return;
  }
  std::printf("\n%s file found - Updating parameters\n", CONFIG_FILE_NAME);
  read_config(file, CONFIG_FILE_NAME);
  if (std::ferror(file)) {
    report_failure(Stream::out, "%s: read error - the rest of the file was not read\n", CONFIG_FILE_NAME);
  }
  std::fclose(file);
}

namespace {

// A minimum rate above its maximum would make the slowest step faster than the fastest:
// both keep the values they had before the file, and the later key's line is named.
// The rate keys stand in pairs, maximum first.
void check_rate_pairs(const Settings& before, const int* set_on_line, const char* name) {
  for (size_t max = 0; config_keys[max].kind == KEY_RATE; max += 2) {
    const ConfigKey &top = config_keys[max], &bottom = config_keys[max + 1];
    if (settings.*bottom.rate <= settings.*top.rate) continue;
    report_failure(Stream::err, "%s line %d: %s %d is above %s %d - keeping %d and %d\n", name,
                   std::max(set_on_line[max], set_on_line[max + 1]), bottom.name, settings.*bottom.rate, top.name,
                   settings.*top.rate, before.*bottom.rate, before.*top.rate);
    settings.*bottom.rate = before.*bottom.rate;
    settings.*top.rate = before.*top.rate;
  }
}

}  // namespace

void read_config(std::FILE* file, const char* name) {
  ConfigWords words(file, name);
  const Settings before = settings;
  int set_on_line[std::size(config_keys)] = {};
  char word[CONFIG_WORD_CAPACITY];
  for (;;) {
    WordResult result = words.next(word);
    if (result == WORD_END) break;
    if (result == WORD_TOO_LONG) continue;
    for (const ConfigKey& key : config_keys) {
      if (strcasecmp(word, key.name) != 0) continue;
      if (key.kind == KEY_RATE) {
        if (read_rate(words, key)) set_on_line[&key - config_keys] = words.line();
      } else if (key.kind == KEY_FLOAT)
        read_float(words, key);
      else
        read_word_value(words, key);
      break;
    }
  }
  check_rate_pairs(before, set_on_line, name);
}

void derive_delay_limits() {
  settings.x_min_delay_us = rate_to_delay(settings.max_x_step_pps);
  settings.x_max_delay_us = rate_to_delay(settings.min_x_step_pps);
}

void print_axis_status() {
  std::printf("Axis Status:  ");
  for (int axis = 0; axis < AXIS_COUNT; ++axis) {
    bool last = axis == AXIS_COUNT - 1;
    const char* on = last ? "ON\n" : "ON, ";
    const char* off = last ? "OFF\n" : "OFF, ";
    std::printf("%c ", std::toupper(static_cast<unsigned char>(axis_lines[axis].letter)));
    std::printf("%c ", std::toupper(static_cast<unsigned char>(axis_step_mode(axis))));
    std::printf("%s", direction_text(axis_direction(axis)));
    std::printf("%s", axis_enable(axis) == 1 ? on : off);
  }
}

void print_settings() {
  std::printf("Default settings:\n");
  std::printf("  X step pps min/max: %d %d\n", settings.min_x_step_pps, settings.max_x_step_pps);
  std::printf("  Y step pps min/max: %d %d\n", settings.min_y_step_pps, settings.max_y_step_pps);
  std::printf("  Z step pps min/max: %d %d\n", settings.min_z_step_pps, settings.max_z_step_pps);
  std::printf("  A step pps min/max: %d %d\n", settings.min_a_step_pps, settings.max_a_step_pps);
  std::printf("  Maximum feedrate: %.3f ipm\n", static_cast<double>(settings.max_feedrate));
  std::printf("  X-Axis resolution: %f in/step\n", static_cast<double>(settings.x_resolution));
  std::printf("  Y-Axis resolution: %f in/step\n", static_cast<double>(settings.y_resolution));
  std::printf("  Z-Axis resolution: %f in/step\n", static_cast<double>(settings.z_resolution));
  std::printf("  A-Axis resolution: %f in/step\n", static_cast<double>(settings.a_resolution));
  std::printf("  ");
  print_axis_status();
}
