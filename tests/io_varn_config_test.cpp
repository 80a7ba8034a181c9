// The varn board's settings, its state file and its report.
#include <gtest/gtest.h>

#include <cstdio>

#include "varn_banger.h"
#include "support/run_program.h"

using namespace io::sim;

namespace {
std::string made_with(const std::string& settings) {
  Options options;
  std::string message;
  EXPECT_TRUE(options.parse(settings, message)) << message;
  std::unique_ptr<Board> board = make_varn_board(options, nullptr, message);
  return board ? "" : message;
}

std::string report_of(VarnBoard& board) {
  std::FILE* out = std::tmpfile();
  board.write_report(out);
  std::rewind(out);
  std::string text;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  std::fclose(out);
  return text;
}
}  // namespace

TEST(VarnConfig, BadValuesAreRefusedWithOneLine) {
  const char* bad[] = {"part=ATmega999", "fuses=custom", "clock=0", "clock=8x", "strict=yes",
                       "timing=slow",    "fault=flip:0", "fault=flip:x", "fault=broken", "state="};
  for (const char* settings : bad) {
    std::string message = made_with(settings);
    EXPECT_FALSE(message.empty()) << settings;
    EXPECT_EQ(message.find('\n'), std::string::npos) << settings;
  }
  EXPECT_EQ(made_with("part=atmega16,fuses=factory,clock=7.3728,strict=1,timing=fast,fault=flip:5"), "");
  // Keys of other layers are left for them, so the register layer can refuse them.
  Options options;
  std::string message;
  ASSERT_TRUE(options.parse("part=ATmega32,colour=blue", message));
  ASSERT_TRUE(make_varn_board(options, nullptr, message));
  EXPECT_EQ(options.unknown(), std::vector<std::string>{"colour"});
}

TEST(VarnConfig, StatePersistsBetweenRuns) {
  TempDir dir;
  std::string state = "timing=fast,state=" + dir.file("chip.txt");
  std::string message;
  uint32_t flash_crc = 0;
  {
    Banger b(state + ",part=ATmega88");
    ASSERT_TRUE(b.board) << b.message;
    ASSERT_EQ(b.enable(), 0x53);
    b.load_word(0, 0xC00F);
    b.load_word(31, 0x1234);
    b.write_page(0x0FE0);  // last page of the 8 KB flash
    b.write_eeprom(0x01FF, 0x5A);
    b.instruction(0xAC, 0xA0, 0x00, 0x62);
    b.instruction(0xAC, 0xE0, 0x00, 0xFE);
    flash_crc = crc32(b.chip().flash.data(), b.chip().flash.size());
    ASSERT_TRUE(b.board->finish(message)) << message;
  }
  // The part comes from the file when part= is not given.
  Banger again(state);
  ASSERT_TRUE(again.board) << again.message;
  EXPECT_STREQ(again.chip().part->name(), "ATmega88");
  EXPECT_EQ(crc32(again.chip().flash.data(), again.chip().flash.size()), flash_crc);
  ASSERT_EQ(again.enable(), 0x53);
  EXPECT_EQ(again.read_word(0x0FE0), 0xC00F);
  EXPECT_EQ(again.read_word(0x0FFF), 0x1234);
  EXPECT_EQ(again.read_eeprom(0x01FF), 0x5A);
  EXPECT_EQ(again.fuses(), (std::array<uint8_t, 3>{0xF9, 0xDF, 0x62}));
  EXPECT_EQ(again.answer(0x58, 0x00, 0x00), 0xFE);

  // A state file of another part is refused, not overwritten.
  std::string before = dir.read("chip.txt");
  Banger other(state + ",part=ATmega644");
  EXPECT_FALSE(other.board);
  EXPECT_NE(other.message.find("ATmega88"), std::string::npos) << other.message;
  EXPECT_EQ(dir.read("chip.txt"), before);
}

TEST(VarnConfig, DamagedStateFilesAreRefused) {
  TempDir dir;
  std::string settings = "state=" + dir.file("chip.txt");
  const char* damaged[] = {
      "",
      "some other file\n",
      "varn-sim-state 1\nflash 000000 00\n",                      // no part yet
      "varn-sim-state 1\npart ATmega48\nflash 000ff0 " "00000000000000000000000000000000000000\n",  // beyond 4 KB
      "varn-sim-state 1\npart ATmega48\neeprom 0000 0g\n",
      "varn-sim-state 1\npart ATmega48\nfuses ff ff\n",
      "varn-sim-state 1\npart ATmega48\ncolour red\n",
  };
  for (const char* text : damaged) {
    dir.write("chip.txt", text);
    Banger b(settings);
    EXPECT_FALSE(b.board) << text;
    EXPECT_NE(b.message.find("chip.txt"), std::string::npos) << b.message;
  }
  // A missing file is a new chip, and the file is made at the end.
  std::remove(dir.file("chip.txt").c_str());
  Banger fresh(settings);
  ASSERT_TRUE(fresh.board) << fresh.message;
  std::string message;
  ASSERT_TRUE(fresh.board->finish(message)) << message;
  EXPECT_EQ(dir.read("chip.txt"), "varn-sim-state 1\npart ATmega644\nfuses ff d9 e7\nlock ff\n");
}

TEST(VarnConfig, ReportCountsTheSession) {
  Banger b("timing=fast");
  ASSERT_EQ(b.enable(), 0x53);
  b.chip_erase();
  b.load_word(0, 0x0102);
  b.write_page(0);
  b.write_eeprom(7, 0x33);
  b.instruction(0xAC, 0xA8, 0x00, 0xD8);
  std::string report = report_of(*b.board);
  auto value = [&](const std::string& key) { return report_value(report, key).value_or("<missing>"); };
  EXPECT_EQ(value("part"), "ATmega644");
  // enable, erase + 3 polls, 2 loads + page write + 3 polls, EEPROM write + 3 polls, fuse.
  EXPECT_EQ(value("instructions"), "16");
  EXPECT_EQ(value("chip_erases"), "1");
  EXPECT_EQ(value("page_writes"), "1");
  EXPECT_EQ(value("eeprom_writes"), "1");
  EXPECT_EQ(value("fuse_writes"), "1");
  EXPECT_EQ(value("ignored_while_busy"), "0");
  EXPECT_EQ(value("timing_violations"), "0");
  EXPECT_EQ(value("fuse_high"), "d8");
  EXPECT_NEAR(std::stod(value("sck_high_min_us")), b.phase_us, 1e-3);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", crc32(b.chip().flash.data(), b.chip().flash.size()));
  EXPECT_EQ(value("flash_crc32"), crc);
  std::snprintf(crc, sizeof crc, "%08x", crc32(b.chip().eeprom.data(), b.chip().eeprom.size()));
  EXPECT_EQ(value("eeprom_crc32"), crc);

  Banger idle("fault=absent");
  std::string none = report_of(*idle.board);
  EXPECT_EQ(report_value(none, "part").value_or(""), "none");
  EXPECT_EQ(report_value(none, "sck_low_min_us").value_or(""), "none");
}
