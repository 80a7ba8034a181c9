// The run's outcome, for both programs. A refused word, a file that can't be opened
// or a value that was refused make the whole run end with status 2, so a script
// driving a program never mistakes a partial run for a good one.
#pragma once

constexpr int EXIT_AFTER_COMMAND_LINE = 0;
constexpr int EXIT_AFTER_E = 1;
constexpr int EXIT_AFTER_FAILURE = 2;

extern int run_failed;

#if defined(__MINGW32__)
#define FAILURE_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define FAILURE_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif

// The run fails (status 2), its message printed elsewhere.
void note_failure();

// How a failure is reported: a message and the run's failure. Stream::out carries the
// programs' own wording; Stream::err what a user is told beside it, written after
// whatever standard output holds so far.
enum class Stream { out, err };
void report_failure(Stream to, const char* format, ...) FAILURE_FORMAT(2, 3);
// A file that can't be opened, read or written: the message on standard output, then
// "name: reason" on standard error, and the run's failure.
void report_file_failure(const char* name, int error, const char* format, ...) FAILURE_FORMAT(3, 4);
// A word that matches no command: one line on standard error naming it (standard
// output stays as it was), and the run fails.
void refuse_unknown_word(const char* word);
// The status to end with: `normal`, unless a failure was met.
int exit_status(int normal);
// Flushes the console and ends the process (the exit handlers release the port).
[[noreturn]] void end_program(int normal);
