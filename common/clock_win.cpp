// The monotonic clock on Windows: the performance counter, at the rate the system
// states (10 MHz on current Windows and under wine).
#include <windows.h>

#include "clock.h"

int64_t clock_ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

int64_t clock_ticks_per_second() {
  static const int64_t rate = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<int64_t>(frequency.QuadPart);
  }();
  return rate;
}

void clock_start() { clock_ticks_per_second(); }
