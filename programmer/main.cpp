// varnprog: start-up, then the interactive prompt or the command-line words.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "clock.h"
#include "commands.h"
#include "console.h"
#include "delay.h"
#include "info_options.h"
#include "interrupt.h"
#include "link.h"
#include "parts.h"
#include "port.h"
#include "progress.h"
#include "settings.h"
#include "target.h"

namespace {

// Command files start with f or F; everything else goes to the dispatcher.
bool names_command_file(const char* word) { return word[0] == 'f' || word[0] == 'F'; }

[[noreturn]] void interactive_mode() {
  std::printf("Interactive mode - Type 'e' to exit,'h' for help\n");
  calibrate_delay();
  check_board();
  if (target_released == 0) release_target();
  std::printf("\n-");
  char word[WORD_BUFFER_SIZE];
  for (;;) {
    WordResult r = console_read_word(word);
    if (r == WORD_END) break;
    if (r == WORD_TOO_LONG) {
      std::printf("-");
    } else if (names_command_file(word)) {
      if (!run_command_file(word + 1)) std::printf("\n-");
    } else if (dispatch_command(word) == 1) {
      std::printf("-");
    }
  }
  release_target();
  std::printf("\nProgram finished - hit any key to exit!");
  std::fflush(stdout);
  {
    KeyMode keys;
    while (!console_kbhit()) delay_us(1000);
  }
  end_program(0);
}

// An argument without its '-' (i, dfprog.hex) runs nothing; standard output stays
// silent for it, but a run that did nothing of what was typed must not pass for success.
void skip_argument(const char* arg) {
  report_failure(Stream::err, "Argument '%s' skipped - command words on the command line begin with '-'\n", arg);
}

[[noreturn]] void command_line_mode(int argc, char** argv) {
  std::printf("Command line mode\n");
  calibrate_delay();
  // The first command's output would run on from the dots of a first calibration.
  if (calibration_measured) end_line_on_terminal();
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-')
      dispatch_command(arg + 1);
    else if (names_command_file(arg))
      run_command_file(arg + 1);
    else
      skip_argument(arg);
  }
  end_program(0);
}

// At every exit, whatever the path (the end of the run, Ctrl-C or SIGTERM, a port
// that stopped answering), RESET goes high once more, so the target runs its own
// program rather than being held in reset or left halfway through an instruction.
// The port keeps its lines as last written after the program ends. A library that
// isn't there, or lacks the entry, has nothing to drive.
void release_at_exit() {
  ignore_further_interrupts();
  if (!port_table.handle || !port_table.slots[ENTRY_SET_PORT_BIT]) return;
  set_cable_line(LINE_RESET, 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (answered_info_option(argc, argv, print_help, print_version)) return 0;
  if (argc == 2 && std::strcmp(argv[1], "--parts") == 0) {  // like --help: no port, no banner
    init_part_table();
    print_parts();
    return 0;
  }
  clock_start();  // before any port operation, so that no wait carries its measurement
  settings.hex_extended_record_type = 4;
  bind_port_library();  // a missing library is reported by the first port call
  // Root's rights, where held for another user, end here: before the calibration
  // cache or any file a command names is touched.
  open_port_then_drop_root();
  std::atexit(release_at_exit);  // after the binding, so it runs before the library goes
  install_interrupt_handlers();
  init_part_table();
  reset_settings();
  print_banner();
  // Before calibration: the clock ends this wait, so it needs no figure.
  raise_reset_line();
  target_released = 1;
  if (argc < 2) interactive_mode();
  command_line_mode(argc, argv);
}
