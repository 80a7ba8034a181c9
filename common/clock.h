// The monotonic clock that decides when a wait is over.
#pragma once
#include <cstdint>

// Ticks since an arbitrary start; the count never runs backwards, whatever happens to
// the time of day. A read costs some 12 ns on Linux (no system call). It may be taken
// a little ahead of the instructions before it, so it can show a little less time
// than has passed, never more (clock_posix.cpp says why a wait's start can take it).
int64_t clock_ticks();
// Ticks in one second.
int64_t clock_ticks_per_second();
// Chooses the clock and takes its rate (2 ms where the counter's rate is measured).
// Each program calls it at start-up, before its first port operation: taken at the
// first read instead, the measurement would land inside the first wait and lengthen it
// by as much. A read before it takes the rate then, as a last resort.
void clock_start();
