// The command words of varnprog and the pieces of its start-up around them.
#pragma once
#include <cstdint>

#include "run_state.h"  // end_program: the status given, or 2 when a command failed

// Runs the command that `word` starts with (keywords compared case-insensitively, in
// table order, first match wins), then releases the target if it was left in
// programming mode. Returns 1 for every word, known or not.
int dispatch_command(const char* word);

// Splits "x,y,z" (low, high, extended) into three bytes: 1, or 0 when the text is not
// exactly three fields of one to three hexadecimal digits, each at most ff. Nothing is
// stored on 0.
int parse_fuse_list(const char* text, uint8_t* x, uint8_t* y, uint8_t* z);
// The low 8 bits of the hexadecimal number at the start of `text` (an optional 0x
// accepted): 1, or 0 when it holds none, `value` then unchanged.
int parse_hex_byte(const char* text, uint8_t* value);

void print_help();
void print_banner();
// One line: the program's name and version.
void print_version();
// The device table: each row's name, signature and flash, page and EEPROM sizes in
// bytes, under a heading line.
void print_parts();
// Runs the words of a command file, each echoed and followed by "-": 1, or 0 when the
// file can't be opened (one line naming it).
int run_command_file(const char* name);
