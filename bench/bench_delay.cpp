// links: common
// How long delay_us(n) really takes against n after calibration, for both
// countdowns (the programmer's plain one and the stepper utility's one with the
// scratch store), printed as ratios measured/asked. A ratio of 1.00 is a perfect
// microsecond; the target is 0.97 to 1.05 for n >= 10 on an idle machine.
//
// By default each countdown is calibrated afresh in a temporary directory (13
// measurements each, some seconds), and the table also shows each countdown run
// with the other's figure, since both programs share one "gcal.txt". With --cache
// the figure of the current directory's "gcal.txt" is used for both (measured and
// written there if missing).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <string>
#include <vector>

#include <unistd.h>

#include "delay.h"

namespace {

constexpr int64_t SIZES[] = {2, 10, 100, 1000, 150000};
constexpr int REPETITIONS = 15;
constexpr double SAMPLE_US = 5000;  // each sample spins at least this long

clockid_t clock_in_use = CLOCK_MONOTONIC;

double now_us() {
  timespec t{};
  clock_gettime(clock_in_use, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// Median over REPETITIONS samples of the time of one delay_us(n), in microseconds.
// Short delays are timed in batches so the clock's own cost doesn't count.
double median_delay_us(int64_t n) {
  const int64_t calls = std::max<int64_t>(1, static_cast<int64_t>(SAMPLE_US) / n);
  std::vector<double> samples;
  delay_us(n);  // warm the caches and the branch predictor
  for (int r = 0; r < REPETITIONS; ++r) {
    double t0 = now_us();
    for (int64_t i = 0; i < calls; ++i) delay_us(n);
    samples.push_back((now_us() - t0) / static_cast<double>(calls));
  }
  return median(samples);
}

// Loops per microsecond of the countdown in use, on the CPU clock: median of 5.
double steady_figure() {
  clock_in_use = CLOCK_THREAD_CPUTIME_ID;
  std::vector<double> samples;
  for (int r = 0; r < 5; ++r) {
    double t0 = now_us();
    spin(MEASURE_LOOPS);
    samples.push_back(MEASURE_LOOPS / (now_us() - t0));
  }
  return median(samples);
}

void print_row(const char* label, int32_t figure) {
  loops_per_us = figure;
  std::printf("%-26s %8d", label, figure);
  for (int64_t n : SIZES) std::printf("  %7.3f", median_delay_us(n) / static_cast<double>(n));
  std::printf("\n");
  std::fflush(stdout);
}

int32_t calibrate_fresh(bool scratch) {
  use_scratch_countdown(scratch);
  std::remove("gcal.txt");
  calibrate_delay();
  std::printf("  %s countdown: %d loops per us\n", scratch ? "scratch" : "plain", loops_per_us);
  return loops_per_us;
}

}  // namespace

int main(int argc, char** argv) {
  bool use_cache = argc > 1 && std::strcmp(argv[1], "--cache") == 0;
  std::filesystem::path scratch_dir;
  int32_t plain = 0;
  int32_t scratch = 0;
  if (use_cache) {
    calibrate_delay();
    plain = scratch = loops_per_us;
  } else {
    char dir_template[] = "/tmp/bench_delay.XXXXXX";
    if (!mkdtemp(dir_template) || chdir(dir_template) != 0) {
      std::perror("bench_delay: temporary directory");
      return 1;
    }
    scratch_dir = dir_template;
    plain = calibrate_fresh(false);
    scratch = calibrate_fresh(true);
  }

  use_scratch_countdown(false);
  auto plain_steady = static_cast<int32_t>(steady_figure());
  use_scratch_countdown(true);
  auto scratch_steady = static_cast<int32_t>(steady_figure());

  for (clockid_t clock : {CLOCK_MONOTONIC, CLOCK_THREAD_CPUTIME_ID}) {
    clock_in_use = clock;
    std::printf("\nmeasured/asked time of delay_us(n), median of %d, %s clock\n", REPETITIONS,
                clock == CLOCK_MONOTONIC ? "wall" : "CPU");
    std::printf("%-26s %8s", "countdown, figure", "loops/us");
    for (int64_t n : SIZES) std::printf("  %7s", ("n=" + std::to_string(n)).c_str());
    std::printf("\n");
    use_scratch_countdown(false);
    print_row("plain, own figure", plain);
    if (!use_cache) print_row("plain, scratch's figure", scratch);
    print_row("plain, steady figure", plain_steady);
    use_scratch_countdown(true);
    print_row("scratch, own figure", scratch);
    if (!use_cache) print_row("scratch, plain's figure", plain);
    print_row("scratch, steady figure", scratch_steady);
  }

  std::printf("\ncalibrated figure against the steady one (CPU clock, median of 5)\n");
  std::printf("plain    calibrated %8d  steady %8d  ratio %6.3f\n", plain, plain_steady,
              static_cast<double>(plain) / plain_steady);
  std::printf("scratch  calibrated %8d  steady %8d  ratio %6.3f\n", scratch, scratch_steady,
              static_cast<double>(scratch) / scratch_steady);

  if (!scratch_dir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir, ignored);
  }
  return 0;
}
