// The command table's matching, the target protocol and the guards on fuse writes.
#include <gtest/gtest.h>

#include <string>

#include "commands.h"
#include "isp.h"
#include "link.h"
#include "parts.h"
#include "programmer_fake_cable.h"
#include "settings.h"
#include "target.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(FuseList, ThreeFieldsOfOneOrTwoHexDigits) {
  uint8_t x = 0, y = 0, z = 0;
  ASSERT_EQ(parse_fuse_list("e2,DF,f", &x, &y, &z), 1);
  EXPECT_EQ(x, 0xE2);
  EXPECT_EQ(y, 0xDF);
  EXPECT_EQ(z, 0x0F);
  for (const char* bad : {"e2,df", "e2", "", "e2,,ff", ",df,ff", "e2,df,", "e2,df,ff,", "e2,df,ff,1",
                          "1e2,df,ff", "0x1,2,3", "e2,dg,ff", "e2,df,f f", "-1,2,3"}) {
    x = y = z = 0x55;
    EXPECT_EQ(parse_fuse_list(bad, &x, &y, &z), 0) << bad;
    EXPECT_EQ(x, 0x55) << bad;
    EXPECT_EQ(y, 0x55) << bad;
    EXPECT_EQ(z, 0x55) << bad;
  }
}

TEST(HexArgument, LowByteOfTheLeadingNumber) {
  uint8_t v = 0x55;
  EXPECT_EQ(parse_hex_byte("e2", &v), 1);
  EXPECT_EQ(v, 0xE2);
  EXPECT_EQ(parse_hex_byte("1ff", &v), 1);
  EXPECT_EQ(v, 0xFF);
  EXPECT_EQ(parse_hex_byte("0x1F", &v), 1);
  EXPECT_EQ(v, 0x1F);
  EXPECT_EQ(parse_hex_byte("0", &v), 1);
  EXPECT_EQ(v, 0x00);
  EXPECT_EQ(parse_hex_byte("7zz", &v), 1);
  EXPECT_EQ(v, 0x07);
  EXPECT_EQ(parse_hex_byte("123456789abcdef0123", &v), 1);  // saturates, no overflow trap
  v = 0x55;
  EXPECT_EQ(parse_hex_byte("", &v), 0);
  EXPECT_EQ(parse_hex_byte("zz", &v), 0);
  EXPECT_EQ(v, 0x55);
}

class Commands : public testing::Test {
 protected:
  void SetUp() override {
    init_part_table();
    reset_settings();
    run_failed = 0;
    target_released = 1;
    chip({0x1E, 0x94, 0x06}, 0xF9, 0xDF, 0xE2);  // an ATmega168
  }
  void chip(std::array<uint8_t, 3> sig, uint8_t ext, uint8_t high, uint8_t low) {
    port.cable.avr.signature = sig;
    port.cable.avr.extended = ext;
    port.cable.avr.high = high;
    port.cable.avr.low = low;
  }
  std::string run(const std::string& word) {
    CaptureStdout();
    EXPECT_EQ(dispatch_command(word.c_str()), 1);
    return GetCapturedStdout();
  }
  int fuse_writes() const { return port.cable.count_instructions(0xAC) - port.cable.count_instructions(0xAC, 0x53); }
  FakePort port;
};

TEST_F(Commands, KeywordsMatchCaseInsensitivelyAtTheStartOfTheWord) {
  EXPECT_EQ(run("GF1"), "Fuse byte 1: e2\n");
  EXPECT_EQ(run("gf1x"), "Fuse byte 1: e2\n");
  EXPECT_EQ(run("Gf2"), "Fuse byte 2: df\n");
  EXPECT_EQ(run("gf3"), "Fuse byte 3: f9\n");
  EXPECT_EQ(run("gfx"), "Fuse bytes: f9 df e2\n");
  EXPECT_EQ(run("Identify"), "Signature bytes: 1e 94 6  Processor: ATmega168\n");
  EXPECT_EQ(run("sf0"), "Fill char=0\n");
  EXPECT_EQ(settings.fill_char, 0);
  EXPECT_EQ(run("SF1ff"), "Fill char=ff\n");
  EXPECT_EQ(run("sfzz"), "Fill char=ff\n");  // no number: the fill byte stays
  EXPECT_EQ(run("mfbad.txt"), "Mismatch filename=bad.txt\n");
  EXPECT_EQ(run("quiet"), "");
  EXPECT_EQ(settings.output_mode, 'q');
  EXPECT_EQ(run("more"), "");  // m, not mf
  EXPECT_EQ(settings.output_mode, 'v');
  run("nv");
  EXPECT_EQ(settings.verify_mode, 'n');
  run("verify");
  EXPECT_EQ(settings.verify_mode, 'v');
  run("T2");
  EXPECT_EQ(settings.hex_extended_record_type, 2);
  EXPECT_EQ(run_failed, 0);
}

TEST_F(Commands, WordsThatMatchNothingTouchNoTarget) {
  for (const char* word : {"pf", "pf4", "t3", "x6", "-i", "ffile.txt", "zap"}) {
    EXPECT_EQ(run(word), "") << word;
  }
  EXPECT_TRUE(port.cable.ops.empty());
  EXPECT_EQ(run_failed, 0);
}

TEST_F(Commands, TargetProtocolAroundEveryWord) {
  run("gc");  // needs the target: reset, enable and signature come first
  ASSERT_GE(port.cable.instructions.size(), 5u);
  EXPECT_EQ(port.cable.instructions[0][0], 0xAC);
  EXPECT_EQ(port.cable.instructions[1][0], 0x30);
  EXPECT_EQ(port.cable.instructions.back()[0], 0x38);
  EXPECT_EQ(target_released, 1);  // released after the word
  EXPECT_EQ(current_part, 4);

  port.cable.instructions.clear();
  run("nv");  // does not need the target
  EXPECT_TRUE(port.cable.instructions.empty());

  enter_programming_mode();  // a previous step left it in programming mode
  run("nothing");
  EXPECT_EQ(target_released, 1);
  EXPECT_TRUE(port.cable.data & 0x04);
}

TEST_F(Commands, FuseWritesRoundTrip) {
  EXPECT_EQ(run("pfae2,df,ff"), "Write fuse bytes: e2 df ff\n");
  EXPECT_EQ(port.cable.avr.low, 0xE2);
  EXPECT_EQ(port.cable.avr.high, 0xDF);
  EXPECT_EQ(port.cable.avr.extended, 0xFF);
  EXPECT_EQ(run("pf162"), "Write fuse byte 1: 62\n");
  EXPECT_EQ(run("pf2dd"), "Write fuse byte 2: dd\n");
  EXPECT_EQ(run("pf3f9"), "Write fuse byte 3: f9\n");
  EXPECT_EQ(run("gf"), "Fuse bytes: f9 dd 62\n");
  EXPECT_EQ(run("a"), "processorid = 4\nWrite fuse bytes: f9 df e2\n");
  EXPECT_EQ(run("gf"), "Fuse bytes: f9 df e2\n");
  EXPECT_EQ(run_failed, 0);
}

TEST_F(Commands, Atmega32SkipsTheExtendedFuse) {
  chip({0x1E, 0x95, 0x02}, 0x77, 0x99, 0xE1);
  EXPECT_EQ(run("pfae2,df,ff"), "Write fuse bytes: e2 df\n");
  EXPECT_EQ(port.cable.avr.extended, 0x77);
  EXPECT_EQ(run("a"), "processorid = 1\nWrite fuse bytes: e4 ff\n");
  EXPECT_EQ(port.cable.avr.low, 0xFF);
  EXPECT_EQ(port.cable.avr.high, 0xE4);
  EXPECT_EQ(port.cable.avr.extended, 0x77);
  EXPECT_EQ(run("gf"), "Fuse bytes: 77 e4\n");
  EXPECT_EQ(run("pf312"), "Write fuse byte 3: 12\n");  // pf3 is not held back
  EXPECT_EQ(port.cable.avr.extended, 0x12);
}

TEST_F(Commands, RefusedFuseWritesWriteNothing) {
  const std::string bad_values[] = {"pf1", "pf1zz", "pf2g", "pf3-", "pfa", "pfae2,df", "pfa1e2,df,ff",
                                    "pfae2,df,ff,00", "pfax,y,z"};
  for (const std::string& word : bad_values) {
    run_failed = 0;
    std::string out = run(word);
    EXPECT_NE(out.find("not written"), std::string::npos) << word << ": " << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << word << ": one line";
    EXPECT_EQ(run_failed, 1) << word;
  }
  EXPECT_EQ(fuse_writes(), 0);
  EXPECT_EQ(port.cable.avr.low, 0xE2);
}

TEST_F(Commands, NoFuseWriteToAnUnrecognisedChip) {
  chip({0x1E, 0x55, 0x01}, 0x01, 0x02, 0x03);
  for (const char* word : {"a", "pfae2,df,ff", "pf1e2", "pf2df", "pf3ff"}) {
    run_failed = 0;
    std::string out = run(word);
    EXPECT_NE(out.find("not recognised"), std::string::npos) << word << ": " << out;
    EXPECT_EQ(run_failed, 1) << word;
  }
  EXPECT_EQ(fuse_writes(), 0);
  EXPECT_EQ(current_part, -1);
  EXPECT_EQ(run("gf"), "Fuse bytes: 1 2 3\n");  // reading is harmless: all three shown
  EXPECT_EQ(run("i"), "Signature bytes: 1e 55 1  Processor: Unrecognized signature\n");
}

TEST_F(Commands, OverlongWordsAreRefused) {
  std::string word = "gf1" + std::string(197, 'x');  // 200 characters
  std::string out = run(word);
  EXPECT_NE(out.find("199"), std::string::npos) << out;
  EXPECT_EQ(run_failed, 1);
  EXPECT_TRUE(port.cable.instructions.empty());
  run_failed = 0;
  EXPECT_EQ(run(word.substr(0, 199)), "Fuse byte 1: e2\n");
  EXPECT_EQ(run_failed, 0);
}

TEST_F(Commands, ProcessorChecksReleaseThenReport) {
  EXPECT_EQ(run("x3"), "Target ATmega168 responding - default fuses set\n");
  EXPECT_EQ(run("XA"), "Reset 1: Target ATmega168 responding - default fuses set\n");
  port.cable.avr.in_step = false;
  EXPECT_EQ(run("x1"), "Target not responding to Enable Serial Programming command\n");
  EXPECT_EQ(run_failed, 1);
  EXPECT_EQ(target_released, 1);
}

}  // namespace
