// Calling convention and export of the port library's entry points.
//
// On 32-bit Windows the port-I/O library exports its functions in the Win32 API
// convention (__stdcall: the callee pops its arguments), and ours is built so. The
// closed library's convention is written down nowhere: the programs call its entry
// points through call_port_write and call_port_read, which put the stack pointer back
// themselves, so a library that leaves its arguments on the stack (__cdecl) can't
// unbalance it. On 64-bit Windows and on Linux there is only one convention and the
// macro is empty.
#pragma once

#if defined(_WIN32) && defined(__i386__)
#define PORT_CALL __stdcall
#else
#define PORT_CALL
#endif

// The library's entry points: the only names io.dll exports (a DLL built without a
// dllexport exports every symbol it has). Plain default visibility elsewhere.
#if defined(_WIN32)
#define PORT_EXPORT __declspec(dllexport)
#else
#define PORT_EXPORT
#endif

// Calls an entry point that takes a port address and a byte (a bit number or a value):
// SetPortBit, ClrPortBit and PortOut, or GetPortBit with its 16-bit result.
void call_port_write(void* entry, short port, char value);
short call_port_read(void* entry, short port, char value);
