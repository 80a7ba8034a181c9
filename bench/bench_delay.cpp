// links: common
// How long delay_us(n) really takes against n, for both countdowns: the programmer's
// plain one and the stepper utility's one with the scratch store. Both programs share
// one "gcal.txt", so each countdown is timed with its own program's fresh figure and
// with the figure the other program writes, and with figures that no countdown can
// trust: 1, and one 10 % below a fresh one.
//
// The figures come from the real programs: build/varnprog and build/pavolt each
// calibrate in a fresh temporary folder, a few times. The countdowns timed here are
// the ones those programs link, from the same object of libcommon.
//
// Targets: for every n >= 2 and every figure the shortest measured/asked is at least
// 1.00; with a fresh figure the median is at most 1.05 for n = 2, 10 and 150000 on an
// idle machine; the two countdowns' costs per iteration (the programs' figures,
// varnprog's over pavolt's) lie within 0.95 to 1.05. Waits are timed on the monotonic
// clock, the one that decides when they end; on a loaded machine the medians of long
// waits grow with the time other programs hold the processor, and the shortest holds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "clock.h"
#include "delay.h"
#include "delay_hooks.h"

namespace {

constexpr int PROGRAM_RUNS = 3;
struct Size {
  int64_t n;
  int calls;
};
constexpr Size SIZES[] = {{2, 20000}, {10, 5000}, {150000, 15}};

double now_us(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// The shortest time between two reads of the clock.
double read_cost_us(clockid_t clock) {
  double best = 1e9;
  for (int i = 0; i < 1000; ++i) {
    double t0 = now_us(clock);
    best = std::min(best, now_us(clock) - t0);
  }
  return best;
}

double median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// Runs `command` in a fresh folder with no gcal.txt and returns the figure it wrote
// (pavolt's 'e' ends with status 1: the file, not the status, tells).
int32_t program_figure(const std::filesystem::path& dir, const std::string& command) {
  std::filesystem::remove(dir / "gcal.txt");
  std::string line = "cd '" + dir.string() + "' && " + command + " >/dev/null 2>&1";
  if (std::system(line.c_str()) == -1) return 0;
  std::FILE* file = std::fopen((dir / "gcal.txt").c_str(), "r");
  if (!file) return 0;
  int32_t figure = read_calibration(file);
  std::fclose(file);
  return figure;
}

int32_t programs_median(const std::filesystem::path& dir, const char* name, const std::string& command) {
  std::vector<double> figures;
  std::printf("%-8s calibrates to", name);
  for (int run = 0; run < PROGRAM_RUNS; ++run) {
    figures.push_back(program_figure(dir, command));
    std::printf(" %.0f", figures.back());
    std::fflush(stdout);
  }
  auto figure = static_cast<int32_t>(median(figures));
  std::printf("  (median %d loops/us)\n", figure);
  return figure;
}

// Loops per microsecond of the countdown in use, fastest of a few, on processor time.
double countdown_speed() {
  double best = 0;
  for (int run = 0; run < 7; ++run) {
    double t0 = now_us(CLOCK_THREAD_CPUTIME_ID);
    spin(MEASURE_LOOPS / 4);
    best = std::max(best, (MEASURE_LOOPS / 4) / (now_us(CLOCK_THREAD_CPUTIME_ID) - t0));
  }
  return best;
}

// Nanoseconds that one read of the delay's clock costs, on average over many.
double delay_clock_read_ns() {
  constexpr int READS = 1000000;
  int64_t sum = 0;  // used, so the reads stay
  double t0 = now_us(CLOCK_MONOTONIC);
  for (int i = 0; i < READS; ++i) sum += clock_ticks() & 1;
  double ns = (now_us(CLOCK_MONOTONIC) - t0) * 1000 / READS;
  return sum >= 0 ? ns : 0;
}

void print_row(const char* label, int32_t figure) {
  loops_per_us = figure;
  std::printf("%-28s %8d", label, figure);
  const double cost = read_cost_us(CLOCK_MONOTONIC);
  for (const Size& size : SIZES) {
    std::vector<double> ratios;
    delay_us(size.n);  // caches and branch predictor warm
    for (int call = 0; call < size.calls; ++call) {
      double t0 = now_us(CLOCK_MONOTONIC);
      delay_us(size.n);
      ratios.push_back((now_us(CLOCK_MONOTONIC) - t0 - cost) / static_cast<double>(size.n));
    }
    std::printf("  %7.3f %7.3f", *std::min_element(ratios.begin(), ratios.end()), median(ratios));
    std::fflush(stdout);
  }
  std::printf("\n");
}

void print_rows(const char* program, int32_t own, const char* other_name, int32_t other) {
  const std::string name = program;
  print_row((name + ", own figure").c_str(), own);
  print_row((name + ", " + other_name + "'s").c_str(), other);
  print_row((name + ", figure 1").c_str(), 1);
  print_row((name + ", own 10 % low").c_str(), own - own / 10);
}

}  // namespace

int main() {
  char dir_template[] = "/tmp/bench_delay.XXXXXX";
  if (!mkdtemp(dir_template)) {
    std::perror("bench_delay: temporary directory");
    return 1;
  }
  const std::filesystem::path dir = dir_template;
  const std::string build = VARN_BUILD_DIR;
  const int32_t plain = programs_median(dir, "varnprog", "LPT1=sim:timing=fast '" + build + "/varnprog' -h");
  const int32_t scratch = programs_median(dir, "pavolt", "echo e | LPT1=sim:timing=fast '" + build + "/pavolt'");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  if (plain <= 0 || scratch <= 0) {
    std::fprintf(stderr, "bench_delay: a program wrote no figure (are varnprog and pavolt built?)\n");
    return 1;
  }

  use_scratch_countdown(false);
  double plain_speed = countdown_speed();
  use_scratch_countdown(true);
  double scratch_speed = countdown_speed();
  std::printf("\ncost of pavolt's iteration over varnprog's: %.3f from the programs' figures,"
              " %.3f from the countdowns timed here (target 0.95 to 1.05)\n",
              static_cast<double>(plain) / scratch, plain_speed / scratch_speed);

  std::printf("\none read of the delay's clock: %.1f ns\n", delay_clock_read_ns());
  std::printf("\nmeasured/asked time of delay_us(n) on the monotonic clock: shortest and median\n%-28s %8s",
              "countdown, figure", "loops/us");
  for (const Size& size : SIZES) std::printf("  %15s", ("n=" + std::to_string(size.n)).c_str());
  std::printf("\n");
  use_scratch_countdown(false);
  print_rows("varnprog", plain, "pavolt", scratch);
  use_scratch_countdown(true);
  print_rows("pavolt", scratch, "varnprog", plain);
  return 0;
}
