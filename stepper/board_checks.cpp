#include "board_checks.h"

#include <cstdio>
#include <strings.h>

#include "console.h"
#include "pacing.h"
#include "signals.h"

namespace {

struct MCode {
  const char* code;
  unsigned output;
  int on;
};
constexpr MCode m_codes[] = {
    {"M51", AUX1, 1}, {"M52", AUX1, 0}, {"M53", AUX2, 1}, {"M54", AUX2, 0},
    {"M55", AUX3, 1}, {"M56", AUX3, 0}, {"M57", AUX4, 1}, {"M58", AUX4, 0},
};

// The report's lines, in report order. The X limit's register bit is inverted by the
// port, so it reads 0 when open; the others read -1 when open.
struct LimitLine {
  uint8_t input;
  int open_value;
  const char* open_text;
  const char* closed_text;
};
constexpr LimitLine limit_lines[] = {
    {INPUT_X_LIMIT, 0, "X limit=Open\n", "X Limit=Closed\n"},
    {INPUT_Y_LIMIT, -1, "Y limit=Open\n", "Y Limit=Closed\n"},
    {INPUT_Z_LIMIT, -1, "Z limit=Open\n", "Z Limit=Closed\n"},
    {INPUT_A_LIMIT, -1, "A limit=Open\n", "A Limit=Closed\n"},
    {INPUT_ESTOP, -1, "ESTOP=Open\n", "ESTOP=Closed\n"},
};

void blink_one(unsigned output) {
  set_aux_output(output, 1);
  wait_units(HALF_SECOND_UNITS);
  set_aux_output(output, 0);
}

}  // namespace

void toggle_test_output() {
  std::printf("Hit any key to exit\n");
  std::fflush(stdout);
  KeyMode keys_mode;
  while (!key_waiting()) {
    set_axis_line(LINE_A_DIR, 0);
    wait_units(HALF_SECOND_UNITS);
    set_axis_line(LINE_A_DIR, 1);
    wait_units(HALF_SECOND_UNITS);
  }
}

void aux_blink_cycle() {
  for (int blink = 0; blink < 2; ++blink) {
    all_aux_on();
    wait_units(HALF_SECOND_UNITS);
    all_aux_off();
    wait_units(HALF_SECOND_UNITS);
  }
  blink_one(AUX1);
  blink_one(AUX2);
  blink_one(AUX3);
  blink_one(AUX4);
  wait_units(HALF_SECOND_UNITS);
}

void toggle_all_aux() {
  std::printf("Toggle all AUX outputs - hit any key to stop\n");
  std::fflush(stdout);
  KeyMode keys_mode;
  while (!key_waiting()) aux_blink_cycle();
}

void m_code_command(const char* word) {
  std::printf("M Code Command - %s\n", word);
  for (const MCode& m : m_codes)
    if (strcasecmp(word, m.code) == 0) set_aux_output(m.output, m.on);
}

void echo_g_code(const char* word) { std::printf("G Code Command - %s\n", word); }

void echo_n_code(const char* word) { std::printf("N Code Command - %s\n", word); }

void print_limit_states() {
  for (const LimitLine& line : limit_lines)
    std::printf("%s", read_input(line.input) == line.open_value ? line.open_text : line.closed_text);
}

void print_monitor_line() {
  std::printf("x,y,z,a,e Limit State = ");
  // The X letter is turned round so that it too shows its pin's level.
  std::printf("%s", level_letter(read_input(INPUT_X_LIMIT)) == 'L' ? "H" : "L");
  // Read one by one, in this order, rather than in whatever order arguments are evaluated.
  char y = level_letter(read_input(INPUT_Y_LIMIT));
  char z = level_letter(read_input(INPUT_Z_LIMIT));
  char a = level_letter(read_input(INPUT_A_LIMIT));
  char e = level_letter(read_input(INPUT_ESTOP));
  std::printf(" %c %c %c %c              \r", y, z, a, e);
  std::fflush(stdout);
}

void monitor_limit_states() {
  std::printf("\nHit any key to stop\n");
  std::fflush(stdout);
  KeyMode keys_mode;
  while (!key_waiting()) {
    print_monitor_line();
    wait_units(MONITOR_PASS_UNITS);
  }
}
