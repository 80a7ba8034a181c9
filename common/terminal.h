// The terminal and the raw bytes of standard input.
#pragma once
#include <cstddef>

bool input_is_terminal();
bool output_is_terminal();
bool error_is_terminal();
// Columns of the terminal on standard error, 0 when unknown.
int error_terminal_columns();
// Switches a terminal on standard input to non-canonical, no-echo mode (on) or back.
// The mode found at the first switch is restored at every exit, signals included.
void terminal_keys_mode(bool on);
// Bytes waiting on standard input without blocking: >0 read, 0 none waiting, -1 ended.
long read_input_now(char* buffer, size_t size);
// Blocks until bytes arrive: >0 read, -1 ended.
long read_input_wait(char* buffer, size_t size);
// Sends standard output to the null device until restore_output, which takes the
// returned handle (-1: nothing was silenced, and restore_output does nothing).
int silence_output();
void restore_output(int saved);
