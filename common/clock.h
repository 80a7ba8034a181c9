// The monotonic clock that decides when a wait is over.
#pragma once
#include <cstdint>

// Ticks since an arbitrary start; the count never runs backwards, whatever happens to
// the time of day. A read costs some tens of nanoseconds on Linux (no system call).
int64_t clock_ticks();
// Ticks in one second.
int64_t clock_ticks_per_second();
