// Placeholder until the direct backend lands.
#include "backend.h"

namespace io {
std::unique_ptr<Backend> open_direct(unsigned base, std::string& message) {
  (void)base;
  message = "direct port access not built yet - use LPT1=sim";
  return nullptr;
}
}  // namespace io
