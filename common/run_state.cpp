#include "run_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int run_failed = 0;

void note_failure() { run_failed = 1; }

void report_failure(Stream to, const char* format, ...) {
  if (to == Stream::err) std::fflush(stdout);  // the line follows what the program printed before it
  va_list args;
  va_start(args, format);
  std::vfprintf(to == Stream::err ? stderr : stdout, format, args);
  va_end(args);
  note_failure();
}

void report_file_failure(const char* name, int error, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  report_failure(Stream::err, "%s: %s\n", name, std::strerror(error));
}

void refuse_unknown_word(const char* word) {
  report_failure(Stream::err, "No command matches '%s' - h lists the commands\n", word);
}

int exit_status(int normal) { return run_failed ? EXIT_AFTER_FAILURE : normal; }

void end_program(int normal) {
  std::fflush(stdout);
  std::exit(exit_status(normal));
}
