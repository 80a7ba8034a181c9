// Calls of the port library's entry points on Windows. 32-bit code has two calling
// conventions that differ in who pops the arguments (__stdcall: the callee, __cdecl:
// the caller), and nothing says which one the closed io.dll uses. The call below
// keeps the stack pointer in ESI, which both conventions preserve, and puts it back
// afterwards, so either is right. The 16-bit result is in AX in both.
#include "port_call.h"

#if defined(__i386__)

namespace {

int call_either_convention(void* entry, short port, char value) {
  int result;
  int first = port;
  int second = value;
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %[second]\n\t"
      "pushl %[first]\n\t"
      "call *%[entry]\n\t"
      "movl %%esi, %%esp"
      : "=a"(result)
      : [entry] "r"(entry), [first] "r"(first), [second] "r"(second)
      : "ecx", "edx", "esi", "memory", "cc");
  return result;
}

}  // namespace

void call_port_write(void* entry, short port, char value) { call_either_convention(entry, port, value); }

short call_port_read(void* entry, short port, char value) {
  return static_cast<short>(call_either_convention(entry, port, value));
}

#else  // 64-bit Windows: one convention

void call_port_write(void* entry, short port, char value) {
  reinterpret_cast<void (*)(short, char)>(entry)(port, value);
}

short call_port_read(void* entry, short port, char value) {
  return reinterpret_cast<short (*)(short, char)>(entry)(port, value);
}

#endif
