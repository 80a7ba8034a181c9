// What the programmer knows about its cable and how it paces it: the line map and the
// link's waits. The chip's own facts (instructions, parts, fuse bits, lock modes, clock
// fuses) are the avr library's, shared with the simulated chip.
#pragma once
#include <array>
#include <cstdint>

#include "isp_instructions.h"
#include "lock_modes.h"
#include "port.h"

// ---------------------------------------------------------------------------------
// Cable. Output lines 0..6 are data-register bits 0..6 (connector pins 2..8); the
// programmer drives only 0 (MOSI), 1 (SCK) and 2 (RESET). Data bit 7 and the control
// register are never touched.
struct PortLine {
  uint16_t port;
  uint8_t bit;
};

constexpr int CABLE_LINE_COUNT = 7;
constexpr std::array<PortLine, CABLE_LINE_COUNT> CABLE_OUTPUTS = {{
    {LPT_DATA, 0},  // LINE_MOSI, pin 2: data into the target
    {LPT_DATA, 1},  // LINE_SCK, pin 3: MOSI set before each rising edge, MISO read while high
    {LPT_DATA, 2},  // LINE_RESET, pin 4: high = target runs, low = serial-programming mode
    {LPT_DATA, 3},
    {LPT_DATA, 4},
    {LPT_DATA, 5},
    {LPT_DATA, 6},
}};

// MISO arrives on status bit 7 (pin 11), which the port inverts: the register shows 0
// while the pin is high, so a reading of 0 is a data bit 1.
constexpr PortLine CABLE_MISO = {LPT_STATUS, 7};
constexpr int16_t MISO_READING_PIN_HIGH = 0;

// Waits of the link, in delay_us units.
constexpr int SHIFT_LEAD_IN_US = 5;      // SCK low before the first bit of a byte
constexpr int HALF_BIT_US = 2;           // each phase of a bit
constexpr int RESET_SETTLE_US = 150000;  // after any edge of RESET
constexpr int RESET_PRE_US = 100;        // extra pause before the entry pulse
constexpr int PROGRAMMING_ENTRY_US = 90000;  // RESET low before the first instruction
constexpr int RELEASE_LEAD_IN_US = 10;

constexpr int READY_POLL_WAIT_US = 100;  // pause after each busy answer
// Fuse writes are not polled: each is given this long to complete.
constexpr int FUSE_WRITE_WAIT_US = 10000;
