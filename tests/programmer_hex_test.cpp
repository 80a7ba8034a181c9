// The Intel HEX reader and writer, on real files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hex.h"
#include "image.h"
#include "run_program.h"
#include "settings.h"

namespace {

struct Loaded {
  int result;
  std::string out;
};

// Loads `text` as the download file "prog.hex" the way the download commands do.
Loaded load_text(const TempDir& dir, const std::string& text) {
  dir.write("prog.hex", text);
  std::snprintf(settings.download_file_name, FILE_NAME_CAPACITY, "prog.hex");
  std::FILE* file = std::fopen(dir.file("prog.hex").c_str(), "r");
  EXPECT_NE(file, nullptr);
  testing::internal::CaptureStdout();
  const int result = load_hex_file(file);
  std::string out = testing::internal::GetCapturedStdout();
  if (file) std::fclose(file);
  return {result, out};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string write_text(const TempDir& dir, int length) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_hex_file(dir.file("out.hex").c_str(), length), 1);
  testing::internal::GetCapturedStdout();
  return dir.read("out.hex");
}

class Hex : public testing::Test {
 protected:
  void SetUp() override {
    reset_settings();
    settings.hex_extended_record_type = 4;
  }
  TempDir dir;
};

// Each row loads one file into an image cleared to zero, with its own fill byte, and
// checks the result, the whole output and the bytes named.
TEST_F(Hex, TheReaderLoadsWhatTheRecordsSayAndRefusesWhatItCannotTrust) {
  const std::string beyond = " beyond the 364000-byte image - download refused\n";
  const std::string cut = "record cut short by the end of the file - download refused\n";
  const std::string not_hex = "not a hexadecimal field - download refused\n";
  struct Row {
    const char* label;
    uint8_t fill;
    std::string text;
    int result;
    std::string out;
    std::vector<std::pair<int, uint8_t>> bytes;  // address, value after the load
  } rows[] = {
      {"out of order: the highest end, not the end of the last; unset bytes keep the fill", 0x5A,
       ":10010000000102030405060708090A0B0C0D0E0F77\n:10000000F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF78\n:00000001FF\n", 272,
       "", {{0, 0xF0}, {15, 0xFF}, {16, 0x5A}, {0x100, 0x00}, {0x10F, 0x0F}}},
      {"only an end record: zero and a filled image", 0x3C, ":00000001FF\r\n", 0, "",
       {{0, 0x3C}, {100, 0x3C}, {IMAGE_SIZE - 1, 0x3C}}},
      // segment 0x1000: base 0x10000 again; the highest end is the first data record's
      {"extended addresses set the base for the records after them", 0xFF,
       ":020000040001F9\n:020010001122BB\n:020000021000EC\n:0100010033CB\n", 65552 + 2, "",
       {{65552, 0x11}, {65553, 0x22}, {65537, 0x33}}},
      {"offsets run on past FFFF within one record", 0xFF, ":04FFFE00A1B2C3D415\n", 0xFFFE + 4, "",
       {{0xFFFE, 0xA1}, {0x10001, 0xD4}}},
      // a start segment address skipped; a record after the end record still read
      {"lenient about text, types, case and records after the end", 0xFF,
       "produced by hand\n:03000000aBcDeF96 trailing words\n:0400000300001234B3\n:00000001FF\n:010020007768\n", 0x21,
       "", {{0, 0xAB}, {2, 0xEF}, {0x20, 0x77}}},
      {"a wrong checksum loads but warns with its line", 0xFF, ":03000000010203F7\n:03000300040506E0\n:00000001FF\n", 6,
       "prog.hex line 2: checksum e0 should be eb - loaded anyway\n", {{3, 0x04}, {5, 0x06}}},
      {"bad digit", 0xFF, ":03000000010203F7\n\n:0300030004G506EB\n", -1, "prog.hex line 3: " + not_hex, {}},
      {"short record", 0xFF, ":03000000010203F7\n:0300\n", -1, "prog.hex line 2: " + not_hex, {}},
      {"cut data", 0xFF, ":03000000010203F7\n:03000300040506", -1, "prog.hex line 2: " + cut, {}},
      {"cut extended record", 0xFF, ":020000040", -1, "prog.hex line 1: " + cut, {}},
      {"blank count", 0xFF, ": 3000000010203F7\n", -1, "prog.hex line 1: " + not_hex, {}},
      {"no records", 0xFF, "\x7f" "ELF binary, text\n", -1, "prog.hex holds no Intel HEX records - download refused\n", {}},
      // 0x58DD1 + 16 runs past the image; the record just before fits exactly, and
      // nothing of a refused record is stored.
      {"the last record that fits", 0xFF, ":020000040005F5\n:108DD000000102030405060708090A0B0C0D0E0F1B\n", IMAGE_SIZE, "",
       {{IMAGE_SIZE - 1, 0x0F}}},
      {"one byte beyond", 0xFF, ":020000040005F5\n:108DD100000102030405060708090A0B0C0D0E0F1A\n", -1,
       "prog.hex line 2: data up to 0x58de1" + beyond, {{IMAGE_SIZE - 1, 0xFF}}},
      {"far beyond", 0xFF, ":02000004FFFFFC\n:0100000055AA\n", -1, "prog.hex line 2: data up to 0xffff0001" + beyond, {}},
  };
  for (const Row& row : rows) {
    std::memset(load_image, 0, IMAGE_SIZE);
    settings.fill_char = row.fill;
    const Loaded r = load_text(dir, row.text);
    EXPECT_EQ(r.result, row.result) << row.label;
    EXPECT_EQ(r.out, row.out) << row.label;
    for (auto [address, value] : row.bytes) EXPECT_EQ(load_image[address], value) << row.label << " at " << address;
  }
}

TEST_F(Hex, WriterGivesLowerCaseSixteenByteRecordsAndTheFixedEnd) {
  readback_image[0] = 1, readback_image[1] = 2, readback_image[2] = 3;
  EXPECT_EQ(write_text(dir, 3), ":03000000010203f7\n:00000001FF\n");
  EXPECT_EQ(write_text(dir, 0), ":00000001FF\n");

  for (int i = 0; i < 17; ++i) readback_image[i] = static_cast<uint8_t>(0xA0 + i);
  auto lines = lines_of(write_text(dir, 17));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], ":10000000a0a1a2a3a4a5a6a7a8a9aaabacadaeaf78");
  EXPECT_EQ(lines[1], ":01001000b03f");
}

TEST_F(Hex, WriterEmitsTheExtendedRecordOfTheChosenTypeAtEachBoundary) {
  std::memset(readback_image, 0, 65552);
  for (int type : {4, 2}) {
    settings.hex_extended_record_type = type;
    auto lines = lines_of(write_text(dir, 65552));
    ASSERT_EQ(lines.size(), 4096u + 3u);
    EXPECT_EQ(lines[4095], ":10fff0000000000000000000000000000000000001");
    EXPECT_EQ(lines[4096], type == 4 ? ":020000040001f9" : ":020000021000ec");
    EXPECT_EQ(lines[4097], ":1000000000000000000000000000000000000000f0");
    EXPECT_EQ(lines[4098], ":00000001FF");
  }
  // A length that ends on the boundary still gets its extended record.
  settings.hex_extended_record_type = 4;
  auto lines = lines_of(write_text(dir, 65536));
  ASSERT_EQ(lines.size(), 4096u + 2u);
  EXPECT_EQ(lines[4096], ":020000040001f9");
}

TEST_F(Hex, WhatTheWriterWritesTheReaderReadsBack) {
  std::mt19937 random(7);
  const int length = 200000;  // past three segment boundaries, ending mid-record
  for (int i = 0; i < length; ++i) readback_image[i] = static_cast<uint8_t>(random());
  for (int type : {4, 2}) {
    settings.hex_extended_record_type = type;
    const std::string text = write_text(dir, length);
    Loaded r = load_text(dir, text);
    EXPECT_EQ(r.result, length);
    EXPECT_EQ(r.out, "") << "the writer's checksums are right";
    EXPECT_EQ(std::memcmp(load_image, readback_image, length), 0);
  }
}

TEST_F(Hex, WriterReplacesAnOldFileWholeAndReportsWhatItCannotCreate) {
  dir.write("out.hex", std::string(5000, 'x'));
  readback_image[0] = 1, readback_image[1] = 2, readback_image[2] = 3;
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_hex_file(dir.file("out.hex").c_str(), 3), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Write Flash/EEPROM data to " + dir.file("out.hex") + "\n");
  EXPECT_EQ(dir.read("out.hex"), ":03000000010203f7\n:00000001FF\n");
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.exists();
  EXPECT_EQ(entries, 1) << "no temporary file is left beside it";

  const std::string missing = dir.file("no-such-folder/out.hex");
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_hex_file(missing.c_str(), 3), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Can't open output file " + missing + "\n");
}

}  // namespace
