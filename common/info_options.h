// --help and --version, as every console tool answers them: as the only argument,
// before the port is bound, with no banner and no calibration, so they work on a
// machine without the hardware or the port library.
#pragma once
#include <cstring>

// True when the only argument was one of them and it has been answered.
inline bool answered_info_option(int argc, char** argv, void (*print_help)(), void (*print_version)()) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0) {
    print_help();
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    print_version();
    return true;
  }
  return false;
}
