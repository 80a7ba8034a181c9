// The monotonic clock on Linux and other POSIX systems: the time-stamp counter where
// the kernel keeps CLOCK_MONOTONIC by it (tsc.h), else CLOCK_MONOTONIC in nanoseconds,
// read without a system call where the kernel offers its vDSO.
//
// The counter is read unordered, at half the cost of an ordered read: the processor
// may take it ahead of the instructions before it, so it can only show less time than
// has passed, which makes a poll look again. At the start of a wait it can't come
// from before the port write that precedes it: an OUT instruction holds back every
// instruction after it until its write is done, a ppdev write returns from a system
// call, and a simulated board takes its own time stamp ordered, within the wait's
// 0.1 % margin of the program's.
#include <cmath>

#include "clock.h"
#include "tsc.h"

namespace {

// Which of the two the clock reads, chosen at its first read: a plain flag, read
// between a wait's counts.
enum class Source { unchosen, counter, monotonic };
Source source = Source::unchosen;

bool by_counter() {
  if (source == Source::unchosen) source = tsc_clock().usable ? Source::counter : Source::monotonic;
  return source == Source::counter;
}

}  // namespace

int64_t clock_ticks() { return by_counter() ? tsc_read() : monotonic_ns(); }

// The counter's rate is taken at the most it was measured to run, and 0.1 % over
// that, which covers the 500 ppm by which NTP may slew CLOCK_MONOTONIC once the rate
// is taken: a wait in counts is never shorter than on CLOCK_MONOTONIC, and 2 ns
// longer in a wait of 2 us.
int64_t clock_ticks_per_second() {
  static const int64_t rate = by_counter() ? static_cast<int64_t>(std::ceil(tsc_clock().high_per_us * 1e6 * 1.001))
                                           : 1000000000;
  return rate;
}

void clock_start() { clock_ticks_per_second(); }
