// links: stepper_core
// The stepper utility's configuration file, and the limits derived from it.
#include <cstdint>
#include <cstdio>

#include "settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!file) return 0;
  std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
  (void)quiet;
  store_default_settings();
  read_config(file, "pavoltconfig.txt");
  std::fclose(file);
  derive_delay_limits();
  print_settings();
  return 0;
}
