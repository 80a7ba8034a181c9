#include "interrupt.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "signals.h"

volatile std::sig_atomic_t interrupt_signal = 0;

namespace {

void (*program_last_words)() = nullptr;
bool stopping = false;
std::string file_to_remove;

}  // namespace

void install_interrupt_handlers(void (*last_words)()) {
  program_last_words = last_words;
  install_signal_handlers(&interrupt_signal);
}

void stop_on_interrupt() {
  if (stopping) return;  // the last words themselves use the port
  stopping = true;
  int sig = interrupt_signal;
  interrupt_signal = 0;
  if (!file_to_remove.empty()) std::remove(file_to_remove.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "\nInterrupted - stopping\n");
  if (program_last_words) program_last_words();
  std::exit(128 + sig);
}

void ignore_further_interrupts() {
  stopping = true;
  interrupt_signal = 0;
}

void remove_on_interrupt(const char* path) { file_to_remove = path; }

void forget_on_interrupt() { file_to_remove.clear(); }
