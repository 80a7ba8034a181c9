// Standard input and the terminal mode on POSIX systems, and which streams are terminals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "interrupt.h"
#include "terminal.h"

namespace {

termios saved_mode;
bool mode_saved = false;
volatile sig_atomic_t mode_changed = 0;

void restore_terminal() {
  if (mode_saved && mode_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
    mode_changed = 0;
  }
}

void restore_and_reraise(int sig) {
  restore_terminal();
  signal(sig, SIG_DFL);
  raise(sig);
}

void save_mode_once() {
  if (mode_saved) return;
  if (tcgetattr(STDIN_FILENO, &saved_mode) != 0) return;
  mode_saved = true;
  std::atexit(restore_terminal);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction current {};
    sigaction(sig, nullptr, &current);
    if (current.sa_handler == SIG_DFL) signal(sig, restore_and_reraise);
  }
}

}  // namespace

bool input_is_terminal() { return isatty(STDIN_FILENO) == 1; }

bool output_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

int silence_output() {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (saved < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0) {
    if (null >= 0) close(null);
    if (saved >= 0) close(saved);
    return -1;
  }
  close(null);
  return saved;
}

void restore_output(int saved) {
  if (saved < 0) return;
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

bool error_is_terminal() { return isatty(STDERR_FILENO) == 1; }

int error_terminal_columns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void terminal_keys_mode(bool on) {
  if (!input_is_terminal()) return;
  save_mode_once();
  if (!mode_saved) return;
  if (on) {
    termios keys = saved_mode;
    keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0) mode_changed = 1;
  } else {
    restore_terminal();
  }
}

long read_input_now(char* buffer, size_t size) {
  pollfd in{STDIN_FILENO, POLLIN, 0};
  int ready = poll(&in, 1, 0);
  if (ready <= 0) return 0;
  ssize_t n = read(STDIN_FILENO, buffer, size);
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  return -1;
}

long read_input_wait(char* buffer, size_t size) {
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, size);
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && errno == EINTR) {
      check_interrupt();
      continue;
    }
    return -1;
  }
}
