// Binding of the port-I/O library "io" and the parallel-port register map.
#pragma once
#include <cstdint>

#include "port_call.h"

constexpr uint16_t LPT_DATA = 0x378;     // outputs, bits 0..7
constexpr uint16_t LPT_STATUS = 0x379;   // inputs, bits 3..7; bit 7 reads inverted against its pin
constexpr uint16_t LPT_CONTROL = 0x37A;  // outputs, bits 0..3; bits 0, 1, 3 inverted against their pins

constexpr int PORT_ENTRY_COUNT = 13;

// Entry points in table order; the slots of PortTable follow it.
enum PortEntry {
  ENTRY_PORT_OUT, ENTRY_PORT_WORD_OUT, ENTRY_PORT_DWORD_OUT, ENTRY_PORT_IN, ENTRY_PORT_WORD_IN,
  ENTRY_PORT_DWORD_IN, ENTRY_SET_PORT_BIT, ENTRY_CLR_PORT_BIT, ENTRY_NOT_PORT_BIT,
  ENTRY_GET_PORT_BIT, ENTRY_RIGHT_PORT_SHIFT, ENTRY_LEFT_PORT_SHIFT, ENTRY_IS_DRIVER_INSTALLED
};

extern const char* const port_entry_names[PORT_ENTRY_COUNT];

// IsDriverInstalled takes no arguments, so either calling convention leaves the stack
// as it found it.
using PortProbeFn = short(PORT_CALL*)();

// Our own library also answers whether its port needs real waits (below); the closed
// Windows library has no such entry, and its port is real hardware.
constexpr const char* SHORT_WAITS_ENTRY = "WaitsMayBeShort";
using ShortWaitsFn = short(PORT_CALL*)();

struct PortTable {
  void* handle = nullptr;
  void* slots[PORT_ENTRY_COUNT] = {};
  void* short_waits_entry = nullptr;  // null when the library lacks it
  int short_waits = -1;               // its answer: -1 not asked yet, 0 or 1
};

extern PortTable port_table;

// Loads "io" by name through the platform loader: 0 bound, 1 not loadable (every slot null).
int bind_port_library();
// The same for a library of another name; for tests.
int bind_port_library_named(const char* name);
void release_port_library();

// For a run that holds root's rights for another user (started through sudo, or
// setuid root), or an ordinary user's run that holds capabilities: opens the port now,
// through the library's IsDriverInstalled, gives the rights up for the user's own, and
// runs `at_open` (the program's first write, where the open itself changes lines) when
// the port opened. Call it right after the binding, before any file is read or
// written. A drop that can't be done ends the program with one line and status 2. Any
// other run is left as it is, its port opened by the first call.
void open_port_then_drop_root(void (*at_open)() = nullptr);

// The three calls the programs make. With no library, or a slot left null, the first
// call prints one line naming what is missing and ends the program with status 2.
void SetPortBit(uint16_t port, uint8_t bit);
void ClrPortBit(uint16_t port, uint8_t bit);
int16_t GetPortBit(uint16_t port, uint8_t bit);

// True only when the library says its port is a simulated board that checks no
// timing: the programs' waits may then run on the loop count alone. Asked once per
// binding, at the first need (a wait, or the judging of a cached figure); the library
// opens its port then, if no port call did. No library, or one without the entry,
// means a real port and real waits.
bool ask_short_waits();
inline bool port_allows_short_waits() {
  return port_table.short_waits < 0 ? ask_short_waits() : port_table.short_waits == 1;
}

// A whole register in one write (PortOut), for a start-up that must not pass through
// intermediate line states. False, and nothing written, when the library lacks PortOut
// or isn't loaded: the caller's bit operations then do the work.
bool write_port_register(uint16_t port, uint8_t value);
