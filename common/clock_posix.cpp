// The monotonic clock on Linux and other POSIX systems: CLOCK_MONOTONIC in
// nanoseconds, read without a system call where the kernel offers its vDSO.
#include <ctime>

#include "clock.h"

int64_t clock_ticks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t clock_ticks_per_second() { return 1000000000; }
