// Whether the time-stamp counter can stand for CLOCK_MONOTONIC, and at what rate.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tsc.h"

int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

namespace {

// The kernel names its clock source here. It keeps "tsc" only for a counter that runs
// at one rate whatever the processor's clock step or sleep state, and that all
// processors share, so a program that moves between processors reads one count.
bool kernel_keeps_time_by_tsc() {
  std::FILE* file = std::fopen("/sys/devices/system/clocksource/clocksource0/current_clocksource", "r");
  if (!file) return false;
  char name[16] = {};
  const bool read = std::fgets(name, sizeof name, file) != nullptr;
  std::fclose(file);
  return read && std::strcmp(name, "tsc\n") == 0;
}

// A read of CLOCK_MONOTONIC between two ordered reads of the counter: the clock's
// value was taken somewhere between the two counts. The narrowest of a few is kept,
// so an interrupt inside one doesn't widen it.
struct Bracket {
  int64_t before, ns, after;
};
Bracket bracket() {
  Bracket best{};
  for (int i = 0; i < 8; ++i) {
    Bracket b;
    b.before = tsc_read_ordered();
    b.ns = monotonic_ns();
    b.after = tsc_read_ordered();
    if (i == 0 || b.after - b.before < best.after - best.before) best = b;
  }
  return best;
}

// The counter's rate over 2 ms of CLOCK_MONOTONIC: the fewest and the most counts
// that can lie between the two clock reads, over the most and the fewest microseconds
// (each read drops a fraction of a nanosecond). The brackets are some tens of counts
// wide, so the two bounds lie within some 1e-5 of each other.
TscClock measure() {
  constexpr int64_t INTERVAL_NS = 2000000;
  const Bracket first = bracket();
  while (monotonic_ns() - first.ns < INTERVAL_NS) {
  }
  const Bracket last = bracket();
  const double us = static_cast<double>(last.ns - first.ns) / 1e3;
  const double low = static_cast<double>(last.before - first.after) / (us + 1e-3);
  const double high = static_cast<double>(last.after - first.before) / (us - 1e-3);
  return {low > 0 && high >= low, low, high};
}

}  // namespace

const TscClock& tsc_clock() {
  static const TscClock clock = TSC_PRESENT && kernel_keeps_time_by_tsc() ? measure() : TscClock{false, 0, 0};
  return clock;
}
