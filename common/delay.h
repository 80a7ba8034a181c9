// Calibrated busy-wait delay. Every pause of both programs is delay_us().
#pragma once
#include <cstdint>
#include <cstdio>

constexpr int32_t LOOPS_PER_US_UNCALIBRATED = 172;
constexpr uint32_t MEASURE_LOOPS = 80000000;
constexpr int CALIBRATION_RUNS = 13;

extern int32_t loops_per_us;  // countdown iterations per microsecond

// The stepper utility's countdown also stores each value into a scratch variable, at
// the same cost per iteration, so one figure fits both programs; each program selects
// its own countdown once, before calibrating.
void use_scratch_countdown(bool on);

void spin(uint32_t count);
// n x loops_per_us in 64 bits, 0 for n <= 0: the iterations of a wait of n
// microseconds on the figure alone.
uint64_t delay_iterations(int64_t n);
// Total iterations spun so far, counted per call, not per iteration.
extern uint64_t spun_iterations;
// Total microseconds asked of delay_us so far.
extern uint64_t asked_us;
// Waits n microseconds, busy: returns once the monotonic clock shows at least n
// microseconds since the call, whatever loops_per_us holds, which only sets how much
// of the wait a countdown covers before the clock ends it. On a port that checks no
// timing (port_allows_short_waits) it is n x loops_per_us iterations and nothing more.
void delay_us(int64_t n);
double measure_loop_speed();
// The figure of an open calibration file: its first decimal integer when that is
// positive, else 0 (no calibration).
int32_t read_calibration(std::FILE* file);
// The quick count that judges a cached figure, loops per microsecond; a test can put
// a fixed count in its place, as the real one follows the machine's load.
extern double (*quick_count)();
// Takes loops_per_us from "gcal.txt", or measures it and writes the file.
void calibrate_delay();
// True once calibrate_delay has measured, printing its dots, which end no line.
extern bool calibration_measured;
