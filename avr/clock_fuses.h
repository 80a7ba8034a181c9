// The target clock the programmer's reports and the simulated board read from the low
// fuse: the few values of the Varn board's clock sources; anything else counts as the
// internal 1 MHz oscillator.
#pragma once
#include <array>
#include <cstdint>

struct ClockFuse {
  uint8_t low_fuse;
  int mhz;
};
constexpr std::array<ClockFuse, 4> CLOCK_FUSES = {{{0xA7, 20}, {0xE7, 20}, {0xE0, 20}, {0xE2, 8}}};
constexpr int DEFAULT_CLOCK_MHZ = 1;

constexpr int clock_from_low_fuse(uint8_t low) {
  for (const ClockFuse& c : CLOCK_FUSES)
    if (c.low_fuse == low) return c.mhz;
  return DEFAULT_CLOCK_MHZ;
}
