// The checks around the fuse commands: the '!' that lets a write lock this programmer
// out, the refusal of such a write without it, and the read-back after every write.
#pragma once
#include <cstdint>

#include "console.h"

// A fuse command's argument. A trailing '!' says the user means a write that locks
// this programmer out; `text` is the argument without it.
struct FuseArgument {
  char text[MAX_WORD_LENGTH + 1];
  bool forced;
};
FuseArgument fuse_argument(const char* arg);

// What one command writes to the identified part, in the order of fuse_bytes
// (extended, high, low); `written` flags the fuses the command writes.
struct FuseWrite {
  uint8_t value[3];
  bool written[3];
};

// 1 when the writes may go out. A value that programs a bit that takes the RESET pin
// away from serial programming gets one line naming it: without `forced` nothing is
// written (0, and the run ends with status 2); with it the line is a warning.
int fuse_write_allowed(const char* what, const FuseWrite& w, bool forced);

// Reads the fuses back and compares each written fuse in the bits the chip can change
// over the cable (all but SPIEN and the unused bits of the extended fuse): a difference
// gets one line and the run ends with status 2.
void check_fuse_write(const FuseWrite& w);

// How long each fuse write is given, unpolled, before the next instruction: 10 ms, or
// the identified part's longest fuse write where that is longer (16 ms on the ATmega162).
int fuse_write_wait_us();
