#include <signal.h>

#include "signals.h"

namespace {

volatile std::sig_atomic_t* target = nullptr;

void note_signal(int sig) {
  if (target) *target = sig;
}

// The signals that end a run, each of which would otherwise end the process where it
// stands, RESET low or a trace unwritten. They stop it in order instead, as SIGTERM
// does, so the exit handlers raise RESET, close the port and save the simulated board:
//   SIGINT, SIGQUIT  Ctrl-C and Ctrl-\ at the terminal
//   SIGHUP           the terminal went away (a closed window, a dropped ssh session)
//   SIGTERM          kill, timeout, a shutdown
//   SIGPIPE          standard output was a pipe whose reader quit (a pager, head);
//                    the write fails with EPIPE and the run stops at the next check
// Ctrl-Z (SIGTSTP) only pauses the run, lines as they are, until fg or kill. Faults
// (SIGSEGV, SIGABRT and the like) keep their default: nothing is sound to run after one.
constexpr int STOPPING_SIGNALS[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGPIPE};

}  // namespace

void install_signal_handlers(volatile std::sig_atomic_t* flag) {
  target = flag;
  struct sigaction action {};
  action.sa_handler = note_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking read returns with EINTR
  for (int sig : STOPPING_SIGNALS) {
    // A run started under nohup finds the hang-up ignored and keeps it so: it is meant
    // to outlive its terminal. The others are taken even when ignored at the start, as
    // a shell without job control does for Ctrl-C and Ctrl-\ in a background command.
    struct sigaction before {};
    if (sig == SIGHUP && sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
}
