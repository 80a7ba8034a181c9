#include <signal.h>

#include "signals.h"

namespace {

volatile std::sig_atomic_t* target = nullptr;

void note_signal(int sig) {
  if (target) *target = sig;
}

}  // namespace

void install_signal_handlers(volatile std::sig_atomic_t* flag) {
  target = flag;
  struct sigaction action {};
  action.sa_handler = note_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking read returns with EINTR
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
