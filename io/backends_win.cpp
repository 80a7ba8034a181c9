// The real-port backends of io.dll on Windows: none. Windows keeps user programs
// away from the port's registers, so only a kernel driver can reach them; the io
// library that comes with such a driver takes the place of this one for the
// hardware. This io.dll drives the simulated boards only.
#include <cstdio>

#include "backend.h"

namespace io {
namespace {

constexpr const char* NO_HARDWARE =
    ": this io.dll drives only the simulated boards; use the io library of your port driver for the hardware"
    " (or LPT1=sim)";

}  // namespace

std::unique_ptr<Backend> open_ppdev(const std::string& device, std::string& message) {
  // With no LPT1 setting the library asks for the first port under its Linux name.
  message = (device == "/dev/parport0" ? std::string("The parallel port") : device) + NO_HARDWARE;
  return nullptr;
}

std::unique_ptr<Backend> open_direct(unsigned base, std::string& message) {
  char text[32];
  std::snprintf(text, sizeof text, "LPT1=direct:0x%X", base);
  message = text + std::string(NO_HARDWARE);
  return nullptr;
}

}  // namespace io
