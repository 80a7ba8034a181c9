// Delivery of Ctrl+C, Ctrl+Break and the end of the console (its window closed, the
// user logging off, the system shutting down) into a flag.
#include <windows.h>

#include <csignal>

#include "signals.h"

namespace {

volatile std::sig_atomic_t* target = nullptr;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI note_event(DWORD event) {
  if (!target) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      *target = SIGINT;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The console goes away, like a terminal's hang-up on Linux. The system ends
      // the process when the handler returns: give the main thread a moment to reach
      // its next port call or wait and stop there in order.
      *target = SIGTERM;
      Sleep(2000);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void install_signal_handlers(volatile std::sig_atomic_t* flag) {
  target = flag;
  SetConsoleCtrlHandler(note_event, TRUE);
}
