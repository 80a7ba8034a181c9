// Delivery of Ctrl-C, SIGTERM and a hang-up of the terminal into a flag.
#pragma once
#include <csignal>

// From now on SIGINT, SIGTERM and SIGHUP (on Windows the console's Ctrl+C, Ctrl+Break,
// close, logoff and shutdown events) store a signal number into *flag, and blocking reads
// return early instead of resuming.
void install_signal_handlers(volatile std::sig_atomic_t* flag);
