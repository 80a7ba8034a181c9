// The progress line on standard error.
//
// Standard output and standard error usually share one terminal, and the flash
// jobs' own counters on standard output already rewrite their line after every word
// ("Bytes written to target: 292  \r"). Both streams leave the cursor at the start
// of that line, and standard output is flushed before each drawing, so neither
// stream ever writes into the middle of the other's text: the line here begins with
// the counter's own characters and only adds the share and the time after them.
#include "progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "terminal.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto SHOW_AFTER = std::chrono::seconds(2);  // shorter work draws nothing
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(200);
constexpr int ASSUMED_COLUMNS = 80;

struct Job {
  bool active = false;     // standard error is a terminal
  bool mirrored = false;   // a counter on standard output shares the line
  const char* label = "";
  long total = 0;
  long done = 0;
  int drawn = 0;           // columns of the line now on the terminal
  Clock::time_point start;
  Clock::time_point next_draw;
};

Job job;

// A line as wide as the terminal would wrap, and the carriage return would then go
// back to its last row only.
int usable_columns() {
  const int columns = error_terminal_columns();
  return (columns > 0 ? columns : ASSUMED_COLUMNS) - 1;
}

// Writes `text` over the line, blanks over whatever of the last drawing it leaves,
// and returns to the line's start.
void put_line(const char* text, int length) {
  length = std::clamp(length, 0, usable_columns());
  std::fflush(stdout);
  std::fprintf(stderr, "\r%.*s%*s\r", length, text, std::max(job.drawn - length, 0), "");
  std::fflush(stderr);
}

void draw(Clock::time_point now) {
  const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(now - job.start).count());
  const long percent = std::min(job.done, job.total) * 100 / job.total;
  char line[256];
  const int length = std::snprintf(line, sizeof line, "%s%ld  %3ld%% of %ld bytes  %ld:%02ld", job.label, job.done,
                                   percent, job.total, seconds / 60, seconds % 60);
  put_line(line, length);
  job.drawn = std::clamp(length, 0, usable_columns());
}

}  // namespace

void progress_begin(const char* label, long total, bool counter_on_stdout) {
  job = Job{};
  if (total <= 0 || !error_is_terminal()) return;
  job.active = true;
  job.mirrored = counter_on_stdout && output_is_terminal();
  job.label = label;
  job.total = total;
  job.start = Clock::now();
  job.next_draw = job.start + SHOW_AFTER;
}

void progress_update(long done) {
  if (!job.active) return;
  job.done = done;
  const Clock::time_point now = Clock::now();
  if (now < job.next_draw) return;
  job.next_draw = now + REDRAW_EVERY;
  draw(now);
}

// Where standard output's counter shares the line, its text stays as it was.
void progress_clear() {
  if (!job.active || job.drawn == 0) return;
  char counter[160];
  int length = 0;
  if (job.mirrored) length = std::snprintf(counter, sizeof counter, "%s%ld  ", job.label, job.done);
  put_line(counter, length);
  job.drawn = 0;
}

void progress_end() {
  progress_clear();
  job.active = false;
}

void end_line_on_terminal() {
  if (!output_is_terminal() || !error_is_terminal()) return;
  std::fflush(stdout);
  std::fputc('\n', stderr);
}
