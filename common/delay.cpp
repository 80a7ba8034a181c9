// Calibrated busy-wait. Both countdowns live here, in one object that both programs
// link, so the machine code that is measured and the machine code that waits are the
// same bytes in every binary.
#include "delay.h"

#include "interrupt.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

int32_t loops_per_us = LOOPS_PER_US_UNCALIBRATED;
bool calibration_measured = false;
uint64_t spun_iterations = 0;

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
// multiply makes the chain a few cycles long on every x86 core. Without it a core
// that forwards the store to the next load at no cost runs the plain loop at one
// iteration a cycle, its store rate, and pavolt's second store then costs from 0 to
// 100 % more depending on the core and on the processor's mode (measured: 0 % in
// 64-bit code and 4 to 18 % in 32-bit code on one Xeon). With the chain, the scratch
// store fits beside it in either mode, so both loops cost the same and one figure fits
// both programs. Each countdown starts a 64-byte line of code, so its loop meets the
// processor's fetch boundaries alike in every binary.
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
// microseconds runs at. A run of the calibration (80,000,000 loops) always meets some,
// and on a shared virtual machine it reads a few percent slower than that.
constexpr uint32_t QUICK_LOOPS = 200000;
constexpr double QUICK_MIN_US = 20000;  // the count at every start
// Before the first measured run the processor is given at least this long to reach its
// clock: an idle core runs slower, and a figure taken then makes every later wait short.
constexpr double FULL_SPEED_AFTER_US = 200000;
// A cached figure that this machine beats by more than this makes every wait short.
constexpr double SHORT_WAIT_TOLERANCE = 1.03;
// On top of the fastest run. The waits of 2 units on the ISP clock sit right at the
// chips' minimum, and a later wait may find the processor a step faster than every
// run did. Measured on a shared virtual machine: short runs mostly within 1 % of each
// other, now and then some tens of milliseconds 3 to 4 % faster; 4 % covers that and
// keeps the median wait well inside a tenth over its time.
constexpr double CALIBRATION_MARGIN = 1.04;

double wall_us_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
}

// Loops per microsecond of the fastest of short countdowns run for at least `min_us`,
// and on while the fastest is not yet half that old (a busy machine lets few runs
// through untouched), up to five times `min_us`. A run can only be slowed (by another
// process, an interrupt, a clock still ramping up), never sped up, so the fastest
// counts, on the wall clock.
double fastest_short_runs(double min_us) {
  double best = 0;
  double best_at = 0;
  auto start = std::chrono::steady_clock::now();
  for (double now = 0; now < min_us || (now < best_at + min_us / 2 && now < 5 * min_us);
       now = wall_us_since(start)) {
    auto t0 = std::chrono::steady_clock::now();
    spin(QUICK_LOOPS);
    double us = wall_us_since(t0);
    double speed = us > 0 ? QUICK_LOOPS / us : 0;
    if (speed > best * 1.001) best_at = now;  // a gain of a thousandth or less doesn't restart the hold
    best = std::fmax(best, speed);
    check_interrupt();
  }
  return best;
}

// The count that judges a cached figure at every start.
double quick_loops_per_us() { return fastest_short_runs(QUICK_MIN_US); }

// The figure is the user's: it is used as the file says. A figure that this machine
// beats makes every wait short, which a chip at the limit of its timing won't take;
// one twice too large makes every wait twice as long. Either is named once.
void judge_cached_figure(int32_t figure) {
  double measured = quick_count();
  if (measured <= 0) return;
  const char* waits = measured > figure * SHORT_WAIT_TOLERANCE ? "short" : figure > 2 * measured ? "long" : nullptr;
  if (waits)
    std::fprintf(stderr, "Warning: %s holds %d but this machine counts about %.0f loops per microsecond,"
                 " so every wait will be %s - delete %s to calibrate again\n", CACHE_FILE, figure, measured,
                 waits, CACHE_FILE);
}

int32_t clamp_figure(double loops) {
  if (loops >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return loops < 1 ? 1 : static_cast<int32_t>(loops);
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
  // The product may leave 32 bits (a wait of minutes); spin it in pieces rather than
  // let it wrap to a short wait. A piece is some ten milliseconds of countdown, so a
  // Ctrl-C in a long wait is answered at once; the check between pieces costs one load.
  constexpr uint64_t PIECE = uint64_t{1} << 24;
  uint64_t total = delay_iterations(n);
  while (total > 0) {
    uint32_t piece = total > PIECE ? static_cast<uint32_t>(PIECE) : static_cast<uint32_t>(total);
    spin(piece);
    total -= piece;
    check_interrupt();
  }
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
    // A file without a positive figure is no calibration: measure again.
    if (figure > 0) {
      loops_per_us = figure;
      judge_cached_figure(figure);
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
  // Rounded up, as a figure one short would make every wait short by as much.
  loops_per_us = clamp_figure(std::ceil(fastest * CALIBRATION_MARGIN));
  std::FILE* out = std::fopen(CACHE_FILE, "w");
  if (!out || std::fprintf(out, "%d", loops_per_us) < 0 || std::fclose(out) != 0) {
    std::fprintf(stderr, "\nCan't write %s - the measured figure holds for this run only\n", CACHE_FILE);
  }
}
