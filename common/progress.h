// One updating line on standard error for work that runs a while, drawn only where
// a person watches: when standard error is a terminal. Anywhere else nothing extra
// is written, so logs and pipes get the same bytes as ever.
#pragma once

// Starts a job of `total` bytes. The line reads `label`, the bytes done, the share of
// the total and the time taken. With `counter_on_stdout` the job prints that same
// label and count on standard output after each step, ending in a carriage return:
// on a shared terminal the two draw the same characters where they overlap, and the
// line only adds the rest.
void progress_begin(const char* label, long total, bool counter_on_stdout);
// The bytes done so far. The line is drawn once the job has run about two seconds,
// and then a few times a second.
void progress_update(long done);
// Clears the line, so a message can be printed; the job goes on and draws it again.
void progress_clear();
// Clears the line and ends the job.
void progress_end();
// After standard output has left a line open on the terminal that standard error
// shares (a calibration's dots), ends it there with a line end on standard error:
// what follows starts on a line of its own, and standard output's bytes stay as
// they are.
void end_line_on_terminal();
