// The legacy PC parallel-port registers, reached with in/out instructions after
// ioperm() (x86, root or CAP_SYS_RAWIO), for machines without ppdev. The base is
// 0x378 for the first port on the main board, or wherever a plug-in card decodes
// (0xD010 and the like).
//
// The registers are the PC's own, so the status and control views need no
// translation. On an ISA-speed port an in instruction costs about a microsecond: the
// register copies (backend.h) make a bit change one out.
//
// An ECP port has an extended control register (ECR) 0x400 above its base, whose top
// three bits choose the mode. In a FIFO mode (parallel-port FIFO, ECP, test) the data
// lines follow the FIFO, not the data register, so nothing the program writes would
// reach them: for the run the port is put in standard mode, where the data register
// drives the lines, and at the end the old mode goes back, as other software left it.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "backend.h"
#include "port_sys.h"

namespace io {
namespace {

std::string hex_base(unsigned base) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", base);
  return text;
}

// Where a parallel port's three registers can sit: the ISA ports at 0x278, 0x378 and
// 0x3BC, plug-in cards wherever their decoder puts them (0xD010 and the like), always
// on a multiple of 4 and above the main board's own devices (DMA, interrupt and timer
// chips, the keyboard controller) below 0x100.
bool parallel_port_base(unsigned base) {
  return base >= 0x100 && base % 4 == 0 && base <= 0x10000u - PORT_REGISTER_COUNT;
}

constexpr const char* USE_PPDEV =
    "use ppdev (leave LPT1 unset, or LPT1=/dev/parportN), or set LPT1=sim for the simulated board";

std::string open_failure(unsigned base, int err, bool root) {
  const char* reason = nullptr;
  const char* fix = USE_PPDEV;
  switch (err) {
    case EPERM:
    case EACCES:
      if (root) {
        // Refused to root: a kernel in lockdown (as Secure Boot sets it up) forbids
        // ioperm to everyone, and a container's root usually lacks CAP_SYS_RAWIO (Docker
        // drops it by default); ppdev is not affected by either.
        reason = "the kernel refuses direct I/O port access even to root (lockdown, as under Secure Boot, "
                 "or a container without CAP_SYS_RAWIO)";
      } else {
        reason = "I/O port access refused";
        fix = "run as root, or use ppdev (leave LPT1 unset, or LPT1=/dev/parportN), "
              "or set LPT1=sim for the simulated board";
      }
      break;
    case ENOSYS:
      // Not an x86 machine, or a kernel (container, sandbox) that offers no ioperm.
      reason = "this system offers no direct I/O port access (x86 only, not in every container)";
      break;
    default:
      reason = std::strerror(err);
      break;
  }
  return "Can't reach the parallel port registers at " + hex_base(base) + ": " + reason +
         " - " + fix;
}

// The ECR, 0x400 above the base: its bits 7..5 are the mode, bits 4..2 settings kept
// as they are, bits 1..0 the FIFO's state (full, empty), read only.
constexpr unsigned ECR_OFFSET = 0x402;
constexpr uint8_t ECR_SETTINGS = 0x1C;
constexpr uint8_t ECR_FIFO = 0x03;
constexpr uint8_t ECR_FIFO_EMPTY = 0x01;
constexpr uint8_t ECR_STANDARD_MODE = 0x00;
// Control bit 4 enables the ACK interrupt and drives no pin: the one bit that can be
// flipped to see whether the ECR's address only mirrors the control register.
constexpr uint8_t CONTROL_IRQ_ENABLE = 0x10;

// Only the main board's ports have their ECR 0x400 above the base; on a plug-in card
// that address belongs to whatever else the card or the machine put there.
bool has_ecr_address(unsigned base) { return base == 0x378 || base == 0x278 || base == 0x3BC; }

// Puts an ECP port in standard mode and returns its old ECR, or -1 where there is no
// ECR. Nothing is written at the ECR's address until it has shown itself: its FIFO
// reads empty and not full (an empty bus reads both bits set), it does not follow a
// flip of the control register (a port that decodes only ten address lines answers
// there with its control register), and the mode written reads back.
int enter_standard_mode(uint16_t base, uint8_t control) {
  auto ecr = static_cast<uint16_t>(base + ECR_OFFSET);
  auto control_port = static_cast<uint16_t>(base + REG_CONTROL);
  if (!has_ecr_address(base) || port_sys.ioperm(ecr, 1, 1) < 0) return -1;
  uint8_t seen = port_sys.inb(ecr);
  bool found = (seen & ECR_FIFO) == ECR_FIFO_EMPTY;
  auto old = static_cast<uint8_t>(seen & ~ECR_FIFO);
  if (found) {
    port_sys.outb(control_port, static_cast<uint8_t>(control ^ CONTROL_IRQ_ENABLE));
    found = ((port_sys.inb(ecr) ^ seen) & CONTROL_IRQ_ENABLE) == 0;
    port_sys.outb(control_port, control);
  }
  if (found) {
    auto standard = static_cast<uint8_t>((old & ECR_SETTINGS) | ECR_STANDARD_MODE);
    port_sys.outb(ecr, standard);
    found = port_sys.inb(ecr) == (standard | ECR_FIFO_EMPTY);
    if (!found) port_sys.outb(ecr, old);
  }
  if (!found) port_sys.ioperm(ecr, 1, 0);
  return found ? old : -1;
}

class DirectBackend final : public Backend {
 public:
  DirectBackend(uint16_t base, uint8_t data, uint8_t control, int old_ecr)
      : Backend(data, control), base_(base), old_ecr_(old_ecr) {}

  DirectBackend(const DirectBackend&) = delete;
  DirectBackend& operator=(const DirectBackend&) = delete;

  // The lines keep what the program last wrote, and the data lines keep driving:
  // putting a reverse direction back would let RESET and the stepper lines float. An
  // ECP port gets its old mode back; a FIFO mode then takes the data lines again.
  ~DirectBackend() override {
    if (old_ecr_ >= 0) {
      auto ecr = static_cast<uint16_t>(base_ + ECR_OFFSET);
      port_sys.outb(ecr, static_cast<uint8_t>(old_ecr_));
      port_sys.ioperm(ecr, 1, 0);
    }
    port_sys.ioperm(base_, PORT_REGISTER_COUNT, 0);
  }

 private:
  uint8_t read_status() override { return port_sys.inb(static_cast<uint16_t>(base_ + REG_STATUS)); }

  bool write_register(Register reg, uint8_t value) override {
    port_sys.outb(static_cast<uint16_t>(base_ + reg), value);
    return true;
  }

  uint16_t base_;
  int old_ecr_;  // -1: no ECR
};

}  // namespace

std::unique_ptr<Backend> open_direct(unsigned base, std::string& message) {
  if (!parallel_port_base(base)) {
    message = "LPT1=direct:" + hex_base(base) +
              ": not a parallel port's base address (0x100 or above, a multiple of 4; "
              "the first port's is 0x378) - set LPT1=direct:378, or LPT1=sim";
    return nullptr;
  }
  int rc = port_sys.ioperm(base, PORT_REGISTER_COUNT, 1);
  if (rc < 0) {
    message = open_failure(base, -rc, port_sys.euid() == 0);
    return nullptr;
  }
  auto port = static_cast<uint16_t>(base);
  auto control_port = static_cast<uint16_t>(base + REG_CONTROL);
  uint8_t control = port_sys.inb(control_port);
  int old_ecr = enter_standard_mode(port, control);
  // A bidirectional port left in reverse would not drive the data lines at all, and
  // while it is reversed the data register reads the outside pins, not its latch: the
  // lines are made outputs first, and only then is the latch read, so the first bit
  // change writes back what the latch holds, not what the other side drove.
  if (control & CONTROL_REVERSE) {
    control = static_cast<uint8_t>(control & ~CONTROL_REVERSE);
    port_sys.outb(control_port, control);
  }
  uint8_t data = port_sys.inb(port);
  return std::make_unique<DirectBackend>(port, data, control, old_ecr);
}

}  // namespace io
