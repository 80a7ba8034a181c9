// The settings shared by the programmer's commands.
#pragma once
#include <cstdint>

#include "run_state.h"  // report_failure, run_failed

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
