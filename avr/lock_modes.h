// The lock bits LB1 and LB2 (lock byte bits 0 and 1) as the ATmega data sheets give
// them. One table for the programmer, which decides what it may ask of a locked chip,
// and for the simulated chip, which refuses what the silicon refuses. A lock bit is
// programmed when it reads 0; only a chip erase unprograms it.
#pragma once
#include <array>
#include <cstdint>

constexpr uint8_t LOCK_LB1 = 0x01;
constexpr uint8_t LOCK_LB2 = 0x02;
constexpr uint8_t LOCK_MODE_BITS = LOCK_LB1 | LOCK_LB2;

struct LockMode {
  uint8_t bits;      // the lock byte's LB2 and LB1
  int mode;          // the data sheets' lock mode number
  bool programming;  // flash, EEPROM, fuses and boot lock bits take writes
  bool reading;      // flash and EEPROM read back (verification)
};

// Mode 1 locks nothing. Mode 2 disables further programming of flash and EEPROM and
// locks the fuses. Mode 3 disables verification (reading) as well. LB2 programmed
// with LB1 not is no mode of the data sheets: it counts as the strictest, mode 3.
constexpr std::array<LockMode, 4> LOCK_MODES = {{
    {LOCK_LB2 | LOCK_LB1, 1, true, true},
    {LOCK_LB2, 2, false, true},
    {0, 3, false, false},
    {LOCK_LB1, 3, false, false},
}};

constexpr const LockMode& lock_mode(uint8_t lock) {
  for (const LockMode& m : LOCK_MODES)
    if (m.bits == (lock & LOCK_MODE_BITS)) return m;
  return LOCK_MODES[2];  // not reached: the table covers all four combinations
}
