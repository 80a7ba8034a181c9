// Calibrated busy-wait. The countdown counter is volatile, so the optimiser can
// neither drop the loop nor fold it: every iteration costs one load and one store,
// the same in calibration and in use.
#include "delay.h"

#include "interrupt.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>

int32_t loops_per_us = LOOPS_PER_US_UNCALIBRATED;
uint64_t spun_iterations = 0;

namespace {

bool scratch_countdown = false;
volatile uint32_t scratch;

constexpr const char* CACHE_FILE = "gcal.txt";
constexpr uint32_t QUICK_LOOPS = 2000000;  // eight of these: a few milliseconds at every start
constexpr int QUICK_RUNS = 8;

// Loops per microsecond from short countdowns, to judge a cached figure. The fastest
// run counts: a run can only be slowed (by another process, a clock still ramping
// up), never sped up.
double quick_loops_per_us() {
  double best = 0;
  for (int run = 0; run < QUICK_RUNS; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    spin(QUICK_LOOPS);
    double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    if (us > 0 && QUICK_LOOPS / us > best) best = QUICK_LOOPS / us;
  }
  return best;
}

// A figure from another machine, or from before a change of clock, makes every wait
// wrong by its factor: say so, and keep the figure as the user's choice.
void judge_cached_figure(int32_t figure) {
  double measured = quick_count();
  if (measured <= 0) return;
  if (figure > 2 * measured || figure < measured / 2)
    std::fprintf(stderr, "Warning: %s holds %d but this machine counts about %.0f loops per microsecond"
                 " - delete %s to calibrate again\n", CACHE_FILE, figure, measured, CACHE_FILE);
}

}  // namespace

void use_scratch_countdown(bool on) { scratch_countdown = on; }

void spin(uint32_t count) {
  spun_iterations += count;
  volatile uint32_t counter = count;
  if (scratch_countdown) {
    while (counter != 0) {
      counter = counter - 1;
      scratch = counter;
    }
  } else {
    while (counter != 0) counter = counter - 1;
  }
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
  // A clock that saw no time pass would divide by zero: take the clock's resolution.
  if (seconds <= 0) seconds = 1e-9;
  double us_per_loop = seconds / MEASURE_LOOPS * 1000000.0;
  double loops = 1.0 / us_per_loop;
  loops_per_us = loops >= std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                               : static_cast<int32_t>(loops);
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
  std::printf("\nCalibrating delay ");
  std::fflush(stdout);
  float sum = 0;
  for (int run = 0; run < CALIBRATION_RUNS; ++run) {
    float us_per_loop = static_cast<float>(measure_loop_speed());
    sum += us_per_loop;
    check_interrupt();  // before anything is written: no half a calibration file
    std::printf(".");
    std::fflush(stdout);
  }
  double loops = 1.0 / (sum / static_cast<double>(CALIBRATION_RUNS));
  loops_per_us = loops >= std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                               : static_cast<int32_t>(loops);
  if (loops_per_us < 1) loops_per_us = 1;
  std::FILE* out = std::fopen(CACHE_FILE, "w");
  if (!out || std::fprintf(out, "%d", loops_per_us) < 0 || std::fclose(out) != 0) {
    std::fprintf(stderr, "\nCan't write %s - the measured figure holds for this run only\n", CACHE_FILE);
  }
}
