// The direct-register backend against a fake I/O space that only answers inside a
// range granted by ioperm, as the processor would fault outside it.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "backend.h"
#include "port_sys.h"

namespace {

struct FakeIoSpace {
  std::map<uint16_t, uint8_t> registers;
  unsigned long granted_from = 0;
  unsigned long granted_count = 0;
  int ioperm_errno = 0;
  unsigned euid = 1000;
  uint8_t outside_pins = 0x99;  // what the far side drives onto the data lines
  std::vector<std::string> log;
  int faults = 0;

  bool granted(uint16_t port) const {
    return port >= granted_from && port < granted_from + granted_count;
  }
  static std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
  }
};

FakeIoSpace* fake = nullptr;

int fake_ioperm(unsigned long from, unsigned long count, int on) {
  fake->log.push_back("ioperm " + FakeIoSpace::hex(static_cast<unsigned>(from)) + " " +
                      std::to_string(count) + " " + std::to_string(on));
  if (fake->ioperm_errno) return -fake->ioperm_errno;
  if (on) {
    fake->granted_from = from;
    fake->granted_count = count;
  } else {
    fake->granted_count = 0;
  }
  return 0;
}
uint8_t fake_inb(uint16_t port) {
  fake->log.push_back("in " + FakeIoSpace::hex(port));
  if (!fake->granted(port)) ++fake->faults;
  // A data register whose port is in reverse reads the pins, not its latch.
  if (fake->registers[static_cast<uint16_t>(port + 2)] & io::CONTROL_REVERSE) return fake->outside_pins;
  return fake->registers[port];
}
void fake_outb(uint16_t port, uint8_t value) {
  fake->log.push_back("out " + FakeIoSpace::hex(port) + " " + FakeIoSpace::hex(value));
  if (!fake->granted(port)) ++fake->faults;
  fake->registers[port] = value;
}
int no_open(const char*, int) { ADD_FAILURE() << "direct backend opened a file"; return -ENOENT; }
int no_ioctl(int, unsigned long, void*) { ADD_FAILURE() << "direct backend used ioctl"; return -ENOTTY; }
int no_close(int) { return -EBADF; }
unsigned fake_euid() { return fake->euid; }

class Direct : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = &space;
    io::PortSys real = io::posix_port_sys();
    io::port_sys = io::PortSys{no_open,   no_ioctl,  no_close,         fake_ioperm,    fake_inb,          fake_outb,
                               fake_euid, real.port_number, real.read_text, real.hold_signals, real.pause_ms};
  }
  void TearDown() override {
    EXPECT_EQ(space.faults, 0) << "port access outside the granted range";
    io::port_sys = io::posix_port_sys();
    fake = nullptr;
  }
  FakeIoSpace space;
};

TEST_F(Direct, GrantsTheThreeRegistersAndShadowsDataAndControl) {
  space.registers = {{0x378, 0x81}, {0x379, 0x7F}, {0x37A, 0xC4}};
  std::string message;
  auto port = io::open_direct(0x378, message);
  ASSERT_TRUE(port) << message;
  EXPECT_EQ(space.log, (std::vector<std::string>{"ioperm 378 3 1", "in 37a", "in 378"}));
  space.log.clear();

  EXPECT_EQ(port->read(io::REG_DATA), 0x81);
  EXPECT_EQ(port->read(io::REG_CONTROL), 0xC4);
  EXPECT_EQ(port->read(io::REG_STATUS), 0x7F);
  EXPECT_EQ(space.log, (std::vector<std::string>{"in 379"})) << "only status is read live";
  space.log.clear();

  // A bit change: one out, the other bits as they were.
  port->write(io::REG_DATA, static_cast<uint8_t>(port->read(io::REG_DATA) | 0x10));
  port->write(io::REG_CONTROL, static_cast<uint8_t>(port->read(io::REG_CONTROL) & ~0x04));
  EXPECT_EQ(space.log, (std::vector<std::string>{"out 378 91", "out 37a c0"}));
}

TEST_F(Direct, ControlWritesMoveOnlyTheFourLines) {
  space.registers = {{0x378, 0x00}, {0x37A, 0x10}};  // ACK interrupt enabled
  std::string message;
  auto port = io::open_direct(0x378, message);
  ASSERT_TRUE(port) << message;
  port->write(io::REG_CONTROL, 0x2B);  // a stray direction bit
  EXPECT_EQ(space.registers[0x37A], 0x1B);
  port->write(io::REG_CONTROL, 0x00);
  EXPECT_EQ(space.registers[0x37A], 0x10);
}

// A port left in reverse is turned round so the data lines drive, before the latch
// is read (reversed, the register reads the far side's pins), and keeps driving after
// the close with the lines as last written: turned back, RESET would float.
TEST_F(Direct, APortLeftInReverseDrivesDuringTheRunAndAfterIt) {
  space.registers = {{0xD010, 0x42}, {0xD012, 0x25}};
  std::string message;
  {
    auto port = io::open_direct(0xD010, message);
    ASSERT_TRUE(port) << message;
    EXPECT_EQ(space.registers[0xD012], 0x05) << "data lines must drive";
    EXPECT_EQ(port->read(io::REG_DATA), 0x42) << "the copy is the latch, not the pins";
    port->write(io::REG_DATA, 0xFF);
    port->write(io::REG_CONTROL, 0x0A);
    space.log.clear();
  }
  EXPECT_EQ(space.log, (std::vector<std::string>{"ioperm d010 3 0"}));
  EXPECT_EQ(space.registers[0xD010], 0xFF);
  EXPECT_EQ(space.registers[0xD012], 0x0A);
  EXPECT_EQ(space.granted_count, 0u);
}

TEST_F(Direct, RefusalsNameTheBaseTheReasonAndTheFix) {
  struct Case {
    int err;
    unsigned euid;
    std::string words;
  };
  for (const Case& c : {Case{EPERM, 1000, "run as root"}, Case{EPERM, 0, "even to root (lockdown"},
                        Case{ENOSYS, 0, "no direct I/O port access"}}) {
    space.ioperm_errno = c.err;
    space.euid = c.euid;
    std::string message;
    auto port = io::open_direct(0x378, message);
    EXPECT_FALSE(port);
    EXPECT_NE(message.find("0x378"), std::string::npos) << message;
    EXPECT_NE(message.find(c.words), std::string::npos) << message;
    EXPECT_NE(message.find("LPT1=sim"), std::string::npos) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
  EXPECT_EQ(space.log.size(), 3u) << "no register touched without permission";
}

// LPT1=direct:BASE is hexadecimal, as /proc/ioports prints it; a base that can't be a
// parallel port's is refused with one line before the kernel is asked.
TEST_F(Direct, TheLibraryOpensTheRegistersAtTheNamedBase) {
  struct Case {
    const char* setting;
    const char* base;  // null: refused
  };
  for (const Case& c : {Case{"direct", "378"}, Case{"direct:378", "378"}, Case{"direct:0x378", "378"},
                        Case{"direct:0XD010", "d010"}, Case{"direct:3000", "3000"}, Case{"direct:FFFC", "fffc"},
                        Case{"direct:0", nullptr}, Case{"direct:FC", nullptr}, Case{"direct:37A", nullptr},
                        Case{"direct:FFFE", nullptr}, Case{"direct:10000", nullptr}, Case{"direct:123456", nullptr},
                        Case{"direct:", nullptr}, Case{"direct:0x", nullptr}, Case{"direct:-378", nullptr},
                        Case{"direct: 378", nullptr}, Case{"direct:378h", nullptr},
                        Case{"direct:1000000000378", nullptr}}) {
    space.log.clear();
    std::string message;
    auto port = io::open_backend(c.setting, message);
    if (c.base) {
      ASSERT_TRUE(port) << c.setting << ": " << message;
      EXPECT_EQ(space.log.front(), std::string("ioperm ") + c.base + " 3 1") << c.setting;
    } else {
      EXPECT_FALSE(port) << c.setting;
      EXPECT_TRUE(space.log.empty()) << c.setting;
      EXPECT_NE(message.find("base address"), std::string::npos) << c.setting << ": " << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
}

}  // namespace
