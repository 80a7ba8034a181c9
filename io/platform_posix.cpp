// Operating-system services of the port library on Linux.
#include <sys/auxv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform.h"
#include "tsc.h"

namespace io {

std::string program_name() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// The time-stamp counter where the kernel keeps CLOCK_MONOTONIC by it, read ordered
// (never ahead of the program's last read of its own clock) and at the least rate it
// was measured to run: an interval the board times is never shorter than the one the
// program's clock measured, and a port write costs a third less than with the vDSO.
double monotonic_microseconds() {
  static const double us_per_count = tsc_clock().usable ? 1 / tsc_clock().low_per_us : 0;
  if (us_per_count > 0) return static_cast<double>(tsc_read_ordered()) * us_per_count;
  return static_cast<double>(monotonic_ns()) / 1e3;
}

bool rename_over(const std::string& from, const std::string& to, std::string& message) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  message = "can't replace " + to + ": " + std::strerror(errno);
  std::remove(from.c_str());
  return false;
}

std::string temporary_name(const std::string& path) {
  return path + ".tmp" + std::to_string(static_cast<long>(getpid()));
}

bool running_set_id() { return getauxval(AT_SECURE) != 0; }

}  // namespace io
