// Placeholder until the download and upload flows land.
#include <cstdio>

#include "flows.h"

namespace {
void not_built(const char* name) { std::printf("Not built yet: %s\n", name); }
}  // namespace

void download_flash(const char* name) { not_built(name); }
void download_all(const char* name) { not_built(name); }
void download_eeprom(const char* name) { not_built(name); }
void load_only(const char* name) { not_built(name); }
void upload_eeprom(const char* name) { not_built(name); }
void upload_flash(const char* name) { not_built(name); }
