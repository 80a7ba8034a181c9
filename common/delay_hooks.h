// The delay's insides that the tests and the benchmarks look at or replace. The
// programs include delay.h only.
#pragma once
#include <cstdint>
#include <cstdio>

constexpr uint32_t MEASURE_LOOPS = 80000000;
constexpr int CALIBRATION_RUNS = 13;

void spin(uint32_t count);
// n x loops_per_us in 64 bits, 0 for n <= 0: the iterations of a wait of n
// microseconds on the figure alone.
uint64_t delay_iterations(int64_t n);
// Total iterations spun so far, counted per call, not per iteration.
extern uint64_t spun_iterations;
// Total nanoseconds asked of delay_us and delay_ns so far.
extern uint64_t asked_ns;
// One long countdown timed on processor time; sets loops_per_us and returns
// microseconds per loop.
double measure_loop_speed();
// The figure of an open calibration file: its first decimal integer when that is
// positive, else 0 (no calibration).
int32_t read_calibration(std::FILE* file);
// The quick count that judges a cached figure, loops per microsecond; a test can put
// a fixed count in its place, as the real one follows the machine's load.
extern double (*quick_count)();
