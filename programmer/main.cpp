// varnprog start-up, until the programmer lands: bind, first port operations, calibrate.
#include <cstdio>

#include "delay.h"
#include "port.h"

int main() {
  bind_port_library();
  std::printf("Varn Programming Utility V1.01\n");
  SetPortBit(LPT_DATA, 2);
  delay_us(150000);
  calibrate_delay();
  return 0;
}
