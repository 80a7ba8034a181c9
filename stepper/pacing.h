// What the utility's loops do between passes: wait and look for a key. Both go
// through replaceable hooks, so a unit test can run a loop pass by pass with
// scripted keys and count the delay units instead of spending them.
#pragma once
#include <cstdint>

using WaitFn = void (*)(int64_t units);
using KeyWaitingFn = bool (*)();
using ReadKeyFn = int (*)();

struct Pacing {
  WaitFn wait;              // busy-waits n delay units (about microseconds)
  KeyWaitingFn key_waiting; // true when a key is pending, or input has ended
  ReadKeyFn read_key;       // one key without echo; CONSOLE_END at end of input
};

extern Pacing pacing;

// Restores the hooks to the calibrated delay and the console.
void use_console_pacing();

inline void wait_units(int64_t units) { pacing.wait(units); }
inline bool key_waiting() { return pacing.key_waiting(); }
inline int read_key() { return pacing.read_key(); }
