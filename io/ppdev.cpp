// The Linux parallel port through ppdev (/dev/parportN).
//
// The kernel's parport layer speaks in PC register values, not pin levels: whatever
// the low-level driver (parport_pc reads and writes the registers themselves; other
// drivers translate their own hardware into that form), PPRSTATUS gives the status
// register with bit 7 (BUSY) inverted against its pin, and PPRCONTROL/PPWCONTROL
// carry control bits 0, 1 and 3 inverted against their pins, bit 2 not. Those are
// exactly the registers the programs expect, so values pass through unchanged.
// PPRCONTROL only reports the four line bits; the view's upper nibble reads 0.
//
// Claiming the port (PPCLAIM) loads the state the parport core keeps for our newly
// registered device into the control register: 0x0C (Strobe, AutoFeed and Init high,
// SelectIn low), whatever the lines were before. The data register is not written.
// The register copies (backend.h) start from the values right after the claim; a
// program that cares what its control lines do at start-up writes them as its first operation
// (pavolt puts its all-off value there in one write). At the release the lines keep
// what the program last wrote: a target that varnprog let out of reset stays
// running, and the stepper lines hold their last state, as they would on a port the
// program simply stopped writing.
//
// Each port operation is a system call of about a microsecond: the register copies
// make the read-modify-write of a bit one ioctl, not two (while we hold the claim no
// other client writes the port).
#include <sys/ioctl.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

#include "backend.h"
#include "port_sys.h"

namespace io {
namespace {

enum class Stage { open, claim, setup };

// Why the port could not be had, and what the user can do about it, as one line.
std::string open_failure(const std::string& device, Stage stage, int err) {
  const char* reason = nullptr;
  const char* fix = nullptr;
  switch (err) {
    case ENOENT:
      reason = "no such device";
      fix = "load the parallel-port modules (sudo modprobe -a parport_pc ppdev), "
            "or set LPT1=sim for the simulated board";
      break;
    case EACCES:
    case EPERM:
      reason = "permission denied";
      fix = "add the user to group lp (sudo usermod -aG lp $USER, then log in again), "
            "or set LPT1=sim for the simulated board";
      break;
    case EBUSY:
      reason = "the port is busy";
      fix = "end the program that holds it, or set LPT1=sim for the simulated board";
      break;
    case ENXIO:
    case ENODEV:
      if (stage == Stage::claim) {
        // ppdev registers its device with the parport core at the first claim. That
        // fails when the node names no port (a stale node: parport_pc unloaded, a USB
        // adapter gone), or when a driver registered for the port alone holds it
        // (pps_parport, another program's exclusive claim).
        reason = "no parallel port behind the device, or a driver that takes the port for itself holds it";
        fix = "check that the port is listed in /proc/sys/dev/parport (sudo modprobe parport_pc), "
              "unload the other driver (pps_parport), or set LPT1=sim for the simulated board";
      } else {
        reason = "no parallel port behind the device";
        fix = "load the parallel-port modules (sudo modprobe -a parport_pc ppdev), name another port "
              "with LPT1=/dev/parportN, or set LPT1=sim for the simulated board";
      }
      break;
    case ENOTTY:
    case EINVAL:
      reason = "not a ppdev parallel-port device";
      fix = "name a port with LPT1=/dev/parportN, or set LPT1=sim for the simulated board";
      break;
    default:
      reason = std::strerror(err);
      fix = "check the port, or set LPT1=sim for the simulated board";
      break;
  }
  return "Can't open parallel port " + device + ": " + reason + " - " + fix;
}

class PpdevBackend final : public Backend {
 public:
  PpdevBackend(std::string device, int fd, uint8_t data, uint8_t control)
      : Backend(data, control), device_(std::move(device)), fd_(fd) {}

  PpdevBackend(const PpdevBackend&) = delete;
  PpdevBackend& operator=(const PpdevBackend&) = delete;

  // Lets other drivers have the port, its lines as last written. A port that stopped
  // answering refuses the release too; there is nothing more to do about it at exit.
  ~PpdevBackend() override {
    port_sys.ioctl(fd_, PPRELEASE, nullptr);
    port_sys.close(fd_);
  }

  bool ok() const override { return error_.empty(); }
  std::string error() const override { return error_; }

 private:
  uint8_t read_status() override {
    uint8_t status = 0;
    if (!call(PPRSTATUS, "PPRSTATUS", &status)) return 0;
    return status;
  }

  // Control holds only the four line bits here: the view starts from them.
  bool write_register(Register reg, uint8_t value) override {
    if (reg == REG_DATA) return call(PPWDATA, "PPWDATA", &value);
    return call(PPWCONTROL, "PPWCONTROL", &value);
  }

  // One ioctl. The first failure is the one reported; libio then ends the run, and
  // only the program's exit handlers try the port again, as far as it answers.
  bool call(unsigned long request, const char* name, void* arg) {
    int rc = port_sys.ioctl(fd_, request, arg);
    if (rc >= 0) return true;
    if (error_.empty())
      error_ = "Parallel port " + device_ + " stopped answering (" + name + ": " +
               std::strerror(-rc) + ") - check the cable and the port, or set LPT1=sim";
    return false;
  }

  std::string device_;
  int fd_;
  std::string error_;
};

// How often a program waiting for the port looks again: a person waiting sees no
// delay, and the looks cost nothing worth counting.
constexpr unsigned BUSY_LOOK_MS = 50;

// The kernel device that holds port `number`, as the parport core names it ("ppdev0"
// for any program through /dev/parport0, "lp0" for the printer driver); empty when
// none does, or the kernel doesn't say.
std::string holder_of(int number) {
  std::string path = "/proc/sys/dev/parport/parport" + std::to_string(number) + "/devices/active";
  char text[64];
  int n = port_sys.read_text(path.c_str(), text, sizeof text);
  if (n <= 0) return {};
  std::string name(text, static_cast<size_t>(n));
  name.erase(name.find_last_not_of(" \n") + 1);
  return name == "none" ? std::string() : name;
}

// ppdev's claim sleeps while another device holds the port, and it sleeps holding the
// driver's one lock, which every ppdev call of every program needs: the holder's next
// port operation would hang until the waiter gave up. So the waiting is done here,
// never inside the claim: look at the port's holder, and claim only once it has none.
// The claim follows the last look at once; a program that claims in the microseconds
// between can't be kept out. False when a signal ended the wait.
bool wait_until_free(const std::string& device, int number) {
  bool said = false;
  bool free = true;
  port_sys.hold_signals(1);
  for (std::string holder = holder_of(number); !holder.empty(); holder = holder_of(number)) {
    if (!said) {
      std::fflush(stdout);
      std::fprintf(stderr, "Parallel port %s is held by %s%s - waiting until it is free (Ctrl-C to give up)\n",
                   device.c_str(), holder.c_str(),
                   holder.rfind("ppdev", 0) == 0 ? " (another program)" : "");
      said = true;
    }
    if (port_sys.pause_ms(BUSY_LOOK_MS) == -EINTR) {
      free = false;
      break;
    }
  }
  port_sys.hold_signals(0);
  return free;
}

}  // namespace

std::unique_ptr<Backend> open_ppdev(const std::string& device, std::string& message) {
  int fd = port_sys.open(device.c_str(), O_RDWR);
  if (fd < 0) {
    message = open_failure(device, Stage::open, -fd);
    return nullptr;
  }
  // No PPEXCL: while the claim is held the parport core already keeps every other
  // client off the lines (ppdev gives the core no preemption callback, so another
  // client's claim waits for our release, and only the claimant sees the port's
  // interrupts). Exclusive registration would add nothing to that; it would only
  // make the open fail whenever another client, such as the printer driver lp, is
  // merely registered on the port, as it is by default on many systems.
  int number = port_sys.port_number(fd);
  int rc = number < 0 || wait_until_free(device, number) ? port_sys.ioctl(fd, PPCLAIM, nullptr) : -EINTR;
  if (rc < 0) {
    port_sys.close(fd);
    // A signal ended the wait (the program is stopping): nothing more to say.
    message = rc == -EINTR ? std::string() : open_failure(device, Stage::claim, -rc);
    return nullptr;
  }
  uint8_t data = 0;
  uint8_t control = 0;
  rc = port_sys.ioctl(fd, PPRDATA, &data);
  if (rc >= 0) rc = port_sys.ioctl(fd, PPRCONTROL, &control);
  if (rc < 0) {
    port_sys.ioctl(fd, PPRELEASE, nullptr);
    port_sys.close(fd);
    message = open_failure(device, Stage::setup, -rc);
    return nullptr;
  }
  return std::make_unique<PpdevBackend>(device, fd, data,
                                        static_cast<uint8_t>(control & CONTROL_LINES));
}

}  // namespace io
