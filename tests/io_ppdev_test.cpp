// The ppdev backend against a fake kernel that behaves like ppdev over parport_pc:
// register values with the PC's inversions, claim before use, an exclusive
// registration refused while another client (lp) is registered on the port, the
// direction bit of PPWCONTROL reversing the data lines.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "backend.h"
#include "io.h"
#include "port_sys.h"

namespace {

constexpr int FAKE_FD = 7;

struct FakePpdev {
  // Pin levels, 1 = high.
  uint8_t data_pins = 0;
  uint8_t control_pins = 0;
  uint8_t status_pins = 0;
  bool reversed = false;
  bool exclusive = false;
  bool claimed = false;
  bool lp_registered = true;  // the printer driver, loaded by default on many systems
  int open_fds = 0;
  int open_errno = 0;
  std::map<unsigned long, int> fail;  // request -> errno
  std::vector<std::string> log;
  bool echo = false;  // also print each call on stderr (seen from a death test's child)
  int number = 0;     // the port the node stands for; negative: not a ppdev node
  // The port's holder as /proc shows it, for the next `held_looks` looks; then none.
  std::string holder = "ppdev0";
  int held_looks = 0;
  int signal_at_pause = -1;  // the pause (from 0) that a signal ends
  int pauses = 0;

  static std::string name(unsigned long request) {
    // Never destroyed: a port closed by an exit handler still logs through it.
    static const auto& names = *new std::map<unsigned long, std::string>{
        {PPEXCL, "PPEXCL"},         {PPCLAIM, "PPCLAIM"},       {PPRELEASE, "PPRELEASE"},
        {PPRDATA, "PPRDATA"},       {PPWDATA, "PPWDATA"},       {PPRSTATUS, "PPRSTATUS"},
        {PPRCONTROL, "PPRCONTROL"}, {PPWCONTROL, "PPWCONTROL"}, {PPFCONTROL, "PPFCONTROL"},
        {PPDATADIR, "PPDATADIR"}};
    auto it = names.find(request);
    return it == names.end() ? "ioctl?" : it->second;
  }

  uint8_t control_register() const {
    return static_cast<uint8_t>((control_pins ^ io::CONTROL_INVERTED) & 0x0F);
  }

  int ioctl(int fd, unsigned long request, void* arg) {
    std::string entry = name(request);
    if (request == PPWDATA || request == PPWCONTROL) {
      char hex[8];
      std::snprintf(hex, sizeof hex, " %02x", *static_cast<uint8_t*>(arg));
      entry += hex;
    }
    log.push_back(entry);
    if (echo) std::fprintf(stderr, "fake: %s\n", entry.c_str());
    if (fd != FAKE_FD || open_fds == 0) return -EBADF;
    if (auto it = fail.find(request); it != fail.end()) return -it->second;
    switch (request) {
      case PPEXCL:
        if (claimed) return -EINVAL;  // too late: the device is registered
        exclusive = true;
        return 0;
      case PPCLAIM:
        if (exclusive && lp_registered) return -ENXIO;
        claimed = true;
        // ppdev's saved state for a fresh device: nInit high, SelectIn low, forward.
        control_pins = static_cast<uint8_t>(0x0C ^ io::CONTROL_INVERTED);
        reversed = false;
        return 0;
      case PPRELEASE:
        if (!claimed) return -EINVAL;
        claimed = false;
        return 0;
      default:
        break;
    }
    if (!claimed) return -EINVAL;  // every port operation needs the claim
    auto* byte = static_cast<uint8_t*>(arg);
    switch (request) {
      case PPRDATA: *byte = data_pins; return 0;
      case PPWDATA: data_pins = *byte; return 0;
      case PPRSTATUS:
        *byte = static_cast<uint8_t>((status_pins & 0xF8) ^ io::STATUS_INVERTED);
        return 0;
      case PPRCONTROL: *byte = control_register(); return 0;
      case PPWCONTROL:
        if (*byte & io::CONTROL_REVERSE) reversed = true;
        control_pins = static_cast<uint8_t>((*byte ^ io::CONTROL_INVERTED) & 0x0F);
        return 0;
      default: return -ENOTTY;
    }
  }
};

FakePpdev* fake = nullptr;

int fake_open(const char* path, int) {
  fake->log.push_back(std::string("open ") + path);
  if (fake->open_errno) return -fake->open_errno;
  ++fake->open_fds;
  return FAKE_FD;
}
int fake_ioctl(int fd, unsigned long request, void* arg) { return fake->ioctl(fd, request, arg); }
int fake_close(int fd) {
  fake->log.push_back("close");
  if (fake->echo) std::fprintf(stderr, "fake: close\n");
  if (fd != FAKE_FD || fake->open_fds == 0) return -EBADF;
  --fake->open_fds;
  return 0;
}
int fake_port_number(int fd) { return fd == FAKE_FD && fake->number >= 0 ? fake->number : -ENOTTY; }
int fake_read_text(const char* path, char* text, unsigned size) {
  fake->log.push_back(std::string("look ") + path);
  std::string shown = (fake->held_looks > 0 && fake->held_looks-- ? fake->holder : "none") + "\n";
  shown.copy(text, size);
  return static_cast<int>(std::min<size_t>(shown.size(), size));
}
void fake_hold_signals(int on) { fake->log.push_back(on ? "hold signals" : "let signals"); }
int fake_pause_ms(unsigned) {
  fake->log.push_back("pause");
  return fake->pauses++ == fake->signal_at_pause ? -EINTR : 0;
}
int no_ioperm(unsigned long, unsigned long, int) { return -ENOSYS; }
uint8_t no_inb(uint16_t) { ADD_FAILURE() << "ppdev backend used inb"; return 0; }
void no_outb(uint16_t, uint8_t) { ADD_FAILURE() << "ppdev backend used outb"; }
unsigned no_euid() { return 1000; }

class Ppdev : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = &kernel;
    io::port_sys = io::PortSys{fake_open, fake_ioctl,       fake_close,     no_ioperm,         no_inb,       no_outb,
                               no_euid,   fake_port_number, fake_read_text, fake_hold_signals, fake_pause_ms};
  }
  void TearDown() override {
    io::port_sys = io::posix_port_sys();
    fake = nullptr;
  }
  std::unique_ptr<io::Backend> open(const std::string& device = "/dev/parport0") {
    message.clear();
    auto port = io::open_ppdev(device, message);
    kernel.log.clear();
    return port;
  }
  // What the library's SetPortBit does: read the register view, change one bit, write.
  static void set_bit(io::Backend& port, io::Register reg, int bit) {
    port.write(reg, static_cast<uint8_t>(port.read(reg) | (1 << bit)));
  }
  static void clear_bit(io::Backend& port, io::Register reg, int bit) {
    port.write(reg, static_cast<uint8_t>(port.read(reg) & ~(1 << bit)));
  }

  FakePpdev kernel;
  std::string message;
};

// The claim alone keeps other clients off the lines while the program runs; it
// does not ask for an exclusive registration, which lp being registered would refuse.
TEST_F(Ppdev, ClaimsBesideARegisteredPrinterDriverAndTakesThePortAsClaimed) {
  kernel.data_pins = 0xA5;
  std::string msg;
  auto port = io::open_ppdev("/dev/parport0", msg);
  ASSERT_TRUE(port) << msg;
  EXPECT_EQ(kernel.log, (std::vector<std::string>{"open /dev/parport0", "hold signals",
                                                  "look /proc/sys/dev/parport/parport0/devices/active",
                                                  "let signals", "PPCLAIM", "PPRDATA", "PPRCONTROL"}));
  EXPECT_TRUE(port->ok());
  kernel.log.clear();
  EXPECT_EQ(port->read(io::REG_DATA), 0xA5);
  EXPECT_EQ(port->read(io::REG_CONTROL), 0x0C);
  EXPECT_TRUE(kernel.log.empty()) << "data and control come from the shadow copies";
}

TEST_F(Ppdev, EachBitChangeIsOneWriteAndKeepsTheOtherBits) {
  kernel.data_pins = 0x5A;
  auto port = open();
  ASSERT_TRUE(port) << message;
  set_bit(*port, io::REG_DATA, 0);
  clear_bit(*port, io::REG_DATA, 6);
  set_bit(*port, io::REG_CONTROL, 1);
  EXPECT_EQ(kernel.log, (std::vector<std::string>{"PPWDATA 5b", "PPWDATA 1b", "PPWCONTROL 0e"}));
  EXPECT_EQ(kernel.data_pins, 0x1B);
  EXPECT_EQ(port->read(io::REG_DATA), 0x1B);
}

TEST_F(Ppdev, StatusAndControlReadAsThePcRegistersAndStrayBitsNeverReverse) {
  auto port = open();
  ASSERT_TRUE(port) << message;
  // BUSY (pin 11) low and ACK (pin 10) high: bit 7 reads 1 because the port inverts it.
  for (auto [pins, reads] : {std::pair{0x40, 0xC0}, {0x80, 0x00}, {0x38, 0xB8}}) {
    kernel.status_pins = static_cast<uint8_t>(pins);
    EXPECT_EQ(port->read(io::REG_STATUS) & 0xF8, reads) << pins;
  }
  // Register bit 0 set pulls Strobe (pin 1) low; the other three lines follow
  // their own polarity: AutoFeed and SelectIn high, Init low.
  port->write(io::REG_CONTROL, 0x01);
  EXPECT_EQ(kernel.control_pins, 0x0A);
  port->write(io::REG_CONTROL, 0x04);
  EXPECT_EQ(kernel.control_pins, 0x0F);
  EXPECT_EQ(port->read(io::REG_CONTROL), 0x04);
  // Bits above the four lines never reach the direction bit.
  port->write(io::REG_CONTROL, 0xFF);
  EXPECT_FALSE(kernel.reversed);
  EXPECT_EQ(kernel.control_pins, 0x04);  // lines 0..3 all set in the register
  EXPECT_EQ(port->read(io::REG_CONTROL), 0x0F);
}

// The lines keep what the program last wrote: RESET stays as varnprog left it, the
// stepper lines hold their state.
TEST_F(Ppdev, CloseKeepsTheLinesAsLastWrittenAndReleases) {
  kernel.data_pins = 0x3C;
  {
    auto port = open("/dev/parport1");
    ASSERT_TRUE(port) << message;
    port->write(io::REG_DATA, 0xFB);
    port->write(io::REG_CONTROL, 0x03);
    kernel.log.clear();
  }
  EXPECT_EQ(kernel.log, (std::vector<std::string>{"PPRELEASE", "close"}));
  EXPECT_EQ(kernel.data_pins, 0xFB);
  EXPECT_EQ(kernel.control_register(), 0x03);
  EXPECT_FALSE(kernel.claimed);
  EXPECT_EQ(kernel.open_fds, 0);
}

struct OpenFailure {
  unsigned long request;  // 0: open itself fails
  int err;
  std::vector<std::string> words;  // what the one line must name
};

class PpdevOpenFailure : public Ppdev, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(PpdevOpenFailure, GivesOneLineWithDeviceReasonAndFix) {
  const OpenFailure& failure = GetParam();
  if (failure.request == 0) {
    kernel.open_errno = failure.err;
  } else {
    kernel.fail[failure.request] = failure.err;
  }
  std::string msg;
  auto port = io::open_ppdev("/dev/parport2", msg);
  EXPECT_FALSE(port);
  EXPECT_NE(msg.find("/dev/parport2"), std::string::npos) << msg;
  EXPECT_NE(msg.find("LPT1=sim"), std::string::npos) << msg;
  for (const auto& word : failure.words) EXPECT_NE(msg.find(word), std::string::npos) << msg;
  EXPECT_EQ(msg.find('\n'), std::string::npos) << msg;
  EXPECT_EQ(kernel.open_fds, 0) << "a failed open must not keep the device open";
  EXPECT_FALSE(kernel.claimed) << "a failed open must not keep the port claimed";
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, PpdevOpenFailure,
    ::testing::Values(OpenFailure{0, ENOENT, {"no such device", "modprobe -a parport_pc ppdev"}},
                      OpenFailure{0, EACCES, {"permission denied", "group lp"}},
                      OpenFailure{0, EBUSY, {"busy"}},
                      OpenFailure{0, ENXIO, {"no parallel port", "parport_pc"}},
                      OpenFailure{PPCLAIM, ENOTTY, {"not a ppdev"}},
                      OpenFailure{PPCLAIM, ENXIO, {"no parallel port", "/proc/sys/dev/parport", "pps_parport"}},
                      OpenFailure{PPCLAIM, EBUSY, {"busy"}},
                      OpenFailure{PPRCONTROL, EIO, {"Input/output error"}}),
    [](const ::testing::TestParamInfo<OpenFailure>& failure) {  // open_EACCES, PPCLAIM_ENXIO ...
      const unsigned long request = failure.param.request;
      return std::string(request == 0 ? "open" : request == PPCLAIM ? "PPCLAIM" : "PPRCONTROL") + "_" +
             strerrorname_np(failure.param.err);
    });

// ppdev's claim would sleep while another device holds the port, holding a lock every
// ppdev call needs, so the holder's next operation would hang: the backend looks at
// the holder first, says once whom it waits for, and claims only a free port. A
// signal ends the wait without a claim and without a message (the program stops).
TEST_F(Ppdev, APortHeldByAnotherDeviceIsWaitedForOutsideTheClaim) {
  struct Case {
    int number;
    const char* holder;
    int held_looks;
    int signal_at_pause;
    std::string notice;  // empty: none
    bool opens;
  };
  const std::string look = "look /proc/sys/dev/parport/parport";
  for (const Case& c :
       {Case{0, "ppdev0", 3, -1, "Parallel port /dev/parport0 is held by ppdev0 (another program) - waiting", true},
        Case{2, "lp2", 1000, 1, "Parallel port /dev/parport0 is held by lp2 - waiting", false},
        Case{-1, "ppdev0", 1000, 0, "", true}}) {
    kernel = FakePpdev{};
    kernel.number = c.number;
    kernel.holder = c.holder;
    kernel.held_looks = c.held_looks;
    kernel.signal_at_pause = c.signal_at_pause;
    testing::internal::CaptureStderr();
    std::string msg;
    auto port = io::open_ppdev("/dev/parport0", msg);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.empty(), c.notice.empty()) << c.holder;
    EXPECT_EQ(err.find(c.notice), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.notice.empty() ? 0 : 1) << "once: " << err;
    EXPECT_EQ(static_cast<bool>(port), c.opens) << c.holder << ": " << msg;
    EXPECT_TRUE(msg.empty()) << msg;
    // Every look that found the port held was followed by a pause, the claim (if any)
    // comes only after the signals are let through again, and a failed wait closes.
    const auto at = [&](const std::string& entry) { return std::find(kernel.log.begin(), kernel.log.end(), entry); };
    const auto looks = std::count_if(kernel.log.begin(), kernel.log.end(),
                                     [&](const std::string& e) { return e.rfind(look, 0) == 0; });
    const auto pauses = std::count(kernel.log.begin(), kernel.log.end(), "pause");
    EXPECT_EQ(pauses, c.number < 0 ? 0 : c.opens ? c.held_looks : c.signal_at_pause + 1) << c.holder;
    EXPECT_EQ(looks, c.number < 0 ? 0 : pauses + c.opens) << c.holder;
    if (c.number >= 0) {
      EXPECT_EQ(*std::next(at("let signals")), c.opens ? "PPCLAIM" : "close") << c.holder;
      EXPECT_EQ(at(look + std::to_string(c.number) + "/devices/active"), std::next(at("hold signals")));
    }
    EXPECT_EQ(at("PPCLAIM") != kernel.log.end(), c.opens) << c.holder;
    port.reset();
    EXPECT_EQ(kernel.open_fds, 0);
  }
}

TEST_F(Ppdev, APortThatStopsAnsweringKeepsItsFirstReason) {
  kernel.data_pins = 0x11;
  auto port = open();
  ASSERT_TRUE(port) << message;
  kernel.fail[PPRSTATUS] = ENODEV;
  kernel.fail[PPWDATA] = ENODEV;
  port->read(io::REG_STATUS);
  EXPECT_FALSE(port->ok());
  std::string why = port->error();
  EXPECT_NE(why.find("/dev/parport0"), std::string::npos) << why;
  EXPECT_NE(why.find("PPRSTATUS"), std::string::npos) << why;
  EXPECT_NE(why.find("No such device"), std::string::npos) << why;
  EXPECT_EQ(why.find('\n'), std::string::npos) << why;

  // Exit handlers may still try the port: a write it refuses does not show, one it
  // takes does, and the first reason stays.
  port->write(io::REG_DATA, 0x22);
  EXPECT_EQ(port->read(io::REG_DATA), 0x11) << "a write that never happened must not show";
  kernel.fail.erase(PPWDATA);
  port->write(io::REG_DATA, 0x15);
  EXPECT_EQ(kernel.data_pins, 0x15);
  EXPECT_EQ(port->read(io::REG_DATA), 0x15);
  EXPECT_EQ(port->error(), why) << "the first reason stays";
  port.reset();
  EXPECT_EQ(kernel.open_fds, 0);
}

TEST_F(Ppdev, AFailedWriteLeavesTheShadowAsThePortIs) {
  kernel.data_pins = 0x80;
  auto port = open();
  ASSERT_TRUE(port) << message;
  kernel.fail[PPWCONTROL] = EIO;
  port->write(io::REG_CONTROL, 0x01);
  EXPECT_FALSE(port->ok());
  EXPECT_EQ(port->read(io::REG_CONTROL), 0x0C);
  EXPECT_NE(port->error().find("PPWCONTROL"), std::string::npos);
}


TEST_F(Ppdev, TheLibraryReachesTheNamedDeviceThroughThisBackend) {
  for (const char* setting : {static_cast<const char*>(nullptr), "", "/dev/parport3"}) {
    kernel.log.clear();
    std::string msg;
    auto port = io::open_backend(setting, msg);
    ASSERT_TRUE(port) << msg;
    std::string expected = setting && *setting ? setting : "/dev/parport0";
    EXPECT_EQ(kernel.log.front(), "open " + expected);
  }
}


// The exported bit operations over a port that goes away mid-run (a USB adapter
// pulled out): the program ends at once with one line and status 2. Its exit
// handlers may still drive lines: those calls go to the port as far as it answers,
// without a second message or a second exit, and the port is released at the end.
// Each death runs in a fresh process (threadsafe style re-executes this test alone):
// a forked child would inherit the port an earlier test opened in this process. Asked
// before the first port operation whether waits may be short, the library says no
// without opening the real port (its claim would drive the control lines).
TEST_F(Ppdev, APortLostMidRunEndsTheProgramWithOneLineAndStatus2) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  kernel.data_pins = 0x38;
  kernel.echo = true;
  setenv("LPT1", "/dev/parport5", 1);
  EXPECT_EXIT(
      {
        std::atexit([] { SetPortBit(0x378, 2); });
        std::fprintf(stderr, "short waits %d after %zu calls\n", WaitsMayBeShort(), fake->log.size());
        SetPortBit(0x378, 0);
        kernel.fail[PPWDATA] = ENODEV;
        kernel.fail[PPRSTATUS] = ENODEV;
        kernel.fail[PPWCONTROL] = ENODEV;
        kernel.fail[PPRELEASE] = ENODEV;
        SetPortBit(0x378, 1);
        std::fprintf(stderr, "went on\n");
        std::exit(0);
      },
      testing::ExitedWithCode(2),
      "short waits 0 after 0 calls\nfake: PPCLAIM\n.*fake: PPWDATA 3b\n\nParallel port /dev/parport5 stopped answering \\(PPWDATA: No such device\\)"
      " - check the cable and the port, or set LPT1=sim\n"
      "fake: PPWDATA 3d\nfake: PPRELEASE\nfake: close\n$");

  // Only the status line fails: the value read is never handed to the caller, and
  // the exit handler, on a port that still takes writes, raises RESET (bit 2).
  EXPECT_EXIT(
      {
        std::atexit([] { SetPortBit(0x378, 2); });
        ClrPortBit(0x378, 2);
        kernel.fail[PPRSTATUS] = EIO;
        short bit = GetPortBit(0x379, 7);
        std::fprintf(stderr, "read %d\n", bit);
        std::exit(0);
      },
      testing::ExitedWithCode(2),
      "fake: PPWDATA 38\nfake: PPRSTATUS\n\n[^\n]*stopped answering \\(PPRSTATUS: Input/output error\\)[^\n]*\n"
      "fake: PPWDATA 3c\nfake: PPRELEASE\nfake: close\n$");
  unsetenv("LPT1");
}


// Through the library: the call that waited returns without touching the port (the
// program's handler for the signal stops it there), and its exit handlers reach
// nothing: the port is the other program's.
TEST_F(Ppdev, ASignalEndingTheWaitLeavesThePortToItsHolder) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  kernel.held_looks = 1000;
  kernel.signal_at_pause = 2;
  setenv("LPT1", "/dev/parport6", 1);
  EXPECT_EXIT(
      {
        std::atexit([] {
          SetPortBit(0x378, 2);
          std::fprintf(stderr, "exit handler ran, %zu calls\n", fake->log.size());
        });
        SetPortBit(0x378, 0);
        std::fprintf(stderr, "returned\n");
        std::exit(130);
      },
      testing::ExitedWithCode(130), "is held by ppdev0 [^\n]*\nreturned\nexit handler ran, 10 calls\n$");
  unsetenv("LPT1");
}

}  // namespace
