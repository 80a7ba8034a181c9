// The instruction bytes on the wire, answer positions and the ready poll.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "isp.h"
#include "fake_cable.h"

namespace {

using Bytes = std::array<uint8_t, 4>;

struct Case {
  const char* name;
  std::function<void()> call;
  Bytes sent;
};

TEST(Instructions, EachOperationSendsItsFourBytes) {
  const Case cases[] = {
      {"programming enable", [] { isp_programming_enable(); }, {0xAC, 0x53, 0x00, 0x00}},
      {"chip erase", [] { isp_chip_erase(); }, {0xAC, 0x80, 0x00, 0x00}},
      {"poll", [] { isp_poll_ready(); }, {0xF0, 0x00, 0x00, 0x00}},
      {"extended address", [] { isp_load_extended_address(0x102); }, {0x4D, 0x00, 0x02, 0x00}},
      {"page high", [] { isp_load_page_high(0x3F, 0x1C2); }, {0x48, 0x00, 0x3F, 0xC2}},
      {"page low", [] { isp_load_page_low(0x05, 0x99); }, {0x40, 0x00, 0x05, 0x99}},
      {"write page", [] { isp_write_page(0x1240); }, {0x4C, 0x12, 0x40, 0x00}},
      {"flash high", [] { isp_read_flash_high(0xABCD); }, {0x28, 0xAB, 0xCD, 0x00}},
      {"flash low", [] { isp_read_flash_low(0x0102); }, {0x20, 0x01, 0x02, 0x00}},
      {"eeprom read", [] { isp_read_eeprom(0x01FF); }, {0xA0, 0x01, 0xFF, 0x00}},
      {"eeprom write", [] { isp_write_eeprom(0x0310, 0x5A); }, {0xC0, 0x03, 0x10, 0x5A}},
      {"eeprom page load", [] { isp_load_eeprom_page(0x07, 0x11); }, {0xC1, 0x00, 0x07, 0x11}},
      {"eeprom page write", [] { isp_write_eeprom_page(0x0420); }, {0xC2, 0x04, 0x20, 0x00}},
      {"lock read", [] { isp_read_lock(); }, {0x58, 0x00, 0x00, 0x00}},
      {"lock write", [] { isp_write_lock(0xFC); }, {0xAC, 0xE0, 0x00, 0xFC}},
      {"fuse low", [] { isp_write_fuse_low(0xE2); }, {0xAC, 0xA0, 0x00, 0xE2}},
      {"fuse high", [] { isp_write_fuse_high(0xDF); }, {0xAC, 0xA8, 0x00, 0xDF}},
      {"fuse extended", [] { isp_write_fuse_extended(0x1F9); }, {0xAC, 0xA4, 0x00, 0xF9}},
      {"calibration", [] { isp_read_calibration(); }, {0x38, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    FakePort port;
    c.call();
    ASSERT_EQ(port.cable.instructions.size(), 1u) << c.name;
    EXPECT_EQ(port.cable.instructions[0], c.sent) << c.name;
    EXPECT_TRUE(port.cable.partial.empty()) << c.name << ": stray bits after the instruction";
  }
}

// The answer is taken from its own byte position, not a neighbour's.
TEST(Instructions, AnswersComeFromTheirBytePosition) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>&, int position) -> uint8_t {
    return static_cast<uint8_t>(0x60 + position);
  };
  EXPECT_EQ(isp_programming_enable(), 0x62);
  EXPECT_EQ(isp_poll_ready(), 0x63);
  EXPECT_EQ(isp_read_flash_high(0), 0x63);
  EXPECT_EQ(isp_read_flash_low(0), 0x63);
  EXPECT_EQ(isp_read_eeprom(0x01FF), 0x63);
  EXPECT_EQ(isp_read_lock(), 0x63);
  EXPECT_EQ(isp_read_calibration(), 0x63);
  // Programming Enable's fourth byte is 0 whatever the answer.
  EXPECT_EQ(port.cable.instructions[0][3], 0x00);
}

// Answers as a chip would: signature byte by address, fuses by instruction.
uint8_t chip(const std::vector<uint8_t>& sent, int position) {
  if (position != 3) return 0;
  if (sent[0] == 0x30) return std::array<uint8_t, 3>{0x1E, 0x96, 0x09}[sent[2] % 3];
  if (sent[0] == 0x50 && sent[1] == 0x00) return 0xE7;
  if (sent[0] == 0x58 && sent[1] == 0x08) return 0xD9;
  if (sent[0] == 0x50 && sent[1] == 0x08) return 0xFD;
  return 0;
}

TEST(Instructions, SignatureAndFusesLandInTheirStores) {
  FakePort port;
  port.cable.respond = chip;
  isp_read_signature();
  EXPECT_EQ(target_signature[0], 0x1E);
  EXPECT_EQ(target_signature[1], 0x96);
  EXPECT_EQ(target_signature[2], 0x09);
  ASSERT_EQ(port.cable.instructions.size(), 3u);
  for (unsigned i = 0; i < 3; ++i) EXPECT_EQ(port.cable.instructions[i][2], i);

  port.cable.instructions.clear();
  isp_read_fuses();
  EXPECT_EQ(fuse_bytes[0], 0xFD);  // extended first
  EXPECT_EQ(fuse_bytes[1], 0xD9);
  EXPECT_EQ(fuse_bytes[2], 0xE7);
  ASSERT_EQ(port.cable.instructions.size(), 3u);
  EXPECT_EQ(port.cable.instructions[0], (Bytes{0x50, 0x00, 0x00, 0x00}));  // low
  EXPECT_EQ(port.cable.instructions[1], (Bytes{0x58, 0x08, 0x00, 0x00}));  // high
  EXPECT_EQ(port.cable.instructions[2], (Bytes{0x50, 0x08, 0x00, 0x00}));  // extended
}

// Poll answers: `busy` answers with only bit 0 set, then ready with every other bit set.
Responder busy_for(int busy) {
  auto answers = std::make_shared<int>(0);
  return [answers, busy](const std::vector<uint8_t>&, int position) -> uint8_t {
    if (position != 3) return 0;
    return (busy < 0 || (*answers)++ < busy) ? 0x01 : 0xFE;
  };
}

TEST(ReadyPoll, PollsUntilBitZeroClears) {
  const struct {
    int busy;
    int result;
    int polls;
  } cases[] = {{0, 0, 1}, {2, 0, 3}, {5001, 0, 5002}, {-1, -1, 5002}};
  for (const auto& c : cases) {
    FakePort port;
    port.cable.respond = busy_for(c.busy);
    EXPECT_EQ(isp_wait_ready(), c.result) << c.busy;
    EXPECT_EQ(port.cable.count_instructions(0xF0), c.polls) << c.busy;
  }
}

}  // namespace
