// Standard input and key presses on Windows.
//
// A console delivers key presses through the kbhit/getch pair of <conio.h>: no
// echo, no Enter needed. Words are read from a console in its own line mode (the
// console echoes and edits the line; Ctrl+Z at the start of a line ends input).
// When standard input is a pipe or a file, its bytes go into the same buffer as a
// terminal's would, so words and keys follow one rule whatever the source.
#include <conio.h>
#include <windows.h>

#include <cstring>

#include "interrupt.h"
#include "terminal.h"

namespace {

constexpr char CONSOLE_EOF = 0x1A;  // Ctrl+Z
constexpr DWORD PIPE_POLL_MS = 2;   // a waiting word read looks at the pipe this often

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

// Bytes waiting in a pipe: >0 read, 0 none, -1 the writer has closed it.
long pipe_now(HANDLE h, char* buffer, size_t size) {
  DWORD available = 0;
  if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) return -1;
  if (available == 0) return 0;
  DWORD got = 0;
  DWORD want = available < chunk(size) ? available : chunk(size);
  if (!ReadFile(h, buffer, want, &got, nullptr) || got == 0) return -1;
  return static_cast<long>(got);
}

// A file (or the NUL device) never makes a reader wait: what isn't there has ended.
long file_read(HANDLE h, char* buffer, size_t size) {
  DWORD got = 0;
  if (!ReadFile(h, buffer, chunk(size), &got, nullptr) || got == 0) return -1;
  return static_cast<long>(got);
}

}  // namespace

bool input_is_terminal() { return is_console(input()); }

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
  if (GetFileType(h) != FILE_TYPE_PIPE) return file_read(h, buffer, size);
  // A pipe is watched rather than read blocking, so Ctrl+C (which only sets a flag)
  // stops a program that waits for its next word.
  for (;;) {
    long n = pipe_now(h, buffer, size);
    if (n != 0) return n;
    check_interrupt();
    Sleep(PIPE_POLL_MS);
  }
}
