// Delivery of Ctrl-C and SIGTERM into a flag.
#pragma once
#include <csignal>

// From now on SIGINT and SIGTERM store their number into *flag, and blocking reads
// return early instead of resuming.
void install_signal_handlers(volatile std::sig_atomic_t* flag);
