// The processor's time-stamp counter as a clock, where the kernel keeps its own
// monotonic clock by it: CLOCK_MONOTONIC is then this same count, scaled in the vDSO
// at twice the cost of the bare read. The delay and the simulated boards each take
// their own copy of this code and of the measured rate. Linux on x86; elsewhere the
// counter is never used.
#pragma once
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
constexpr bool TSC_PRESENT = true;
// The processor may take this read ahead of the instructions before it: it can show
// an earlier count than the true one, never a later one.
inline int64_t tsc_read() { return static_cast<int64_t>(__rdtsc()); }
// Taken once every instruction before it has completed, as the kernel reads it.
inline int64_t tsc_read_ordered() {
  _mm_lfence();
  return static_cast<int64_t>(__rdtsc());
}
#else
constexpr bool TSC_PRESENT = false;
inline int64_t tsc_read() { return 0; }
inline int64_t tsc_read_ordered() { return 0; }
#endif

struct TscClock {
  bool usable;  // the kernel keeps time by the counter, and its rate was measured
  // Counts per microsecond of CLOCK_MONOTONIC: the least and the most the counter can
  // run at, as measured. A wait counted at the most is never short; a simulated board
  // that times an interval at the least never finds it shorter than it was.
  double low_per_us;
  double high_per_us;
};

// Decided and measured at the first call (2 ms of the clock), then kept.
const TscClock& tsc_clock();

// CLOCK_MONOTONIC in nanoseconds: the clock the counter stands for, and the one read
// where it can't.
int64_t monotonic_ns();
