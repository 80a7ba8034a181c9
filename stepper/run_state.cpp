#include "run_state.h"

#include <cstdio>
#include <cstdlib>

int run_failed = 0;

void note_failure() { run_failed = 1; }

int exit_status(int normal) { return run_failed ? EXIT_AFTER_FAILURE : normal; }

void end_program(int normal) {
  std::fflush(stdout);
  std::exit(exit_status(normal));
}
