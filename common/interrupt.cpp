#include "interrupt.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "signals.h"

volatile std::sig_atomic_t interrupt_signal = 0;

namespace {

bool stopping = false;
std::string file_to_remove;

}  // namespace

void install_interrupt_handlers() { install_signal_handlers(&interrupt_signal); }

void stop_on_interrupt() {
  if (stopping) return;  // the exit handlers themselves use the port
  stopping = true;
  int sig = interrupt_signal;
  interrupt_signal = 0;
  if (!file_to_remove.empty()) std::remove(file_to_remove.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "\nInterrupted - stopping\n");
  std::exit(128 + sig);
}

void ignore_further_interrupts() {
  stopping = true;
  interrupt_signal = 0;
}

void remove_on_interrupt(const char* path) { file_to_remove = path; }

void forget_on_interrupt() { file_to_remove.clear(); }
