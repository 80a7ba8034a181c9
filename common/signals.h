// Delivery of the signals that end a run (Ctrl-C, Ctrl-\, SIGTERM, a hang-up of the
// terminal, a closed output pipe) into a flag.
#pragma once
#include <csignal>

// From now on those signals (on Windows the console's Ctrl+C, Ctrl+Break, close, logoff
// and shutdown events) store a signal number into *flag, and blocking reads return
// early instead of resuming.
void install_signal_handlers(volatile std::sig_atomic_t* flag);
