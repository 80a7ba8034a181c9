// Pin-level behaviour of the cable: line map, bit order, sample point, reset levels.
#include <gtest/gtest.h>

#include "link.h"
#include "port.h"
#include "fake_cable.h"

namespace {

bool bit(uint8_t v, int b) { return (v >> b) & 1; }

// MOSI level at every rising edge of SCK, in order.
std::vector<int> mosi_at_rising_edges(const std::vector<PinOp>& ops) {
  std::vector<int> levels;
  uint8_t prev = 0;
  for (const PinOp& op : ops) {
    if (op.kind == PinOp::GET) continue;
    if (!bit(prev, 1) && bit(op.data_after, 1)) levels.push_back(bit(op.data_after, 0));
    prev = op.data_after;
  }
  return levels;
}

TEST(CableLines, OnlyLinesZeroToSixReachTheDataRegister) {
  FakePort port;
  port.cable.data = 0xA5;
  set_cable_line(7, 1);
  set_cable_line(-1, 1);
  set_cable_line(100, 0);
  EXPECT_TRUE(port.cable.ops.empty());

  set_cable_line(2, 0);
  ASSERT_EQ(port.cable.ops.size(), 1u);
  EXPECT_EQ(port.cable.ops[0].kind, PinOp::CLR);
  EXPECT_EQ(port.cable.ops[0].port, LPT_DATA);
  EXPECT_EQ(port.cable.data, 0xA1);  // only bit 2 changed

  set_cable_line(6, 1);
  EXPECT_EQ(port.cable.data, 0xE1);
  set_cable_line(6, 5);  // any level but 1 clears
  EXPECT_EQ(port.cable.data, 0xA1);
}

TEST(ByteShift, SendGoesOutMostSignificantBitFirstAndReadsNothing) {
  FakePort port;
  isp_send_byte(0xAC);
  EXPECT_EQ(mosi_at_rising_edges(port.cable.ops), (std::vector<int>{1, 0, 1, 0, 1, 1, 0, 0}));
  for (const PinOp& op : port.cable.ops) EXPECT_NE(op.kind, PinOp::GET);
  EXPECT_FALSE(bit(port.cable.data, 1));  // SCK ends low
  EXPECT_FALSE(bit(port.cable.data, 0));  // MOSI holds the last bit sent (0)

  port.cable.ops.clear();
  isp_send_byte(0x1FE01);  // only the low 8 bits count
  EXPECT_EQ(mosi_at_rising_edges(port.cable.ops), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_TRUE(bit(port.cable.data, 0));
}

TEST(ByteShift, TransferSamplesOncePerHighPhaseOfTheClock) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0xB4; };
  port.cable.data = 0x04;  // RESET low is not required; keep it high to check it stays
  EXPECT_EQ(isp_transfer_byte(0), 0xB4);
  int reads = 0;
  uint8_t prev = 0x04;
  int edges = 0;
  for (const PinOp& op : port.cable.ops) {
    if (op.kind == PinOp::GET) {
      ++reads;
      EXPECT_EQ(op.port, LPT_STATUS);
      EXPECT_EQ(op.bit, 7);
      EXPECT_TRUE(bit(op.data_after, 1)) << "MISO read while SCK low";
      EXPECT_EQ(reads, edges) << "one read per high phase";
      continue;
    }
    if (!bit(prev, 1) && bit(op.data_after, 1)) ++edges;
    prev = op.data_after;
  }
  EXPECT_EQ(reads, 8);
  EXPECT_EQ(mosi_at_rising_edges(port.cable.ops), std::vector<int>(8, 0));
  EXPECT_TRUE(bit(port.cable.data, 2));
}

TEST(ByteShift, TransferTakesTheInvertedStatusBitAsData) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0xFF; };
  EXPECT_EQ(isp_transfer_byte(0), 0xFF);  // status bit reads 0 at every sample
  port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0x00; };
  EXPECT_EQ(isp_transfer_byte(0), 0x00);  // reads -1 at every sample
}

TEST(ResetSequences, LineLevelsAndFlag) {
  FakePort port;
  port.cable.data = 0x80;  // bit 7 belongs to nobody on this cable
  target_released = 1;
  enter_programming_mode();
  EXPECT_EQ(target_released, 0);
  EXPECT_EQ(port.cable.data, 0x81);  // MOSI 1, SCK 0, RESET 0; bit 7 untouched
  // RESET pulses high, then low, with SCK low throughout.
  std::vector<int> reset_levels;
  for (const PinOp& op : port.cable.ops) {
    ASSERT_EQ(op.port, LPT_DATA);
    EXPECT_FALSE(bit(op.data_after, 1));
    if (op.bit == 2) reset_levels.push_back(op.kind == PinOp::SET);
  }
  EXPECT_EQ(reset_levels, (std::vector<int>{1, 0}));

  release_target();
  EXPECT_EQ(target_released, 1);
  EXPECT_TRUE(bit(port.cable.data, 2));

  target_released = 0;
  port.cable.data = 0;
  raise_reset_line();
  EXPECT_EQ(target_released, 0);  // raising RESET alone leaves the flag to the caller
  EXPECT_EQ(port.cable.data, 0x04);
}

}  // namespace
