// pavolt start-up, until the utility lands: bind, calibrate, first port operations.
#include <cstdio>

#include "delay.h"
#include "port.h"

int main() {
  bind_port_library();
  std::printf("Pavolt Utility V%d.%d\n", 0, 97);
  use_scratch_countdown(true);
  calibrate_delay();
  for (uint8_t line = 0; line < 8; ++line) ClrPortBit(LPT_DATA, line);
  return 0;
}
