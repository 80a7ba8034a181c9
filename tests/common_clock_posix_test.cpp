// The time-stamp counter's rate, where the kernel keeps time by it: what stands
// between a wait counted in its ticks and a wait short on CLOCK_MONOTONIC.
#include <gtest/gtest.h>

#include <chrono>

#include "clock.h"
#include "tsc.h"

namespace {

// The bounds taken over 2 ms lie within 1e-4 of each other and hold the rate that the
// delay's clock shows over 50 ms of steady_clock: counted outside the two steady_clock
// reads the rate can only come out high, counted inside them only low, whatever
// interrupts the test (the reads themselves add some 1e-6).
TEST(Clock, CounterRateBoundsHoldALongerMeasurement) {
  const TscClock& tsc = tsc_clock();
  if (!tsc.usable) GTEST_SKIP() << "the kernel doesn't keep time by the time-stamp counter here";
  EXPECT_LE(tsc.low_per_us, tsc.high_per_us);
  EXPECT_LT(tsc.high_per_us / tsc.low_per_us, 1.0001);
  const int64_t outer0 = clock_ticks();
  const auto t0 = std::chrono::steady_clock::now();
  const int64_t inner0 = clock_ticks();
  while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(50)) {
  }
  const int64_t inner1 = clock_ticks();
  const auto t1 = std::chrono::steady_clock::now();
  const int64_t outer1 = clock_ticks();
  const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
  EXPECT_GT(static_cast<double>(outer1 - outer0) / us, tsc.low_per_us * (1 - 1e-5));
  EXPECT_LT(static_cast<double>(inner1 - inner0) / us, tsc.high_per_us * (1 + 1e-5));
  // The delay counts at the upper bound and more: its waits can only run long.
  EXPECT_GE(static_cast<double>(clock_ticks_per_second()) / 1e6, tsc.high_per_us);
}

}  // namespace
