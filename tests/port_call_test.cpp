// The programs' calls of the port library on 32-bit Windows reach entry points of
// either convention (__stdcall pops its arguments, __cdecl leaves them to the caller)
// with the right arguments and results, and leave the stack as it was: a call that
// unbalanced it would move it 8 bytes a time, so the loop below would run off it.
// Built by the 32-bit Windows build; CI runs it under wine.
#include <cstdio>

#include "port_call.h"

namespace {

short __stdcall read_stdcall(short port, char bit) { return static_cast<short>(port + bit); }
short __cdecl read_cdecl(short port, char bit) { return static_cast<short>(port - bit); }
int writes = 0;
void __stdcall write_stdcall(short port, char value) { writes += port == 0x378 && value == 5; }
void __cdecl write_cdecl(short port, char value) { writes += port == 0x37A && value == 9; }

}  // namespace

int main() {
  long sum = 0;
  const int rounds = 200000;
  for (int i = 0; i < rounds; ++i) {
    sum += call_port_read(reinterpret_cast<void*>(read_stdcall), 0x379, static_cast<char>(i & 7));
    sum += call_port_read(reinterpret_cast<void*>(read_cdecl), 0x379, static_cast<char>(i & 7));
    call_port_write(reinterpret_cast<void*>(write_stdcall), 0x378, 5);
    call_port_write(reinterpret_cast<void*>(write_cdecl), 0x37A, 9);
  }
  if (sum != 2L * 0x379 * rounds || writes != 2 * rounds) {
    std::printf("port calls: sum %ld, writes %d: wrong arguments or results\n", sum, writes);
    return 1;
  }
  std::printf("port calls: both conventions, stack kept\n");
  return 0;
}
