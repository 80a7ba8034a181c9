// Calibrated busy-wait delay. Every pause of both programs is delay_us() or delay_ns().
#pragma once
#include <cstdint>

constexpr int32_t LOOPS_PER_US_UNCALIBRATED = 172;

extern int32_t loops_per_us;  // countdown iterations per microsecond

// The stepper utility's countdown also stores each value into a scratch variable, at
// the same cost per iteration, so one figure fits both programs; each program selects
// its own countdown once, before calibrating.
void use_scratch_countdown(bool on);

// Waits n microseconds, busy: returns once the monotonic clock shows at least n
// microseconds since the call, whatever loops_per_us holds, which only sets how much
// of the wait a countdown covers before the clock ends it. On a port that checks no
// timing (port_allows_short_waits) it is n x loops_per_us iterations and nothing more.
void delay_us(int64_t n);
// The same in nanoseconds, for the phases of a fast serial clock; 0 or less returns at
// once.
void delay_ns(int64_t n);
// Takes loops_per_us from "gcal.txt", or measures it and writes the file.
void calibrate_delay();
// True once calibrate_delay has measured, printing its dots, which end no line.
extern bool calibration_measured;
