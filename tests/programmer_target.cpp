// Part lookup, the default-fuse check and the wording of the target reports.
#include <gtest/gtest.h>

#include <string>

#include "isp.h"
#include "link.h"
#include "parts.h"
#include "programmer_fake_cable.h"
#include "settings.h"
#include "target.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

int lookup(uint8_t a, uint8_t b, uint8_t c) {
  target_signature[0] = a;
  target_signature[1] = b;
  target_signature[2] = c;
  return find_part_by_signature();
}

TEST(PartTable, SignaturesAreToldApartByAllThreeBytes) {
  init_part_table();
  EXPECT_EQ(part_count, 7);
  EXPECT_EQ(lookup(0x1E, 0x94, 0x06), 4);
  EXPECT_EQ(std::string(part_table[4].name), "ATmega168");
  EXPECT_EQ(lookup(0x1E, 0x94, 0x03), 0);
  EXPECT_EQ(lookup(0x1E, 0x96, 0x09), 5);
  EXPECT_EQ(lookup(0x1E, 0x97, 0x02), 6);
  EXPECT_EQ(lookup(0xFF, 0xFF, 0xFF), -1);  // nothing on the cable
  EXPECT_EQ(lookup(0x00, 0x00, 0x00), -1);  // the empty rows are never compared
  EXPECT_EQ(lookup(0x1E, 0x95, 0x03), -1);
}

TEST(PartTable, TheAtmega32RowComparesTwoFuses) {
  init_part_table();
  const AvrPart& row = part_table[PART_ATMEGA32];
  EXPECT_EQ(std::string(row.name), "ATmega32");
  EXPECT_EQ(row.fuse_count, 2);
  EXPECT_EQ(row.default_fuses[0], 0xD9);
  EXPECT_EQ(row.default_fuses[1], 0xE4);
  for (int i = 0; i < part_count; ++i) {
    if (i != PART_ATMEGA32) {
      EXPECT_EQ(part_table[i].fuse_count, 3) << i;
    }
    EXPECT_EQ(part_table[i].signature_length, 3);
    EXPECT_EQ(part_table[i].reserved, 4);
  }
}

class Target : public testing::Test {
 protected:
  void SetUp() override {
    init_part_table();
    reset_settings();
    run_failed = 0;
  }
  void chip(std::array<uint8_t, 3> sig, uint8_t ext, uint8_t high, uint8_t low) {
    port.cable.avr.signature = sig;
    port.cable.avr.extended = ext;
    port.cable.avr.high = high;
    port.cable.avr.low = low;
  }
  std::string run(void (*report)()) {
    CaptureStdout();
    report();
    return GetCapturedStdout();
  }
  FakePort port;
};

constexpr std::array<uint8_t, 3> M644{0x1E, 0x96, 0x09};
constexpr std::array<uint8_t, 3> M88{0x1E, 0x93, 0x0A};
constexpr std::array<uint8_t, 3> M32{0x1E, 0x95, 0x02};

TEST_F(Target, DefaultFusesAndClockFigure) {
  chip(M644, 0xFF, 0xD9, 0xE7);
  current_part = 5;
  EXPECT_EQ(check_default_fuses(), FUSES_DEFAULT);
  EXPECT_EQ(clock_mhz, 20);

  chip(M88, 0xF9, 0xDF, 0x62);
  current_part = 3;
  EXPECT_EQ(check_default_fuses(), FUSES_DIFFER);
  EXPECT_EQ(clock_mhz, 1);

  chip(M88, 0xF9, 0xDD, 0xE2);  // high differs, low still selects 8 MHz
  EXPECT_EQ(check_default_fuses(), FUSES_DIFFER);
  EXPECT_EQ(clock_mhz, 8);

  chip(M32, 0xD9, 0xE4, 0x12);  // the low fuse is not compared on this part
  current_part = PART_ATMEGA32;
  EXPECT_EQ(check_default_fuses(), FUSES_DEFAULT);
  EXPECT_EQ(clock_mhz, 1);

  chip(M88, 0x00, 0x00, 0xA7);  // no row: nothing to compare
  current_part = -1;
  EXPECT_EQ(check_default_fuses(), FUSES_DEFAULT);
  EXPECT_EQ(clock_mhz, 20);
}

TEST_F(Target, CheckTargetReports) {
  chip(M644, 0xFF, 0xD9, 0xE7);
  EXPECT_EQ(run(check_target), "Target ATmega644 responding - default fuses set\n");
  EXPECT_EQ(current_part, 5);
  EXPECT_EQ(target_released, 0);  // left in programming mode for the caller

  chip(M88, 0xF9, 0xDF, 0x62);
  EXPECT_EQ(run(check_target),
            "Target ATmega88 responding - default fuses not set\n"
            "   Default fuses: f9 df e2    Target fuses: f9 df 62\n");

  chip(M88, 0xF9, 0xDD, 0xE2);
  EXPECT_EQ(run(check_target), "Target ATmega88 responding - default fuses set - 8MHz clock\n");

  chip({0x1E, 0x55, 0x01}, 0, 0, 0);
  EXPECT_EQ(run(check_target), "Target Processor Unrecognized but responding - default fuses set\n");
  EXPECT_EQ(current_part, -1);
  EXPECT_EQ(run_failed, 0);

  port.cable.avr.in_step = false;
  port.cable.instructions.clear();
  EXPECT_EQ(run(check_target), "Target not responding to Enable Serial Programming command\n");
  EXPECT_EQ(run_failed, 1);
  // The fuse reads still went out before the answer was judged.
  EXPECT_EQ(port.cable.count_instructions(0x50), 2);
}

TEST_F(Target, BoardCheckLines) {
  chip(M644, 0xFF, 0xD9, 0xE7);
  EXPECT_EQ(run(check_board),
            "\nChecking for Varn processor:\n Processor X1 is  ATmega644 - default fuses set - 20MHz clock\n");
  chip({0x1E, 0x92, 0x05}, 0xFF, 0xFF, 0xFF);
  EXPECT_EQ(run(check_board), "\nChecking for Varn processor:\n Processor X1 is  ATmega48 - OK\n");
  chip({0x1E, 0x55, 0x01}, 0xFF, 0xFF, 0xE2);  // answers but unknown
  EXPECT_EQ(run(check_board),
            "\nChecking for Varn processor:\n Processor X1 is not responding - either faulty or not installed\n");
  chip(M644, 0xFF, 0xD9, 0xE7);
  port.cable.avr.in_step = false;
  EXPECT_EQ(run(check_board),
            "\nChecking for Varn processor:\n Processor X1 is not responding - either faulty or not installed\n");
  EXPECT_EQ(target_released, 0);
}

TEST_F(Target, StatisticsReport) {
  chip(M644, 0xFF, 0xD9, 0xE7);
  port.cable.avr.calibration = 0x9B;
  current_part = 2;
  EXPECT_EQ(run(print_target_statistics),
            "Processor: ATmega644\n"
            " Lock byte = ff    No locks bits activated\n"
            " Signature = 1e 96 9\n"
            " Fuse bytes = ff d9 e7\n"
            " Calibration byte =  9b\n");
  EXPECT_EQ(current_part, 2);  // the report keeps its lookup to itself

  chip({0x01, 0x02, 0x03}, 0xFF, 0xD9, 0xE7);
  port.cable.avr.lock = 0xFC;
  std::string out = run(print_target_statistics);
  EXPECT_EQ(out.substr(0, out.find(" Signature")),
            "Processor: Unrecognized signature\n Lock byte = fc\n");
}

}  // namespace
