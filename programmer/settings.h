// The settings shared by the programmer's commands.
#pragma once
#include <cstdint>

#include "run_state.h"  // note_failure, run_failed

constexpr int FILE_NAME_CAPACITY = 250;

struct ProgrammerSettings {
  uint8_t fill_char;
  char verify_mode;
  int32_t hex_extended_record_type;
  char output_mode;
  char download_file_name[FILE_NAME_CAPACITY];
  char upload_file_name[FILE_NAME_CAPACITY];
  char log_file_name[FILE_NAME_CAPACITY];
  char mismatch_file_name[FILE_NAME_CAPACITY];
};

extern ProgrammerSettings settings;

void reset_settings();
// Records that a command of this run met a failure, for a file the system refused:
// after the command's own message, one line on standard error with the name as given
// and the system's reason for `error` (an errno value). The run then ends with status 2.
void note_file_failure(const char* name, int error);
