// Calling convention and export of the port library's entry points.
//
// On 32-bit Windows the port-I/O library exports its functions in the Win32 API
// convention (__stdcall: the callee pops its arguments), so the programs' function
// pointers must say so too, or every call would leave the stack unbalanced. On
// 64-bit Windows and on Linux there is only one convention and the macro is empty.
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
