// The settings the commands share.
#include "settings.h"

#include <cstdio>
#include <cstring>

ProgrammerSettings settings = {0xFF, 'v', 4, 'n', "", "", "", ""};

void reset_settings() {
  settings.fill_char = 0xFF;
  settings.verify_mode = 'v';
  settings.output_mode = 'n';
  settings.download_file_name[0] = '\0';
  settings.upload_file_name[0] = '\0';
  settings.log_file_name[0] = '\0';
  settings.mismatch_file_name[0] = '\0';
}
