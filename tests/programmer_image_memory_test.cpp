// Page-wise flash programming, read-back and EEPROM writes, instruction by instruction
// over the fake cable.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "delay.h"
#include "image.h"
#include "parts.h"
#include "fake_cable.h"

namespace {

constexpr int ATMEGA168 = 4;  // 64-word pages

class Memory : public testing::Test {
 protected:
  void SetUp() override {
    init_part_table();
    loops_per_us = 1;  // the fake needs no pacing; time-outs then take milliseconds
    for (int i = 0; i < 300; ++i) load_image[i] = static_cast<uint8_t>(i * 7);
  }
  void TearDown() override { loops_per_us = LOOPS_PER_US_UNCALIBRATED; }

  static std::vector<std::array<uint8_t, 4>> of_kind(const FakeCable& cable, uint8_t first) {
    std::vector<std::array<uint8_t, 4>> found;
    for (const auto& ins : cable.instructions)
      if (ins[0] == first) found.push_back(ins);
    return found;
  }
};

TEST_F(Memory, FlashGoesOutInFullPagesThenTheRemainder) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0xFE; };  // ready
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_flash(part_table[ATMEGA168], 131), 131);
  const std::string out = testing::internal::GetCapturedStdout();

  ASSERT_FALSE(port.cable.instructions.empty());
  EXPECT_EQ(port.cable.instructions[0], (std::array<uint8_t, 4>{0x4D, 0x00, 0x00, 0x00}));
  const auto lows = of_kind(port.cable, 0x40), highs = of_kind(port.cable, 0x48);
  ASSERT_EQ(lows.size(), 66u);
  ASSERT_EQ(highs.size(), 66u);
  EXPECT_EQ(lows[64][2], 0);  // word 64 starts the second page at offset 0
  EXPECT_EQ(lows[65][2], 1);
  EXPECT_EQ(lows[65][3], load_image[130]);
  EXPECT_EQ(highs[65][3], load_image[131]) << "an odd length's last high byte is the next image byte";
  const auto pages = of_kind(port.cable, 0x4C);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], (std::array<uint8_t, 4>{0x4C, 0x00, 0x00, 0x00}));
  EXPECT_EQ(pages[1], (std::array<uint8_t, 4>{0x4C, 0x00, 0x40, 0x00}));
  EXPECT_EQ(port.cable.count_instructions(0xF0), 2) << "one ready-wait per page";
  EXPECT_EQ(out, "Bytes written to target: 132  \r") << "to a pipe, the counter's last value once";
  EXPECT_EQ(out.find("timeout"), std::string::npos);
}

TEST_F(Memory, AnExactPageIsOneWrite) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0xFE; };
  testing::internal::CaptureStdout();
  write_flash(part_table[ATMEGA168], 128);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(port.cable.count_instructions(0x4C), 1);
}

// After a chip erase a page of only FF (the pad byte of an odd length included) is
// neither loaded nor written; without the erase, or with one byte set, it is.
TEST_F(Memory, BlankPagesAfterAnEraseAreSkipped) {
  struct Row {
    int blank_from, blank_to, length;
    bool erased;
    int pages, loads;
  } rows[] = {{128, 256, 384, true, 2, 128}, {128, 256, 384, false, 3, 192}, {128, 255, 384, true, 3, 192},
              {256, 364, 257, true, 2, 128}};
  for (const Row& row : rows) {
    std::fill(load_image + row.blank_from, load_image + row.blank_to, 0xFF);
    FakePort port;
    port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0xFE; };
    testing::internal::CaptureStdout();
    EXPECT_EQ(write_flash(part_table[ATMEGA168], row.length, row.erased), row.length);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Bytes written to target: " + std::to_string(row.length + (row.length & 1)) + "  \r"),
              std::string::npos) << "the progress counts every byte";
    EXPECT_EQ(port.cable.count_instructions(0x4C), row.pages) << row.blank_from << " " << row.erased;
    EXPECT_EQ(port.cable.count_instructions(0x40), row.loads) << row.blank_from << " " << row.erased;
    SetUp();
  }
}

TEST_F(Memory, PageTimeoutsAreReportedAndProgrammingGoesOn) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0xFF; };  // always busy
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_flash(part_table[ATMEGA168], 130), 130);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Error - Flash write timeout    \n"), std::string::npos) << "inside the loop";
  EXPECT_NE(out.find("Error - Flash write timeout\n"), std::string::npos) << "the last, partial page";
  EXPECT_EQ(port.cable.count_instructions(0x4C), 2);
  EXPECT_EQ(port.cable.count_instructions(0x40), 65);
}

TEST_F(Memory, FlashReadsWholeWordsLowByteFirst) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>& sent, int position) -> uint8_t {
    if (position != 3) return 0;
    return static_cast<uint8_t>((sent[0] == 0x28 ? 0x80 : 0x00) | sent[2]);
  };
  readback_image[6] = 0x55;
  testing::internal::CaptureStdout();
  read_flash(5);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Flash bytes read: 6  \r");
  const uint8_t expected[7] = {0x00, 0x80, 0x01, 0x81, 0x02, 0x82, 0x00};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(readback_image[i], expected[i]) << i;
}

TEST_F(Memory, EepromWaitsAfterEveryByte) {
  FakePort port;
  port.cable.respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0xFF; };  // always busy
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_eeprom(2), 2);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Error - EEPROM write timeout\nError - EEPROM write timeout\n");
  const auto writes = of_kind(port.cable, 0xC0);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1], (std::array<uint8_t, 4>{0xC0, 0x00, 0x01, load_image[1]}));
}

}  // namespace
