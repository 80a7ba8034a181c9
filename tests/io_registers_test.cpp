// The simulated port's register layer: bit operations, the PC port's inversions, and
// what a board sees.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "backend.h"
#include "sim.h"

namespace {

struct Seen {
  std::vector<io::sim::Pins> changes;
  uint8_t inputs = 0xF8;  // every input pin high
};

class RecordingBoard : public io::sim::Board {
 public:
  explicit RecordingBoard(Seen& seen) : seen_(seen) {}
  void outputs_changed(const io::sim::Pins& pins, double) override { seen_.changes.push_back(pins); }
  uint8_t input_pins(double) override { return seen_.inputs; }
  std::string describe() const override { return "recording board"; }
  void write_report(std::FILE* out) override { std::fprintf(out, "changes=%zu\n", seen_.changes.size()); }

 private:
  Seen& seen_;
};

std::unique_ptr<io::Backend> port_with(Seen& seen) {
  return io::make_sim_backend(std::make_unique<RecordingBoard>(seen), nullptr, "");
}

TEST(SimRegisters, StatusBit7ReadsInvertedAgainstItsPin) {
  Seen seen;
  auto port = port_with(seen);
  seen.inputs = 0xF8;  // all five input pins high
  EXPECT_EQ(port->read(io::REG_STATUS) & 0xF8, 0x78);
  seen.inputs = 0x00;  // all low
  EXPECT_EQ(port->read(io::REG_STATUS) & 0xF8, 0x80);
  seen.inputs = 0x20;  // only the pin of bit 5 high
  EXPECT_EQ(port->read(io::REG_STATUS) & 0xF8, 0xA0);
}

TEST(SimRegisters, ControlBits013AreInvertedAtThePins) {
  Seen seen;
  auto port = port_with(seen);
  port->write(io::REG_CONTROL, 0x04);  // register 0100: every pin high
  ASSERT_FALSE(seen.changes.empty());
  EXPECT_EQ(seen.changes.back().control, 0x0F);
  port->write(io::REG_CONTROL, 0x0B);  // register 1011: every pin low
  EXPECT_EQ(seen.changes.back().control, 0x00);
  EXPECT_EQ(port->read(io::REG_CONTROL) & 0x0F, 0x0B) << "the register reads as written";
}

TEST(SimRegisters, TheBoardSeesOnlyRealPinChanges) {
  Seen seen;
  auto port = port_with(seen);
  port->write(io::REG_DATA, 0x05);
  port->write(io::REG_DATA, 0x05);
  port->write(io::REG_STATUS, 0xFF);  // inputs only: nothing happens
  ASSERT_EQ(seen.changes.size(), 1u);
  EXPECT_EQ(seen.changes[0].data, 0x05);
  EXPECT_EQ(port->read(io::REG_DATA), 0x05);
}

TEST(SimOptions, KeysAreTakenByNameAndTheRestReportedUnknown) {
  io::sim::Options options;
  std::string message;
  ASSERT_TRUE(options.parse("part=ATmega16,timing=fast,,colour=red", message));
  EXPECT_EQ(options.take("part"), "ATmega16");
  EXPECT_EQ(options.take("fault", "none"), "none");
  EXPECT_EQ(options.take("timing"), "fast");
  EXPECT_EQ(options.unknown(), std::vector<std::string>{"colour"});
  io::sim::Options bad;
  EXPECT_FALSE(bad.parse("part", message));
  EXPECT_NE(message.find("key=value"), std::string::npos);
}

TEST(SimOptions, UnknownBoardOrPortSettingIsRefusedWithOneLine) {
  std::string message;
  EXPECT_EQ(io::open_backend("sim:board=lathe", message), nullptr);
  EXPECT_NE(message.find("lathe"), std::string::npos);
  EXPECT_EQ(io::open_backend("printer", message), nullptr);
  EXPECT_NE(message.find("printer"), std::string::npos);
  EXPECT_EQ(io::open_backend("direct:0xZZ", message), nullptr);
  EXPECT_EQ(message.find('\n'), std::string::npos);
}

// Only a board that checks no timing lets the programs' waits be short.
TEST(SimOptions, OnlyFastTimingLetsWaitsBeShort) {
  for (auto [setting, short_waits] : {std::pair{"sim:timing=fast", true}, {"sim:board=stepper,timing=fast", true},
                                      {"sim", false}, {"sim:strict=1", false}, {"sim:board=stepper", false},
                                      {"sim:timing=real", false}}) {
    std::string message;
    auto port = io::open_backend(setting, message);
    ASSERT_NE(port, nullptr) << setting << ": " << message;
    EXPECT_EQ(port->waits_may_be_short(), short_waits) << setting;
  }
}

// fail_reads=N: from the Nth status read on the port stops answering, with the
// first reason kept, while writes still reach the board.
TEST(SimRegisters, StatusReadsFailFromTheNamedRead) {
  Seen seen;
  auto port = io::make_sim_backend(std::make_unique<RecordingBoard>(seen), nullptr, "", 3);
  port->read(io::REG_STATUS);
  port->read(io::REG_STATUS);
  EXPECT_TRUE(port->ok());
  port->read(io::REG_STATUS);
  EXPECT_FALSE(port->ok());
  const std::string why = port->error();
  EXPECT_NE(why.find("status read 3"), std::string::npos) << why;
  port->read(io::REG_STATUS);
  EXPECT_EQ(port->error(), why);
  port->write(io::REG_DATA, 0x04);
  ASSERT_EQ(seen.changes.size(), 1u);
  EXPECT_EQ(seen.changes[0].data, 0x04);

  std::string message;
  for (const char* bad : {"sim:fail_reads=0", "sim:fail_reads=-2", "sim:fail_reads=3x", "sim:fail_reads="}) {
    EXPECT_EQ(io::open_backend(bad, message), nullptr) << bad;
    EXPECT_NE(message.find("fail_reads"), std::string::npos) << bad << ": " << message;
  }
}

// access_ns=N: every access of the real-timing board takes at least N ns, reads and
// writes alike; a value that is no time is refused.
TEST(SimRegisters, EveryAccessTakesTheGivenBusTime) {
  std::string message;
  auto port = io::open_backend("sim:board=stepper,access_ns=20000", message);
  ASSERT_NE(port, nullptr) << message;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) {
    port->write(io::REG_DATA, static_cast<uint8_t>(i));
    port->read(io::REG_STATUS);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(100 * 20));
  for (const char* bad : {"sim:access_ns=-1", "sim:access_ns=1us", "sim:access_ns=", "sim:access_ns=1000001"}) {
    EXPECT_EQ(io::open_backend(bad, message), nullptr) << bad;
    EXPECT_NE(message.find("access_ns"), std::string::npos) << bad << ": " << message;
  }
}

TEST(Crc32, MatchesTheZlibCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(io::sim::crc32(reinterpret_cast<const uint8_t*>(text), 9), 0xCBF43926u);
  // Chaining two halves gives the same as one pass, as zlib's crc32 does.
  uint32_t half = io::sim::crc32(reinterpret_cast<const uint8_t*>(text), 4);
  EXPECT_EQ(io::sim::crc32(reinterpret_cast<const uint8_t*>(text) + 4, 5, half), 0xCBF43926u);
}

}  // namespace
