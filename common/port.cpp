// Binding of the port-I/O library, loaded by name at run time.
#include "port.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "interrupt.h"
#include "loader.h"

const char* const port_entry_names[PORT_ENTRY_COUNT] = {
    "PortOut",    "PortWordOut", "PortDWordOut", "PortIn",         "PortWordIn",
    "PortDWordIn", "SetPortBit", "ClrPortBit",   "NotPortBit",     "GetPortBit",
    "RightPortShift", "LeftPortShift", "IsDriverInstalled"};

PortTable port_table;

namespace {

std::string bind_error;  // why the library could not be loaded, for the first port call

[[noreturn]] void missing_entry(PortEntry entry) {
  std::fflush(stdout);
  if (!port_table.handle)
    std::fprintf(stderr, "\nPort library not loaded (%s) - can't call %s\n", bind_error.c_str(),
                 port_entry_names[entry]);
  else
    std::fprintf(stderr, "\nPort library has no %s - can't drive the port\n", port_entry_names[entry]);
  std::exit(2);
}

template <typename Fn>
Fn slot(PortEntry entry) {
  check_interrupt();
  void* fn = port_table.slots[entry];
  if (!fn) missing_entry(entry);
  return reinterpret_cast<Fn>(fn);
}

}  // namespace

int bind_port_library_named(const char* name) {
  std::string file = library_file_name(name);
  port_table.handle = load_library(file);
  if (!port_table.handle) {
    bind_error = file + ": " + last_loader_error();
    for (void*& s : port_table.slots) s = nullptr;
    port_table.short_waits_entry = nullptr;
    port_table.short_waits = -1;
    return 1;
  }
  for (int i = 0; i < PORT_ENTRY_COUNT; ++i) port_table.slots[i] = find_symbol(port_table.handle, port_entry_names[i]);
  port_table.short_waits_entry = find_symbol(port_table.handle, SHORT_WAITS_ENTRY);
  port_table.short_waits = -1;
  std::atexit(release_port_library);
  return 0;
}

int bind_port_library() { return bind_port_library_named("io"); }

void release_port_library() {
  if (!port_table.handle) return;
  void* handle = port_table.handle;
  port_table.handle = nullptr;
  for (void*& s : port_table.slots) s = nullptr;
  port_table.short_waits_entry = nullptr;
  port_table.short_waits = -1;
  std::fflush(stdout);
  unload_library(handle);
}

void SetPortBit(uint16_t port, uint8_t bit) {
  slot<PortBitFn>(ENTRY_SET_PORT_BIT)(static_cast<short>(port), static_cast<char>(bit));
}

void ClrPortBit(uint16_t port, uint8_t bit) {
  slot<PortBitFn>(ENTRY_CLR_PORT_BIT)(static_cast<short>(port), static_cast<char>(bit));
}

bool ask_short_waits() {
  void* fn = port_table.handle ? port_table.short_waits_entry : nullptr;
  port_table.short_waits = fn && reinterpret_cast<ShortWaitsFn>(fn)() == 1 ? 1 : 0;
  return port_table.short_waits == 1;
}

bool write_port_register(uint16_t port, uint8_t value) {
  check_interrupt();
  void* fn = port_table.slots[ENTRY_PORT_OUT];
  if (!fn) return false;
  reinterpret_cast<PortOutFn>(fn)(static_cast<short>(port), static_cast<char>(value));
  return true;
}

int16_t GetPortBit(uint16_t port, uint8_t bit) {
  return slot<PortGetBitFn>(ENTRY_GET_PORT_BIT)(static_cast<short>(port), static_cast<char>(bit));
}
