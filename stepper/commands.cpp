#include "commands.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board_checks.h"
#include "console.h"
#include "motion.h"
#include "pacing.h"
#include "run_state.h"
#include "settings.h"
#include "signals.h"
#include "terminal.h"

namespace {

// A word refused for its argument: one line on standard error (standard output stays
// as it was), and the run ends with status 2.
void refuse_argument(const char* word, const char* need) {
  report_failure(Stream::err, "'%s' refused - %s\n", word, need);
}

bool is_axis(char letter) { return letter && axis_index(static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))) >= 0; }

void do_nothing(const char*) {}
void run_test_drive(const char*) { test_drive(); }
// An axis letter, then c (clockwise), w or nothing (counter-clockwise).
void run_single_step(const char* word) {
  const char sense = word[1] ? static_cast<char>(std::tolower(static_cast<unsigned char>(word[2]))) : 0;
  if (!is_axis(word[1]) || (sense && ((sense != 'c' && sense != 'w') || word[3])))
    refuse_argument(word, "s needs an axis x, y, z or a, then c (clockwise) or w: sxc");
  else
    single_step(word);
}
void run_toggle_all_aux(const char*) { toggle_all_aux(); }
void run_wait(const char* word) { wait_command(word); }
void run_five(const char*) {
  settings.test_delay_us = FIVE_COMMAND_DELAY_US;
  test_drive();
}
void run_ramp(const char*) { ramp_test(RAMP_START_DELAY); }
void run_help(const char*) { print_help(); }
void run_g_code_help(const char*) { print_g_code_help(); }
void run_limits(const char*) {
  print_limit_states();
  monitor_limit_states();
}
void run_g_echo(const char* word) { echo_g_code(word); }
void run_test_output(const char*) { toggle_test_output(); }
void run_n_echo(const char* word) { echo_n_code(word); }
void run_m_code(const char* word) { m_code_command(word); }
void run_settings(const char*) { print_settings(); }
void run_send(const char* word) { send_command(word); }
void run_exit(const char*) { end_program(EXIT_AFTER_E); }

struct Command {
  const char* key;  // compared, ignoring case, with the start of the word
  void (*run)(const char* word);
  bool line_end;    // a "\n" follows the command
};

// Table order decides: "h" before "gh" before "g", first match wins.
constexpr Command commands[] = {
    {"f", do_nothing, false},        {"t", run_test_drive, true},
    {"s", run_single_step, true},    {"a", run_toggle_all_aux, true},
    {"d", run_wait, true},           {"5", run_five, true},
    {"r", run_ramp, false},          {"h", run_help, false},
    {"gh", run_g_code_help, false},  {"l", run_limits, true},
    {"g", run_g_echo, false},        {"1", run_test_output, false},
    {"n", run_n_echo, false},        {"m", run_m_code, false},
    {"p", run_settings, false},      {"c", run_send, true},
    {"e", run_exit, false},
};

bool starts_with_key(const char* word, const char* key) {
  for (; *key; ++key, ++word)
    if (!*word || std::tolower(static_cast<unsigned char>(*word)) != *key) return false;
  return true;
}

}  // namespace

void print_banner() {
  std::printf("Pavolt Utility V%d.%d\n", TITLE_VERSION_MAJOR, TITLE_VERSION_MINOR);
  std::printf("Test utility for the four-axis stepper controller board - free to use and share\n");
  std::printf("Type 'e' to exit,'h' for help\n");
}

void print_version() { std::printf("pavolt %s\n", VARN_VERSION); }

void print_help() {
  std::printf("Command options:\n\n");
  std::printf("  -ffilename  - Load and run Script/GCode command file - TBD\n");
  std::printf("  -t          - Run Controller step test program\n");
  std::printf("  -5          - Run steppers at 5 steps/second\n");
  std::printf("  -r          - Run ramp test program\n");
  std::printf("  -l          - Get limit switch states\n");
  std::printf("  -a          - Toggle Aux outputs at 1Hz\n");
  std::printf("  -shc        - Step a single axis h one step c-clockwise or w-ccw\n");
  std::printf("  -chddd      - Send commands to Motor Driver axis h (x,y,z,a) where d is data\n");
  std::printf("  -ghnnn      - Get data from Motor Driver axis h (x,y,z,a) where n is data id\n");
  std::printf("  -dxxxx      - Delay for xxxx mseconds\n");
  std::printf("  -p          - Display settings\n");
  std::printf("  -h          - Output help menu\n\n");
  std::printf("For a list of G Code commands enter -gh\n\n");
}

void print_g_code_help() {
  std::printf("Supported G Code Commands:\n\n");
  std::printf("  -G0 Xxx.x Yyy.y Zyy.y Aaa.a Fff.f - Fast Move\n");
  std::printf("  -G1 Xxx.x Yyy.y Zyy.y Iii.i Jjj.j Fff.f - Linear Interpolation\n");
  std::printf("  -G2 Xxx.x Yyy.y Zyy.y Iii.i Jjj.j Fff.f - Circular Interpolation - CW\n");
  std::printf("  -G3 Xxx.x Yyy.y Zyy.y Iii.i Jjj.j Fff.f - Circular Interpolation - CCW\n");
  std::printf("  -G4 Pdd   - Dwell for dd.d seconds\n\n");
  std::printf("  -M51|2    - Aux1 1-on,2-off,\n");
  std::printf("  -M53|4    - Aux2 3-on,4-off,\n");
  std::printf("  -M55|6    - Aux3 5-on,6-off,\n");
  std::printf("  -M57|8    - Aux4 7-on,8-off,\n");
  std::printf("  -a        - Toggle Aux outputs at 1Hz\n\n");
  std::printf("Feed rates are preserved until changed\n");
  std::printf("Commands can be preceeded with 'Nxxx'\n\n");
}

void wait_command(const char* word) {
  const char* digits = word[0] ? word + 1 : word;
  char* end = nullptr;
  errno = 0;
  long long ms = std::strtoll(digits, &end, 10);
  if (end == digits || std::isspace(static_cast<unsigned char>(*digits))) {
    report_failure(Stream::out, "No delay given - d needs a number of milliseconds (d500)\n");
    return;
  }
  if (errno == ERANGE || ms < 0 || ms > INT32_MAX || *end) {  // d5oo is no 5 ms wait
    report_failure(Stream::out, "Delay %s refused - give 0 to %d milliseconds\n", digits, INT32_MAX);
    return;
  }
  // Up to 2^31 ms is about 2.1e12 units: the wait counts in 64 bits and runs its whole time.
  wait_units(static_cast<int64_t>(ms) * 1000);
}

// A word without a known axis is echoed as ever but fails the run: it drove no line.
void send_command(const char* word) {
  char axis = word[0] ? static_cast<char>(std::tolower(static_cast<unsigned char>(word[1]))) : 0;
  const char* data = axis ? word + 2 : "";
  if (!is_axis(axis) || !*data) refuse_argument(word, "c needs an axis x, y, z or a, then the bytes to send: cx12");
  for (const char* c = data; *c; ++c) {
    send_driver_byte(static_cast<unsigned char>(*c), axis);
    // The code is that of a signed character: above 127 it prints as ffffffxx.
    int code = static_cast<signed char>(*c);
    std::printf(" %c %x ", *c, static_cast<unsigned>(code));
    wait_units(DRIVER_CHARACTER_GAP_UNITS);
  }
  std::printf("\n");
}

int dispatch_command(const char* word) {
  for (const Command& command : commands) {
    if (!starts_with_key(word, command.key)) continue;
    command.run(word);
    if (command.line_end) std::printf("\n");
    return 1;
  }
  refuse_unknown_word(word);
  return 1;
}

void run_command_file(const char* name) {
  std::FILE* file = name[0] ? std::fopen(name, "r") : nullptr;
  if (!file) {
    report_failure(Stream::out, "Can't open file %s - may not exist\n-", name);
    return;
  }
  // A folder opens for reading but fails at the first read: not a command file.
  const int first = std::fgetc(file);
  if (first == EOF && std::ferror(file)) {
    report_failure(Stream::out, "Can't read file %s - not a command file\n-", name);
    std::fclose(file);
    return;
  }
  if (first != EOF) std::ungetc(first, file);
  std::printf("-");
  char word[WORD_BUFFER_SIZE];
  for (;;) {
    WordResult result = read_file_word(file, word, WORD_BUFFER_SIZE);
    if (result == WORD_END) break;
    if (result == WORD_TOO_LONG) continue;
    std::printf("%s\n", word);
    dispatch_command(word);
    std::printf("-");
  }
  std::fclose(file);
}

void run_command_line(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-') continue;
    if (std::strlen(argument) > static_cast<size_t>(MAX_WORD_LENGTH)) {
      report_failure(Stream::out, "Argument refused - longer than %d characters\n", MAX_WORD_LENGTH);
      continue;
    }
    char word[WORD_BUFFER_SIZE];
    std::strcpy(word, argument + 1);
    dispatch_command(word);
  }
  std::printf("\nProgram finished - hit any key to exit!");
  // Only a person at a terminal can hit the key; piped input never waits.
  if (input_is_terminal()) {
    std::fflush(stdout);
    KeyMode keys_mode;
    read_key();
  }
  end_program(EXIT_AFTER_COMMAND_LINE);
}

void run_interactive() {
  std::printf("\n-");
  char word[WORD_BUFFER_SIZE];
  for (;;) {
    WordResult result = console_read_word(word);
    if (result == WORD_END) end_program(EXIT_AFTER_E);  // nobody left to type e
    if (result == WORD_TOO_LONG) {
      std::printf("-");
      continue;
    }
    if (word[0] == 'f' || word[0] == 'F') {
      run_command_file(word + 1);
      continue;
    }
    dispatch_command(word);
    std::printf("-");
  }
}
