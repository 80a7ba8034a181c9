// The direct-register backend against a fake I/O space that only answers inside the
// ranges granted by ioperm, as the processor would fault outside them, with or
// without an ECP port's extended control register.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "backend.h"
#include "port_sys.h"

namespace {

struct FakeIoSpace {
  std::map<uint16_t, uint8_t> registers;
  std::set<unsigned long> granted_ports;
  // At ecr_port: 0 nothing (an empty bus reads FF), 1 an ECR whose FIFO is empty,
  // 2 the control register 0x400 below again (a port that decodes ten address lines).
  int ecr = 0;
  uint16_t ecr_port = 0x77A;
  int ioperm_errno = 0;
  unsigned euid = 1000;
  uint8_t outside_pins = 0x99;  // what the far side drives onto the data lines
  std::vector<std::string> log;
  int faults = 0;

  bool granted(uint16_t port) const { return granted_ports.count(port) != 0; }
  std::vector<std::string> writes_to(uint16_t port) const {
    std::vector<std::string> writes;
    for (const std::string& entry : log)
      if (entry.rfind("out " + hex(port) + " ", 0) == 0) writes.push_back(entry);
    return writes;
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
  for (unsigned long port = from; port < from + count; ++port) {
    if (on) fake->granted_ports.insert(port);
    else fake->granted_ports.erase(port);
  }
  return 0;
}
uint8_t fake_inb(uint16_t port) {
  fake->log.push_back("in " + FakeIoSpace::hex(port));
  if (!fake->granted(port)) ++fake->faults;
  if (port == fake->ecr_port && fake->ecr == 0) return 0xFF;
  if (port == fake->ecr_port && fake->ecr == 1) return static_cast<uint8_t>((fake->registers[port] & 0xFC) | 0x01);
  if (port == fake->ecr_port) port = static_cast<uint16_t>(port - 0x400);
  // A data register whose port is in reverse reads the pins, not its latch.
  if (fake->registers[static_cast<uint16_t>(port + 2)] & io::CONTROL_REVERSE) return fake->outside_pins;
  return fake->registers[port];
}
void fake_outb(uint16_t port, uint8_t value) {
  fake->log.push_back("out " + FakeIoSpace::hex(port) + " " + FakeIoSpace::hex(value));
  if (!fake->granted(port)) ++fake->faults;
  if (port == fake->ecr_port && fake->ecr == 2) port = static_cast<uint16_t>(port - 0x400);
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
  EXPECT_EQ(space.log, (std::vector<std::string>{"ioperm 378 3 1", "in 37a", "ioperm 77a 1 1", "in 77a",
                                                 "ioperm 77a 1 0", "in 378"}))
      << "no ECR answers: nothing written at its address";
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
  EXPECT_TRUE(space.granted_ports.empty());
}

// An ECP port left in a FIFO mode drives nothing from the data register: it runs in
// standard mode, the mode bits' other settings kept, and gets its old mode back at
// the end. Where no ECR answers, nothing is written at its address; on a plug-in
// card's base it is not even read.
TEST_F(Direct, AnEcpPortRunsInStandardModeAndGetsItsOldModeBack) {
  struct Case {
    int ecr;
    unsigned base;
    uint8_t control;
    std::vector<std::string> ecr_writes;  // while opening
  };
  for (const Case& c : {Case{1, 0x378, 0x04, {"out 77a 14"}}, Case{0, 0x378, 0x05, {}}, Case{2, 0x378, 0x05, {}},
                        Case{1, 0x278, 0x0C, {"out 67a 14"}}, Case{1, 0xD010, 0x05, {}}}) {
    space = FakeIoSpace{};
    space.ecr = c.ecr;
    space.ecr_port = static_cast<uint16_t>(c.base + 0x402);
    space.registers = {{space.ecr_port, 0x74}, {static_cast<uint16_t>(c.base + 2), c.control}};
    std::string message;
    auto port = io::open_direct(c.base, message);
    ASSERT_TRUE(port) << message;
    EXPECT_EQ(space.writes_to(space.ecr_port), c.ecr_writes) << std::hex << c.base << " ecr " << c.ecr;
    EXPECT_EQ(space.registers[static_cast<uint16_t>(c.base + 2)], c.control) << "the flip is undone";
    if (c.base == 0xD010) {
      EXPECT_EQ(space.log.size(), 3u) << "only the three registers";
    }
    space.log.clear();
    port.reset();
    std::vector<std::string> restored;
    if (!c.ecr_writes.empty()) restored.push_back("out " + FakeIoSpace::hex(space.ecr_port) + " 74");
    EXPECT_EQ(space.writes_to(space.ecr_port), restored);
    EXPECT_EQ(space.registers[space.ecr_port], 0x74);
    EXPECT_TRUE(space.granted_ports.empty());
  }
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
