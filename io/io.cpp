// The exported entry points of libio.so and the choice of backend.
//
// The port is opened at the first call, from the LPT1 setting:
//   unset            the first parallel port through ppdev, /dev/parport0
//   /dev/parportN    another ppdev port
//   direct[:BASE]    legacy registers through ioperm (x86, root), base 0x378 by default;
//                    BASE is hexadecimal, with or without 0x
//   sim[:k=v,...]    the simulated boards, in process
// The programs address the port at 0x378..0x37A whatever the backend; other
// addresses are ignored (reads give 0xFF).
#include "io.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "backend.h"
#include "platform.h"

namespace {

constexpr int PROGRAM_BASE = 0x378;

std::unique_ptr<io::Backend> backend;
bool open_tried = false;
std::string open_failure;  // why the port could not be opened, for every later call

// Set once a port failure is ending the program. The program's exit handlers may
// still drive lines (varnprog raises RESET so the target runs): those calls reach
// the port as far as it answers and never stop the program a second time, which
// would call exit from inside exit.
bool stopping = false;

[[noreturn]] void stop(const std::string& message) {
  stopping = true;
  std::fflush(stdout);
  std::fprintf(stderr, "\n%s\n", message.c_str());
  std::exit(2);
}

// Set when a signal ended the wait for a port that another program held. The program
// is stopping (both programs stop at every signal they catch, right after the port
// call that waited), and the port was never its own: nothing more reaches it, not
// even from the exit handlers, and nothing more is said.
bool gave_up = false;

// The open port, or null when it can't be opened. Opening is tried once: by
// IsDriverInstalled (a program that opens the port early, before it gives up root's
// rights) or by the first port operation, which then reports why it failed.
io::Backend* try_port() {
  if (!open_tried) {
    open_tried = true;
    backend = io::open_backend(std::getenv("LPT1"), open_failure);
    gave_up = !backend && open_failure.empty();
  }
  return backend.get();
}

// The open port; a port that can't be opened, or stopped answering, ends the program
// with one line, so no caller works on with a port that isn't there. While the
// program ends that way, the port as it is, or null.
io::Backend* port() {
  io::Backend* b = try_port();
  if (stopping || gave_up) return b;
  if (!b) stop(open_failure);
  if (!b->ok()) stop(b->error());
  return b;
}

bool register_of(short address, io::Register& reg) {
  int offset = static_cast<unsigned short>(address) - PROGRAM_BASE;
  if (offset < 0 || offset > 2) return false;
  reg = static_cast<io::Register>(offset);
  return true;
}

// A port that fails during the operation stops the program before the caller sees
// a value that never came from the port.
uint8_t read_byte(short address) {
  io::Register reg;
  if (!register_of(address, reg)) return 0xFF;
  io::Backend* p = port();
  if (!p) return 0xFF;
  uint8_t value = p->read(reg);
  if (!p->ok() && !stopping) stop(p->error());
  return value;
}

void write_byte(short address, uint8_t value) {
  io::Register reg;
  if (!register_of(address, reg)) return;
  io::Backend* p = port();
  if (!p) return;
  p->write(reg, value);
  if (!p->ok() && !stopping) stop(p->error());
}

// A port base as /proc/ioports and the cards' manuals print it: hexadecimal, with or
// without 0x. A bare number is never decimal or octal, so "378" is 0x378, the first
// port's base, not the disk controller's registers at 378 decimal (0x17A).
bool parse_base(const char* text, unsigned& base) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  if (!std::isxdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(text, &end, 16);
  if (*end || errno == ERANGE || value > 0xFFFFFFFFull) return false;
  base = static_cast<unsigned>(value);
  return true;
}

// Whether the LPT1 setting names the simulated boards.
bool names_sim(const char* setting) {
  std::string text = setting ? setting : "";
  return text == "sim" || text.rfind("sim:", 0) == 0;
}

uint8_t mask_of(char bit) { return static_cast<uint8_t>(1u << (static_cast<unsigned>(bit) & 7u)); }

}  // namespace

namespace io {

uint8_t Backend::read(Register reg) {
  if (reg == REG_STATUS) return read_status();
  return held(reg);
}

void Backend::write(Register reg, uint8_t value) {
  if (reg == REG_STATUS) return;
  if (reg == REG_CONTROL) value = static_cast<uint8_t>((control_ & ~CONTROL_LINES) | (value & CONTROL_LINES));
  if (!write_register(reg, value)) return;
  (reg == REG_CONTROL ? control_ : data_) = value;
}

std::unique_ptr<Backend> open_backend(const char* setting, std::string& message) {
  std::string text = setting ? setting : "";
  if (text.empty()) return open_ppdev("/dev/parport0", message);
  if (names_sim(setting)) {
    // The simulated board reads and writes the files its settings name (state, trace,
    // report) as the process opens the port: in a set-id program, with rights the user
    // doesn't have. It needs none, so such a program doesn't offer it.
    if (running_set_id()) {
      message = "LPT1=" + text + ": the simulated board needs no special rights - run a copy of the program "
                "that is not installed set-user-id";
      return nullptr;
    }
    return open_sim(text.size() > 4 ? text.substr(4) : "", message);
  }
  if (text == "direct" || text.rfind("direct:", 0) == 0) {
    unsigned base = PROGRAM_BASE;
    if (text != "direct" && !parse_base(text.c_str() + 7, base)) {
      message = "LPT1=" + text +
                ": not a port base address (give it in hexadecimal as /proc/ioports shows it: "
                "direct:378 or direct:0xD010)";
      return nullptr;
    }
    return open_direct(base, message);
  }
  if (text[0] == '/') return open_ppdev(text, message);
  message = "LPT1=" + text + ": unknown port (use /dev/parportN, direct, direct:0xBASE or sim)";
  return nullptr;
}

}  // namespace io

extern "C" {

void PORT_CALL PortOut(short port, char data) { write_byte(port, static_cast<uint8_t>(data)); }

void PORT_CALL PortWordOut(short port, short data) {
  write_byte(port, static_cast<uint8_t>(data & 0xFF));
  write_byte(static_cast<short>(port + 1), static_cast<uint8_t>((data >> 8) & 0xFF));
}

void PORT_CALL PortDWordOut(short port, int data) {
  for (int i = 0; i < 4; ++i)
    write_byte(static_cast<short>(port + i), static_cast<uint8_t>((static_cast<unsigned>(data) >> (8 * i)) & 0xFF));
}

char PORT_CALL PortIn(short port) { return static_cast<char>(read_byte(port)); }

short PORT_CALL PortWordIn(short port) {
  return static_cast<short>(read_byte(port) | (read_byte(static_cast<short>(port + 1)) << 8));
}

int PORT_CALL PortDWordIn(short port) {
  unsigned value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<unsigned>(read_byte(static_cast<short>(port + i))) << (8 * i);
  return static_cast<int>(value);
}

// The bit operations read the register, change one bit and write it back, so the
// other seven bits keep their values.
void PORT_CALL SetPortBit(short port, char bit) { write_byte(port, static_cast<uint8_t>(read_byte(port) | mask_of(bit))); }

void PORT_CALL ClrPortBit(short port, char bit) {
  write_byte(port, static_cast<uint8_t>(read_byte(port) & static_cast<uint8_t>(~mask_of(bit))));
}

void PORT_CALL NotPortBit(short port, char bit) { write_byte(port, static_cast<uint8_t>(read_byte(port) ^ mask_of(bit))); }

short PORT_CALL GetPortBit(short port, char bit) { return (read_byte(port) & mask_of(bit)) ? -1 : 0; }

short PORT_CALL IsDriverInstalled(void) {
  io::Backend* b = try_port();
  return b && b->ok() ? 1 : 0;
}

// Only a simulated board can check no timing. A real port is not opened just to say
// no: the answer may be asked before the program's first port operation, and a ppdev
// claim drives the control lines (pavolt's aux outputs) until the program writes them.
short PORT_CALL WaitsMayBeShort(void) {
  if (!open_tried && !names_sim(std::getenv("LPT1"))) return 0;
  io::Backend* b = try_port();
  return b && b->ok() && b->waits_may_be_short() ? 1 : 0;
}

}  // extern "C"
