// Placeholder until the ppdev backend lands.
#include "backend.h"

namespace io {
std::unique_ptr<Backend> open_ppdev(const std::string& device, std::string& message) {
  message = device + ": parallel port through ppdev not built yet - use LPT1=sim";
  return nullptr;
}
}  // namespace io
