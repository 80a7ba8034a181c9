// Identification, the default-fuse check and the board check.
#pragma once
#include <cstdint>

constexpr uint8_t FUSES_DEFAULT = 100;  // 'd'
constexpr uint8_t FUSES_DIFFER = 110;   // 'n'
constexpr uint8_t ENABLE_ECHO = 0x53;

extern int current_part;  // row of the last identified target, -1 unrecognised
extern int clock_mhz;

// Enters programming mode and identifies the target; a target that doesn't answer
// Programming Enable fails the run (one hint a run on standard error).
void identify_target();
uint8_t check_default_fuses();
void check_target();
void check_board();
// Prints the statistics report: the row of the target's signature, or -1.
int print_target_statistics();

struct AvrPart;
// The row of current_part, or null when no part is identified (or the index is
// outside the filled rows): callers never index the table with -1.
const AvrPart* identified_part();
