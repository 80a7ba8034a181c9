// Standard input and key presses on Windows, and which streams are consoles.
//
// A console delivers key presses through the kbhit/getch pair of <conio.h>: no
// echo, no Enter needed. Words are read from a console in its own line mode (the
// console echoes and edits the line; Ctrl+Z at the start of a line ends input).
// When standard input is a pipe or a file, its bytes go into the same buffer as a
// terminal's would, so words and keys follow one rule whatever the source.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "interrupt.h"
#include "terminal.h"

namespace {

constexpr char CONSOLE_EOF = 0x1A;  // Ctrl+Z
constexpr int PIPE_POLL_MS = 5;  // a waiting read looks for Ctrl+C this often

bool keys_mode = false;

HANDLE input() { return GetStdHandle(STD_INPUT_HANDLE); }

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) != 0;
}

DWORD chunk(size_t size) { return size > 0x10000 ? 0x10000 : static_cast<DWORD>(size); }

// Key presses waiting on the console, without echo. Extended keys (arrows, function
// keys) come as two codes, 0 or 0xE0 and the scan code; both go into the buffer.
long console_keys(char* buffer, size_t size) {
  size_t n = 0;
  while (n < size && _kbhit()) buffer[n++] = static_cast<char>(_getch());
  return static_cast<long>(n);
}

// One line typed at the console, as the console's line mode delivers it.
long console_line(char* buffer, size_t size) {
  for (;;) {
    DWORD got = 0;
    BOOL ok = ReadFile(input(), buffer, chunk(size), &got, nullptr);
    check_interrupt();  // Ctrl+C ends a console read early
    if (!ok && GetLastError() != ERROR_OPERATION_ABORTED) return -1;
    if (!ok || got == 0) continue;
    if (buffer[0] == CONSOLE_EOF) return -1;
    return static_cast<long>(got);
  }
}

// A pipe is read by a thread of its own, blocking, into a buffer that the program
// takes from without waiting. PeekNamedPipe would do without the thread on Windows
// itself, but not on every system that runs Windows programs (wine answers "not
// supported" for a pipe from its host), and a blocking read alone could neither
// answer kbhit nor let Ctrl+C stop a program that waits for its next word.
struct PipeReader {
  std::mutex lock;
  std::condition_variable arrived;
  std::string bytes;
  bool ended = false;
};

HANDLE reader_handle = nullptr;
std::shared_ptr<PipeReader> reader;

PipeReader& pipe_reader(HANDLE h) {
  if (!reader || reader_handle != h) {
    // A new standard input: whatever the last one held is left behind with it.
    reader = std::make_shared<PipeReader>();
    reader_handle = h;
    std::thread([h, r = reader] {
      char buffer[4096];
      for (;;) {
        DWORD got = 0;
        bool ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0;
        std::lock_guard<std::mutex> hold(r->lock);
        if (ok) r->bytes.append(buffer, got);
        else r->ended = true;
        r->arrived.notify_all();
        if (!ok) return;
      }
    }).detach();
  }
  return *reader;
}

// Takes what the reader holds: >0 bytes, 0 none yet, -1 the pipe has ended.
long take_bytes(PipeReader& r, char* buffer, size_t size) {
  if (r.bytes.empty()) return r.ended ? -1 : 0;
  size_t n = r.bytes.size() < size ? r.bytes.size() : size;
  r.bytes.copy(buffer, n);
  r.bytes.erase(0, n);
  return static_cast<long>(n);
}

long pipe_now(HANDLE h, char* buffer, size_t size) {
  PipeReader& r = pipe_reader(h);
  std::lock_guard<std::mutex> hold(r.lock);
  return take_bytes(r, buffer, size);
}

// Waits in short slices, so a Ctrl+C (which only sets a flag) stops the program.
long pipe_wait(HANDLE h, char* buffer, size_t size) {
  PipeReader& r = pipe_reader(h);
  std::unique_lock<std::mutex> hold(r.lock);
  for (;;) {
    long n = take_bytes(r, buffer, size);
    if (n != 0) return n;
    r.arrived.wait_for(hold, std::chrono::milliseconds(PIPE_POLL_MS));
    if (interrupt_signal) {
      hold.unlock();
      check_interrupt();
      hold.lock();
    }
  }
}

// A file (or the NUL device) never makes a reader wait: what isn't there has ended.
long file_read(HANDLE h, char* buffer, size_t size) {
  DWORD got = 0;
  if (!ReadFile(h, buffer, chunk(size), &got, nullptr) || got == 0) return -1;
  return static_cast<long>(got);
}

}  // namespace

bool input_is_terminal() { return is_console(input()); }

// A console, not _isatty: that also answers true for the NUL device.
bool output_is_terminal() { return is_console(GetStdHandle(STD_OUTPUT_HANDLE)); }

int silence_output() {
  std::fflush(stdout);
  const int saved = _dup(1);
  const int null = _open("NUL", _O_WRONLY);
  if (saved < 0 || null < 0 || _dup2(null, 1) < 0) {
    if (null >= 0) _close(null);
    if (saved >= 0) _close(saved);
    return -1;
  }
  _close(null);
  return saved;
}

void restore_output(int saved) {
  if (saved < 0) return;
  std::fflush(stdout);
  _dup2(saved, 1);
  _close(saved);
}

bool error_is_terminal() { return is_console(GetStdHandle(STD_ERROR_HANDLE)); }

int error_terminal_columns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// _getch switches the console out of line mode for each key itself, so there is no
// console mode to change or to restore: the flag only chooses how a waiting read
// takes the console's input.
void terminal_keys_mode(bool on) { keys_mode = on && input_is_terminal(); }

long read_input_now(char* buffer, size_t size) {
  HANDLE h = input();
  if (is_console(h)) return console_keys(buffer, size);
  if (GetFileType(h) == FILE_TYPE_PIPE) return pipe_now(h, buffer, size);
  return file_read(h, buffer, size);
}

long read_input_wait(char* buffer, size_t size) {
  HANDLE h = input();
  if (is_console(h)) {
    if (!keys_mode) return console_line(buffer, size);
    buffer[0] = static_cast<char>(_getch());
    check_interrupt();
    return 1;
  }
  if (GetFileType(h) == FILE_TYPE_PIPE) return pipe_wait(h, buffer, size);
  return file_read(h, buffer, size);
}
