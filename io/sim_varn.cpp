// Placeholder until the simulated varn board lands.
#include "sim.h"

namespace io::sim {
std::unique_ptr<Board> make_varn_board(Options& options, Trace* trace, std::string& message) {
  (void)options;
  (void)trace;
  message = "LPT1=sim: the varn board is not built yet";
  return nullptr;
}
}  // namespace io::sim
