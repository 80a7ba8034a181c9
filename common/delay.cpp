// Calibrated busy-wait that the monotonic clock ends. Both countdowns live here, in
// one object that both programs link, so the machine code that is measured and the
// machine code that waits are the same bytes in every binary.
//
// One clock, clock_ticks(), ends every wait and times the short counts that judge a
// figure: what a countdown covers is measured on the clock that ends the waits it is
// part of. Only the calibration's long runs are timed on processor time (the C
// library's clock), which a busy machine can't stretch: see measure_loop_speed.
#include "delay.h"

#include "clock.h"
#include "delay_hooks.h"
#include "interrupt.h"
#include "port.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

int32_t loops_per_us = LOOPS_PER_US_UNCALIBRATED;
bool calibration_measured = false;
uint64_t spun_iterations = 0;
uint64_t asked_ns = 0;

namespace {

// The counter and the stepper utility's scratch variable share one cache line, which
// starts a line of its own. The counter is volatile, so the optimiser can neither drop
// the loop nor fold it; it sits in memory rather than on the stack, because a stack
// slot's speed follows the code around it (the processor forwards stack stores to
// loads by a faster path on some cores, and the stack's place moves with each caller).
// `one` holds 1, read where the compiler can't see its value.
struct alignas(64) CountdownCells {
  volatile uint32_t counter;
  volatile uint32_t scratch;
  volatile uint32_t one = 1;
};
CountdownCells cells;

// Each iteration loads the counter, subtracts one, multiplies by one and stores it:
// the iteration's cost is that chain from one store of the counter to the next. The
// multiply makes the chain a few cycles long on every x86 core, so the scratch store
// fits beside it and both loops cost the same: one figure fits both programs. Without
// it a core that forwards the store to the next load at no cost runs the plain loop at
// its store rate, and the second store's cost would depend on the core and the
// processor's mode. Each countdown starts a 64-byte line of code, so its loop meets
// the processor's fetch boundaries alike in every binary.
template <bool WITH_SCRATCH>
[[gnu::noinline, gnu::aligned(64)]] void countdown_loop(uint32_t count) {
  if (count == 0) return;
  const uint32_t one = cells.one;
  cells.counter = count;
  uint32_t value;
  do {
    value = (cells.counter - 1) * one;
    cells.counter = value;
    if constexpr (WITH_SCRATCH) cells.scratch = value;
  } while (value != 0);
}

void (*countdown)(uint32_t) = countdown_loop<false>;

constexpr const char* CACHE_FILE = "gcal.txt";
// Short countdowns, some tens of microseconds each on a current machine: most of them
// meet no interrupt and no other program, so the fastest shows what a wait of a few
// microseconds runs at. A long run of the calibration always meets some.
constexpr uint32_t QUICK_LOOPS = 200000;
constexpr double QUICK_MIN_US = 20000;  // the count at every start
// Before the first measured run the processor is given at least this long to reach its
// clock: an idle core runs slower, and a figure taken then leaves more of every wait to
// the clock than needed.
constexpr double FULL_SPEED_AFTER_US = 200000;
// A cached figure outside these bounds of this machine's count is named at start. Below
// half, the clock does most of every wait on its own reads; above twice, the countdown
// alone runs past the end of every wait.
constexpr double FIGURE_FAR_TOO_SMALL = 0.5;
constexpr double FIGURE_TOO_LARGE = 2.0;

// The countdown runs half the figure's loops and the clock ends the wait. A fresh
// figure is this machine's fastest count, so the countdown ends halfway at full speed,
// and still ends in time while the processor counts at half that speed or more: a
// processor that steps its clock, or a busy neighbour on the core, leaves the clock
// more to do but makes no wait short or longer. The clock ends the wait within one of
// its reads, so a good figure's wait runs a read or two over its length.
// docs/calibration.md keeps the measurements behind the half.
uint64_t countdown_share(int64_t ns) {
  // Beyond some 35 minutes the clock alone goes on; the product stays in 64 bits.
  constexpr int64_t COUNTED_NS_MAX = (int64_t{1} << 31) * 1000;
  const int64_t counted = ns < COUNTED_NS_MAX ? ns : COUNTED_NS_MAX;
  return delay_iterations(counted / 1000) / 2 + delay_iterations(counted % 1000) / 2000;
}

// Clock ticks that must pass before n nanoseconds surely have. The clock counts whole
// ticks, so a difference of k ticks may hold a little over k - 1 ticks of time: one
// tick more is asked (a nanosecond on Linux, 0.1 us on Windows).
int64_t ticks_for(int64_t ns) {
  static const double ticks_per_ns = static_cast<double>(clock_ticks_per_second()) / 1e9;
  double ticks = std::ceil(static_cast<double>(ns) * ticks_per_ns) + 1;
  return ticks < 9e18 ? static_cast<int64_t>(ticks) : std::numeric_limits<int64_t>::max();
}

// `total` loops of countdown in pieces, with a check for a Ctrl-C between them (one
// load), so a long wait answers at once; the product may leave 32 bits (a wait of
// minutes), and a piece never wraps to a short one. Without a clock a piece is about
// a millisecond. With a `start` on the clock, a piece is a few microseconds and the
// countdown stops once `ticks` have passed, so a figure too large for the machine as it
// runs now stretches no wait by more than a piece, whatever it holds. A read of the
// clock between pieces costs some 12 ns in 5 us.
void count_down(uint64_t total, int64_t start = 0, int64_t ticks = 0) {
  const uint64_t most = ticks > 0 ? uint64_t{1} << 12 : uint64_t{1} << 20;  // loops in a piece
  while (total > 0) {
    uint32_t piece = total > most ? static_cast<uint32_t>(most) : static_cast<uint32_t>(total);
    spin(piece);
    total -= piece;
    check_interrupt();
    if (total > 0 && ticks > 0 && clock_ticks() - start > ticks) return;
  }
}

// Microseconds on the delay's own clock since `t0`, one of its readings.
double clock_us_since(int64_t t0) {
  static const double us_per_tick = 1e6 / static_cast<double>(clock_ticks_per_second());
  return static_cast<double>(clock_ticks() - t0) * us_per_tick;
}

// Loops per microsecond of the fastest of short countdowns run for at least `min_us`,
// and on while the fastest is not yet half that old (a busy machine lets few runs
// through untouched), up to five times `min_us`. A run can only be slowed (by another
// process, an interrupt, a clock still ramping up), never sped up, so the fastest
// counts, on the clock that ends the waits: the count is what a wait's countdown
// covers of that clock.
double fastest_short_runs(double min_us) {
  double best = 0;
  double best_at = 0;
  const int64_t start = clock_ticks();
  for (double now = 0; now < min_us || (now < best_at + min_us / 2 && now < 5 * min_us);
       now = clock_us_since(start)) {
    const int64_t t0 = clock_ticks();
    spin(QUICK_LOOPS);
    double us = clock_us_since(t0);
    double speed = us > 0 ? QUICK_LOOPS / us : 0;
    if (speed > best * 1.001) best_at = now;  // a gain of a thousandth or less doesn't restart the hold
    best = std::fmax(best, speed);
    check_interrupt();
  }
  return best;
}

// The count that judges a cached figure at every start.
double quick_loops_per_us() { return fastest_short_runs(QUICK_MIN_US); }

// The figure is the user's: it is used as the file says, and the clock keeps every
// wait right whatever it holds. One far too small leaves the waits to the clock alone,
// which ends each a read late; one too large makes the countdown overshoot the short
// waits. Either is named once.
void judge_cached_figure(int32_t figure) {
  double measured = quick_count();
  if (measured <= 0) return;
  const char* what = figure < measured * FIGURE_FAR_TOO_SMALL ? "waits stay right but run longer than needed"
                     : figure > measured * FIGURE_TOO_LARGE   ? "the countdown overshoots and waits run long"
                                                              : nullptr;
  if (what)
    std::fprintf(stderr, "Warning: %s holds %d but this machine counts about %.0f loops per microsecond,"
                 " so %s - delete %s to calibrate again\n", CACHE_FILE, figure, measured, what, CACHE_FILE);
}

int32_t clamp_figure(double loops) {
  if (loops >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return loops < 1 ? 1 : static_cast<int32_t>(loops);
}

// A wait ends when the clock says so, whatever the figure: a figure of 1, one from
// another machine, or one that a processor now a step faster makes too small. Only a
// port that checks no timing (a simulated board in timing=fast) lets the figure alone
// decide, so that test runs with a figure of 1 take no time. `loops` is that count.
void wait_ns(int64_t ns, uint64_t loops) {
  asked_ns += static_cast<uint64_t>(ns);
  if (port_allows_short_waits()) {
    count_down(loops);
    return;
  }
  const int64_t start = clock_ticks();
  const int64_t ticks = ticks_for(ns);
  count_down(countdown_share(ns), start, ticks);
  while (clock_ticks() - start <= ticks) check_interrupt();
}

}  // namespace

void use_scratch_countdown(bool on) { countdown = on ? countdown_loop<true> : countdown_loop<false>; }

void spin(uint32_t count) {
  spun_iterations += count;
  countdown(count);
}

uint64_t delay_iterations(int64_t n) {
  if (n <= 0 || loops_per_us <= 0) return 0;
  return static_cast<uint64_t>(n) * static_cast<uint64_t>(loops_per_us);
}

void delay_us(int64_t n) {
  if (n <= 0) return;
  // Past some 290 years in nanoseconds the wait is cut there.
  constexpr int64_t NS_MAX_US = std::numeric_limits<int64_t>::max() / 1000;
  wait_ns(n < NS_MAX_US ? n * 1000 : NS_MAX_US * 1000, delay_iterations(n));
}

void delay_ns(int64_t n) {
  if (n <= 0) return;
  const uint64_t whole_us = delay_iterations(n / 1000);
  wait_ns(n, whole_us + delay_iterations(n % 1000) / 1000);
}

// The countdown is timed on the processor time that this program used (the C
// library's clock, which only runs forward), not the wall clock: on a busy machine the
// wall clock also counts the time other programs ran, and a calibration taken then
// would make every later wait short.
double measure_loop_speed() {
  std::clock_t t0 = std::clock();
  spin(MEASURE_LOOPS);
  std::clock_t t1 = std::clock();
  double seconds = static_cast<double>(t1 - t0) / CLOCKS_PER_SEC;
  // A clock that saw no time pass would divide by zero: take one tick of it.
  if (seconds <= 0) seconds = 1.0 / CLOCKS_PER_SEC;
  double us_per_loop = seconds / MEASURE_LOOPS * 1000000.0;
  loops_per_us = clamp_figure(1.0 / us_per_loop);
  return us_per_loop;
}

int32_t read_calibration(std::FILE* file) {
  int value = 0;
  if (std::fscanf(file, "%d", &value) != 1 || value <= 0) return 0;
  return value;
}

double (*quick_count)() = quick_loops_per_us;

void calibrate_delay() {
  if (std::FILE* cache = std::fopen(CACHE_FILE, "r")) {
    int32_t figure = read_calibration(cache);
    std::fclose(cache);
    // A file without a positive figure is no calibration: measure again. Where the
    // figure alone paces the waits (a port that checks no timing), any figure is fine.
    if (figure > 0) {
      loops_per_us = figure;
      if (!port_allows_short_waits()) judge_cached_figure(figure);
      return;
    }
  }
  calibration_measured = true;
  std::printf("\nCalibrating delay ");
  std::fflush(stdout);
  // These short runs also bring the processor to its clock before the first measured run.
  double fastest = fastest_short_runs(FULL_SPEED_AFTER_US);
  for (int run = 0; run < CALIBRATION_RUNS; ++run) {
    fastest = std::fmax(fastest, 1.0 / measure_loop_speed());
    check_interrupt();  // before anything is written: no half a calibration file
    std::printf(".");
    std::fflush(stdout);
  }
  // The machine's own count, with no margin: the clock, not the figure, keeps the
  // waits from being short, and the countdown's share keeps them from running long.
  loops_per_us = clamp_figure(fastest);
  std::FILE* out = std::fopen(CACHE_FILE, "w");
  if (!out || std::fprintf(out, "%d", loops_per_us) < 0 || std::fclose(out) != 0) {
    std::fprintf(stderr, "\nCan't write %s - the measured figure holds for this run only\n", CACHE_FILE);
  }
}
