// Ctrl-C and the other signals that end a run (signals.h). The signal only sets a
// flag; the program stops at its next port call, wait or console read, where stopping
// is safe, and its exit handlers run (the programmer raises RESET so the target runs,
// the terminal is restored, the port library closes, which saves a simulated board's
// state).
#pragma once
#include <csignal>

extern volatile std::sig_atomic_t interrupt_signal;

// Installs the handlers.
void install_interrupt_handlers();

// Exits with 128 + the signal's number.
void stop_on_interrupt();

// Stops the program when a signal has arrived. Cheap: one load of the flag.
inline void check_interrupt() {
  if (interrupt_signal) stop_on_interrupt();
}

// From here on a signal no longer stops the program: for exit handlers that still
// use the port while the program ends.
void ignore_further_interrupts();

// Removes `path` if the program stops before forget_on_interrupt() (a file being
// written under a temporary name).
void remove_on_interrupt(const char* path);
void forget_on_interrupt();
