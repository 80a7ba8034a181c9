// Binding of the port-I/O library, loaded by name at run time.
#include "port.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "interrupt.h"
#include "loader.h"
#include "privileges.h"

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

// The slot of a called entry point; a null one ends the program.
void* slot(PortEntry entry) {
  check_interrupt();
  void* fn = port_table.slots[entry];
  if (!fn) missing_entry(entry);
  return fn;
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

void open_port_then_drop_root(void (*at_open)()) {
  std::string reason;
  int plan = plan_root_drop(reason);
  if (plan == 0) return;
  if (plan > 0) {
    // An open port stays usable without root's rights or capabilities: a claimed ppdev
    // descriptor, and the I/O permission ioperm granted. A port that fails to open is
    // reported by the first port call, as in any run; a library without the entry opens
    // its port then, with the user's rights. Either way no file is touched as root.
    void* open_port = port_table.slots[ENTRY_IS_DRIVER_INSTALLED];
    bool opened = open_port && reinterpret_cast<PortProbeFn>(open_port)() == 1;
    bool dropped = drop_root_rights(reason);
    // The first write follows at once, made as the user (a simulated board's trace
    // starts with it); a failed drop must not leave the lines as the open set them either.
    if (opened && at_open) at_open();
    if (dropped) return;
  }
  std::fflush(stdout);
  if (plan == 2)
    std::fprintf(stderr, "Can't give up the capabilities the program holds (%s) - stopping before anything "
                         "runs with them\n", reason.c_str());
  else
    std::fprintf(stderr, "Can't give up root's rights for the invoking user's (%s) - stopping before anything "
                         "runs as root\n", reason.c_str());
  std::exit(2);
}

// After each call the flag is looked at again: a signal that came during the call (one
// that ended a wait for a port another program held) stops the program before it uses
// what the call returned.
void SetPortBit(uint16_t port, uint8_t bit) {
  call_port_write(slot(ENTRY_SET_PORT_BIT), static_cast<short>(port), static_cast<char>(bit));
  check_interrupt();
}

void ClrPortBit(uint16_t port, uint8_t bit) {
  call_port_write(slot(ENTRY_CLR_PORT_BIT), static_cast<short>(port), static_cast<char>(bit));
  check_interrupt();
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
  call_port_write(fn, static_cast<short>(port), static_cast<char>(value));
  check_interrupt();
  return true;
}

int16_t GetPortBit(uint16_t port, uint8_t bit) {
  int16_t value = call_port_read(slot(ENTRY_GET_PORT_BIT), static_cast<short>(port), static_cast<char>(bit));
  check_interrupt();
  return value;
}
