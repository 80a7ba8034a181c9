// Part lookup, the default-fuse comparison and the fuse-list argument.
#include <gtest/gtest.h>

#include "commands.h"
#include "isp.h"
#include "parts.h"
#include "fake_cable.h"
#include "target.h"

namespace {

int lookup(uint8_t a, uint8_t b, uint8_t c) {
  target_signature[0] = a;
  target_signature[1] = b;
  target_signature[2] = c;
  return find_part_by_signature();
}

TEST(PartTable, AllThreeSignatureBytesDecide) {
  init_part_table();
  EXPECT_EQ(lookup(0x1E, 0x94, 0x06), 4);
  EXPECT_STREQ(part_table[4].name, "ATmega168");
  EXPECT_EQ(lookup(0x1E, 0x94, 0x03), 0);
  EXPECT_EQ(lookup(0x1E, 0x97, 0x02), 6);
  EXPECT_EQ(lookup(0x1E, 0x93, 0x0B), -1);  // an ATtiny85
  EXPECT_EQ(lookup(0xFF, 0xFF, 0xFF), -1);  // MISO resting high
  EXPECT_EQ(lookup(0x00, 0x00, 0x00), -1);  // the empty rows are never compared
}

// Fuse reads answered with fixed values: extended, high, low.
Responder fuses(uint8_t ext, uint8_t high, uint8_t low) {
  return [=](const std::vector<uint8_t>& sent, int position) -> uint8_t {
    if (position != 3) return 0;
    if (sent[0] == 0x50) return sent[1] ? ext : low;
    return sent[0] == 0x58 && sent[1] == 0x08 ? high : 0;
  };
}

TEST(DefaultFuses, ComparedBytesAndClockFigure) {
  init_part_table();
  FakePort port;
  const struct {
    int part;
    uint8_t ext, high, low;
    uint8_t result;
    int mhz;
  } cases[] = {
      {5, 0xFF, 0xD9, 0xE7, FUSES_DEFAULT, 20},   // ATmega644 as shipped by the table
      {3, 0xF9, 0xDF, 0x62, FUSES_DIFFER, 1},     // ATmega88, low fuse changed
      {3, 0xF9, 0xDD, 0xE2, FUSES_DIFFER, 8},     // high changed, clock still from low
      {PART_ATMEGA32, 0xD9, 0xE4, 0x12, FUSES_DEFAULT, 1},  // low fuse not compared
      {PART_ATMEGA32, 0xD9, 0xE5, 0xFF, FUSES_DIFFER, 1},
      {FIRST_ROWS, 0x00, 0xD9, 0xE1, FUSES_DEFAULT, 1},  // ATmega8: no extended fuse to compare
      {FIRST_ROWS, 0xFF, 0xD9, 0xE2, FUSES_DIFFER, 8},   // but its low fuse is
      {-1, 0x00, 0x00, 0xA7, FUSES_DEFAULT, 20},  // no row: nothing to compare
  };
  for (const auto& c : cases) {
    current_part = c.part;
    port.cable.respond = fuses(c.ext, c.high, c.low);
    EXPECT_EQ(check_default_fuses(), c.result) << c.part << " low " << int(c.low);
    EXPECT_EQ(clock_mhz, c.mhz) << c.part << " low " << int(c.low);
  }
}

TEST(FuseList, ThreeFieldsOfOneOrTwoHexDigits) {
  uint8_t x = 0, y = 0, z = 0;
  ASSERT_EQ(parse_fuse_list("e2,DF,f", &x, &y, &z), 1);
  EXPECT_EQ(x, 0xE2);
  EXPECT_EQ(y, 0xDF);
  EXPECT_EQ(z, 0x0F);
  for (const char* bad : {"e2,df", "", "e2,,ff", "e2,df,", "e2,df,ff,1", "1e2,df,ff", "0x1,2,3",
                          "e2,dg,ff", "-1,2,3"}) {
    x = y = z = 0x55;
    EXPECT_EQ(parse_fuse_list(bad, &x, &y, &z), 0) << bad;
    EXPECT_EQ(x + y + z, 3 * 0x55) << bad << ": nothing stored";
  }
}

}  // namespace
