// The run's outcome, for both programs. A refused word, a file that can't be opened
// or a value that was refused make the whole run end with status 2, so a script
// driving a program never mistakes a partial run for a good one.
#pragma once

constexpr int EXIT_AFTER_COMMAND_LINE = 0;
constexpr int EXIT_AFTER_E = 1;
constexpr int EXIT_AFTER_FAILURE = 2;

extern int run_failed;

void note_failure();
// A word that matches no command: one line on standard error naming it (standard
// output stays as it was), and the run fails.
void refuse_unknown_word(const char* word);
// The status to end with: `normal`, unless a failure was met.
int exit_status(int normal);
// Flushes the console and ends the process (the exit handlers release the port).
[[noreturn]] void end_program(int normal);
