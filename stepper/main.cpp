// pavolt: test utility for the four-axis stepper controller board.
#include <cstdio>

#include "clock.h"
#include "commands.h"
#include "delay.h"
#include "info_options.h"
#include "interrupt.h"
#include "port.h"
#include "settings.h"
#include "signals.h"

int main(int argc, char** argv) {
  if (answered_info_option(argc, argv, print_help, print_version)) return 0;
  clock_start();  // before any port operation, so that no wait carries its measurement
  bind_port_library();  // without it the first port call explains and stops
  // Before the calibration cache and the configuration file. A port opened this early
  // has its aux outputs switched off at once, not only after the calibration: the ppdev
  // claim switches three of them on.
  open_port_then_drop_root(all_aux_off_at_once);
  install_interrupt_handlers();
  print_banner();
  use_scratch_countdown(true);
  calibrate_delay();
  init_settings();
  std::printf("\n");
  if (argc > 1) run_command_line(argc, argv);
  run_interactive();
}
