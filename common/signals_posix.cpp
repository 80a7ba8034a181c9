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
  // The terminal went away (a closed window, a dropped ssh session): stop as for
  // SIGTERM, so the exit handlers still raise RESET and close the port. A run started
  // under nohup finds the hang-up ignored and keeps it so: it is meant to outlive its
  // terminal.
  struct sigaction hangup {};
  if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN) sigaction(SIGHUP, &action, nullptr);
}
