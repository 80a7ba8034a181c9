// Calls of the port library's entry points: one calling convention.
#include "port_call.h"

void call_port_write(void* entry, short port, char value) {
  reinterpret_cast<void (*)(short, char)>(entry)(port, value);
}

short call_port_read(void* entry, short port, char value) {
  return reinterpret_cast<short (*)(short, char)>(entry)(port, value);
}
