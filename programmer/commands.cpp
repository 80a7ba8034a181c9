// The command table and the commands that are not downloads or uploads.
#include "commands.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "console.h"
#include "delay.h"
#include "flows.h"
#include "fuse_checks.h"
#include "hardware.h"
#include "isp.h"
#include "isp_clock.h"
#include "link.h"
#include "parts.h"
#include "settings.h"
#include "target.h"

namespace {

std::FILE* log_file = nullptr;  // created by lf, open until the program ends

void copy_name(char* to, const char* from) {
  std::snprintf(to, FILE_NAME_CAPACITY, "%s", from);
}

// No extended fuse to show or write.
bool two_fuse_part() {
  const AvrPart* part = identified_part();
  return part && two_fuse_part(*part);
}

// Fuse writes go to an identified chip only; the caller has checked its argument.
const AvrPart* part_for_fuse_write(const char* what) {
  const AvrPart* part = identified_part();
  if (!part) {
    report_failure(Stream::out, "%s not written - target processor not recognised\n", what);
  }
  return part;
}

void log_file_command(const char* arg) {
  copy_name(settings.log_file_name, arg);
  if (log_file) std::fclose(log_file);
  log_file = std::fopen(arg, "w");
  if (!log_file) {
    const int error = errno;
    report_file_failure(arg, error, "Can't create log file %s\n", arg);
  }
}

void mismatch_file_command(const char* arg) {
  copy_name(settings.mismatch_file_name, arg);
  std::printf("Mismatch filename=%s\n", settings.mismatch_file_name);
}

void fill_command(const char* arg) {
  parse_hex_byte(arg, &settings.fill_char);
  std::printf("Fill char=%x\n", settings.fill_char);
}

void get_fuse_1(const char*) {
  isp_read_fuses();
  std::printf("Fuse byte 1: %x\n", fuse_bytes[2]);
}

void get_fuse_2(const char*) {
  isp_read_fuses();
  std::printf("Fuse byte 2: %x\n", fuse_bytes[1]);
}

void get_fuse_3(const char*) {
  isp_read_fuses();
  std::printf("Fuse byte 3: %x\n", fuse_bytes[0]);
}

void get_fuses(const char*) {
  isp_read_fuses();
  if (two_fuse_part()) {
    const int first = first_compared_fuse(current_part);
    std::printf("Fuse bytes: %x %x\n", fuse_bytes[first], fuse_bytes[first + 1]);
  } else {
    std::printf("Fuse bytes: %x %x %x\n", fuse_bytes[0], fuse_bytes[1], fuse_bytes[2]);
  }
}

// The word is a alone: a fuse write never starts from a word that only begins with its
// keyword, so a typo such as adfapp.hex for dfapp.hex writes nothing.
void default_fuses_command(const char* arg) {
  if (*arg) {
    report_failure(Stream::out, "Fuse bytes not written - 'a%s': a takes nothing after it\n", arg);
    return;
  }
  const AvrPart* part = part_for_fuse_write("Fuse bytes");
  if (!part) return;
  const uint8_t* d = part->default_fuses;  // extended, high, low
  FuseWrite w{{d[0], d[1], d[2]}, {!two_fuse_part(), true, true}};
  if (!fuse_write_allowed("Fuse bytes", w, false)) return;
  std::printf("processorid = %d\n", current_part);
  delay_us(fuse_write_wait_us());
  isp_write_fuse_low(d[2]);
  delay_us(fuse_write_wait_us());
  isp_write_fuse_high(d[1]);
  delay_us(fuse_write_wait_us());
  if (two_fuse_part()) {
    std::printf("Write fuse bytes: %x %x\n", d[1], d[2]);
  } else {
    isp_write_fuse_extended(d[0]);
    delay_us(fuse_write_wait_us());  // the last write completes before the read-back
    std::printf("Write fuse bytes: %x %x %x\n", d[0], d[1], d[2]);
  }
  check_fuse_write(w);
}

void write_fuse_list(const char* word_arg) {
  FuseArgument fuse_arg = fuse_argument(word_arg);
  const char* arg = fuse_arg.text;
  uint8_t low = 0, high = 0, extended = 0;
  if (!parse_fuse_list(arg, &low, &high, &extended)) {
    report_failure(Stream::out,
                   "Fuse bytes not written - '%s' is not x,y,z of bytes in hexadecimal, up to 3 digits each\n", arg);
    return;
  }
  if (!part_for_fuse_write("Fuse bytes")) return;
  FuseWrite w{{extended, high, low}, {!two_fuse_part(), true, true}};
  if (!fuse_write_allowed("Fuse bytes", w, fuse_arg.forced)) return;
  fuse_bytes[2] = low;
  fuse_bytes[1] = high;
  fuse_bytes[0] = extended;
  isp_write_fuse_low(low);
  delay_us(fuse_write_wait_us());
  isp_write_fuse_high(high);
  delay_us(fuse_write_wait_us());
  if (!two_fuse_part()) isp_write_fuse_extended(extended);
  delay_us(fuse_write_wait_us());
  if (two_fuse_part())
    std::printf("Write fuse bytes: %x %x\n", low, high);
  else
    std::printf("Write fuse bytes: %x %x %x\n", low, high, extended);
  check_fuse_write(w);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One fuse value, the whole argument of pf1-pf3 or a field of pfa's list: one to three
// hexadecimal digits and nothing else, worth at most ff. A value above a byte is
// refused rather than cut to its low 8 bits, so a mistyped fuse never lands on the chip
// as some other value.
bool parse_fuse_field(std::string_view field, uint8_t* value) {
  if (field.empty() || field.size() > 3) return false;
  unsigned v = 0;
  for (char c : field) {
    int d = hex_digit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<unsigned>(d);
  }
  if (v > 0xFF) return false;
  *value = static_cast<uint8_t>(v);
  return true;
}

// Fuse number n (1 low, 2 high, 3 extended) is fuse_bytes[3 - n].
void write_one_fuse(int n, const char* word_arg, void (*write)(unsigned)) {
  FuseArgument fuse_arg = fuse_argument(word_arg);
  const char* arg = fuse_arg.text;
  uint8_t v = 0;
  char what[16];
  std::snprintf(what, sizeof what, "Fuse byte %d", n);
  if (!parse_fuse_field(arg, &v)) {
    report_failure(Stream::out, "%s not written - '%s' is not a byte in hexadecimal, up to 3 digits\n", what,
                   word_arg);
    return;
  }
  if (!part_for_fuse_write(what)) return;
  FuseWrite w{};
  w.value[3 - n] = v;
  w.written[3 - n] = true;
  if (!fuse_write_allowed(what, w, fuse_arg.forced)) return;
  fuse_bytes[3 - n] = v;
  write(v);
  delay_us(fuse_write_wait_us());
  std::printf("Write fuse byte %d: %x\n", n, v);
  check_fuse_write(w);
}

void write_fuse_1(const char* arg) { write_one_fuse(1, arg, isp_write_fuse_low); }
void write_fuse_2(const char* arg) { write_one_fuse(2, arg, isp_write_fuse_high); }
void write_fuse_3(const char* arg) { write_one_fuse(3, arg, isp_write_fuse_extended); }

void calibration_command(const char*) { std::printf("Calibration byte: %x\n", isp_read_calibration()); }

void identify_command(const char*) {
  isp_read_signature();
  current_part = find_part_by_signature();
  std::printf("Signature bytes: %x %x %x  ", target_signature[0], target_signature[1],
              target_signature[2]);
  if (const AvrPart* part = identified_part()) {
    std::printf("Processor: %s\n", part->name);
  } else {
    report_failure(Stream::out, "Processor: Unrecognized signature\n");
  }
}

void statistics_command(const char*) {
  if (print_target_statistics() < 0) note_failure();
}

// The position digit selects nothing on the cable: x1 to x5 all check the one target.
void check_position(const char*) {
  release_target();
  check_target();
}

void check_all_positions(const char*) {
  for (int p = 1; p <= 1; ++p) {
    release_target();
    std::printf("Reset %d: ", p);
    check_target();
  }
}

void exit_command(const char*) {
  raise_reset_line();
  release_target();
  end_program(1);
}

struct Command {
  std::string_view keyword;
  bool needs_target;  // identify first when the target is running
  void (*run)(const char* arg);
};

// A longer keyword stands before any shorter keyword it starts with.
constexpr Command COMMANDS[] = {
    {"df", true, download_flash},
    {"da", false, download_all},
    {"de", true, download_eeprom},
    {"ld", false, load_only},
    {"ue", true, upload_eeprom},
    {"uf", true, upload_flash},
    {"lf", false, log_file_command},
    {"mf", false, mismatch_file_command},
    {"sf", false, fill_command},
    {"sc", false, clock_command},
    {"gf1", true, get_fuse_1},
    {"gf2", true, get_fuse_2},
    {"gf3", true, get_fuse_3},
    {"gf", true, get_fuses},
    {"a", true, default_fuses_command},
    {"pfa", true, write_fuse_list},
    {"pf1", true, write_fuse_1},
    {"pf2", true, write_fuse_2},
    {"pf3", true, write_fuse_3},
    {"gc", true, calibration_command},
    {"i", true, identify_command},
    {"s", true, statistics_command},
    {"v", false, [](const char*) { settings.verify_mode = 'v'; }},
    {"nv", false, [](const char*) { settings.verify_mode = 'n'; }},
    {"t2", false, [](const char*) { settings.hex_extended_record_type = 2; }},
    {"t4", false, [](const char*) { settings.hex_extended_record_type = 4; }},
    {"x1", false, check_position},
    {"x2", false, check_position},
    {"x3", false, check_position},
    {"x4", false, check_position},
    {"x5", false, check_position},
    {"xa", false, check_all_positions},
    {"m", false, [](const char*) { settings.output_mode = 'v'; }},
    {"q", false, [](const char*) { settings.output_mode = 'q'; }},
    {"h", false, [](const char*) { print_help(); }},
    {"e", false, exit_command},
};

bool starts_with_keyword(std::string_view word, std::string_view keyword) {
  if (word.size() < keyword.size()) return false;
  for (size_t i = 0; i < keyword.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
  return true;
}

const Command* find_command(std::string_view word) {
  for (const Command& c : COMMANDS)
    if (starts_with_keyword(word, c.keyword)) return &c;
  return nullptr;
}

}  // namespace

int parse_hex_byte(const char* text, uint8_t* value) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 16);
  if (end == text) return 0;
  *value = static_cast<uint8_t>(v & 0xFF);
  return 1;
}

int parse_fuse_list(const char* text, uint8_t* x, uint8_t* y, uint8_t* z) {
  std::string_view t(text);
  size_t first = t.find(',');
  if (first == std::string_view::npos) return 0;
  size_t second = t.find(',', first + 1);
  if (second == std::string_view::npos) return 0;
  uint8_t a = 0, b = 0, c = 0;
  if (!parse_fuse_field(t.substr(0, first), &a) ||
      !parse_fuse_field(t.substr(first + 1, second - first - 1), &b) ||
      !parse_fuse_field(t.substr(second + 1), &c))
    return 0;
  *x = a;
  *y = b;
  *z = c;
  return 1;
}

int dispatch_command(const char* word) {
  std::string_view w(word);
  if (w.size() > static_cast<size_t>(MAX_WORD_LENGTH)) {
    report_failure(Stream::out, "Command word longer than %d characters refused\n", MAX_WORD_LENGTH);
  } else if (const Command* c = find_command(w)) {
    if (c->needs_target && target_released == 1) identify_target();
    c->run(word + c->keyword.size());
  } else {
    refuse_unknown_word(word);  // a typing error must not pass for success
  }
  if (target_released == 0) release_target();
  return 1;
}
