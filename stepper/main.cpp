// pavolt: test utility for the four-axis stepper controller board.
#include <cstdio>

#include "commands.h"
#include "delay.h"
#include "interrupt.h"
#include "port.h"
#include "settings.h"

int main(int argc, char** argv) {
  bind_port_library();  // without it the first port call explains and stops
  install_interrupt_handlers();
  print_banner();
  use_scratch_countdown(true);
  calibrate_delay();
  init_settings();
  std::printf("\n");
  if (argc > 1) run_command_line(argc, argv);
  run_interactive();
}
