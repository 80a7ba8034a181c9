// Operating-system services of the port library on Linux.
#include <sys/auxv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "platform.h"

namespace io {

std::string program_name() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

double monotonic_microseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
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
