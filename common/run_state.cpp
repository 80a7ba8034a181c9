#include "run_state.h"

#include <cstdio>
#include <cstdlib>

int run_failed = 0;

void note_failure() { run_failed = 1; }

void refuse_unknown_word(const char* word) {
  std::fflush(stdout);  // the line follows what the commands before it printed
  std::fprintf(stderr, "No command matches '%s' - h lists the commands\n", word);
  note_failure();
}

int exit_status(int normal) { return run_failed ? EXIT_AFTER_FAILURE : normal; }

void end_program(int normal) {
  std::fflush(stdout);
  std::exit(exit_status(normal));
}
