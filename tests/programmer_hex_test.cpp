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
  download_stream = std::fopen(dir.file("prog.hex").c_str(), "r");
  EXPECT_NE(download_stream, nullptr);
  testing::internal::CaptureStdout();
  const int result = load_hex_file();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(download_stream, nullptr) << "the reader closes its stream";
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

TEST_F(Hex, DataRecordsLoadAtTheirAddressesAndTheResultIsTheHighestEnd) {
  settings.fill_char = 0x5A;
  // Two records out of order: the result is the highest end, not the end of the last.
  Loaded r = load_text(dir,
                       ":10010000000102030405060708090A0B0C0D0E0F77\n"
                       ":10000000F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF78\n"
                       ":00000001FF\n");
  EXPECT_EQ(r.result, 272);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(load_image[0], 0xF0);
  EXPECT_EQ(load_image[15], 0xFF);
  EXPECT_EQ(load_image[16], 0x5A) << "unset bytes keep the fill byte";
  EXPECT_EQ(load_image[0x100], 0x00);
  EXPECT_EQ(load_image[0x10F], 0x0F);
}

TEST_F(Hex, OnlyAnEndRecordGivesZeroAndAFilledImage) {
  settings.fill_char = 0x3C;
  load_image[100] = 0;
  Loaded r = load_text(dir, ":00000001FF\r\n");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(load_image[0], 0x3C);
  EXPECT_EQ(load_image[100], 0x3C);
  EXPECT_EQ(load_image[IMAGE_SIZE - 1], 0x3C);
}

TEST_F(Hex, ExtendedAddressesSetTheBaseForTheRecordsAfterThem) {
  Loaded r = load_text(dir,
                       ":020000040001F9\n"
                       ":020010001122BB\n"
                       ":020000021000EC\n"  // segment 0x1000: base 0x10000 again
                       ":0100010033CB\n");
  EXPECT_EQ(r.result, 65552 + 2) << "the highest end, from the first data record";
  EXPECT_EQ(load_image[65552], 0x11);
  EXPECT_EQ(load_image[65553], 0x22);
  EXPECT_EQ(load_image[65537], 0x33);
}

TEST_F(Hex, OffsetsRunOnPastFFFFWithinOneRecord) {
  Loaded r = load_text(dir, ":04FFFE00A1B2C3D415\n");
  EXPECT_EQ(r.result, 0xFFFE + 4);
  EXPECT_EQ(load_image[0xFFFE], 0xA1);
  EXPECT_EQ(load_image[0x10001], 0xD4);
}

TEST_F(Hex, LenientAboutTextTypesCaseAndRecordsAfterTheEnd) {
  Loaded r = load_text(dir,
                       "produced by hand\n"
                       ":03000000aBcDeF96 trailing words\n"
                       ":0400000300001234B3\n"  // start segment address: skipped
                       ":00000001FF\n"
                       ":010020007768\n");  // after the end record, still read
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.result, 0x21);
  EXPECT_EQ(load_image[0], 0xAB);
  EXPECT_EQ(load_image[2], 0xEF);
  EXPECT_EQ(load_image[0x20], 0x77);
}

TEST_F(Hex, AWrongChecksumLoadsButWarnsWithItsLine) {
  Loaded r = load_text(dir,
                       ":03000000010203F7\n"
                       ":03000300040506E0\n"
                       ":00000001FF\n");
  EXPECT_EQ(r.result, 6);
  EXPECT_EQ(load_image[3], 0x04);
  EXPECT_EQ(load_image[5], 0x06);
  EXPECT_EQ(r.out, "prog.hex line 2: checksum e0 should be eb - loaded anyway\n");
}

TEST_F(Hex, MalformedRecordsAreRefusedWithTheirLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {":03000000010203F7\n\n:0300030004G506EB\n",
       "prog.hex line 3: not a hexadecimal field - download refused\n"},
      {":03000000010203F7\n:0300\n", "prog.hex line 2: not a hexadecimal field - download refused\n"},
      {":03000000010203F7\n:03000300040506", "prog.hex line 2: record cut short by the end of the file - download refused\n"},
      {":020000040", "prog.hex line 1: record cut short by the end of the file - download refused\n"},
      {": 3000000010203F7\n", "prog.hex line 1: not a hexadecimal field - download refused\n"},
      {"\x7f" "ELF binary, text\n", "prog.hex holds no Intel HEX records - download refused\n"},
  };
  for (const Case& c : cases) {
    Loaded r = load_text(dir, c.text);
    EXPECT_EQ(r.result, -1) << c.text;
    EXPECT_EQ(r.out, c.message) << c.text;
  }
}

TEST_F(Hex, DataOutsideTheImageIsRefusedAndNotStored) {
  settings.fill_char = 0xFF;
  // 0x58DD1 + 16 runs past the 364000-byte image; the record just before fits exactly.
  Loaded fits = load_text(dir, ":020000040005F5\n:108DD000000102030405060708090A0B0C0D0E0F1B\n");
  EXPECT_EQ(fits.result, IMAGE_SIZE);
  EXPECT_EQ(load_image[IMAGE_SIZE - 1], 0x0F);

  Loaded r = load_text(dir, ":020000040005F5\n:108DD100000102030405060708090A0B0C0D0E0F1A\n");
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, "prog.hex line 2: data up to 0x58de1 beyond the 364000-byte image - download refused\n");
  EXPECT_EQ(load_image[IMAGE_SIZE - 1], 0xFF) << "nothing of the refused record is stored";

  Loaded far = load_text(dir, ":02000004FFFFFC\n:0100000055AA\n");
  EXPECT_EQ(far.result, -1);
  EXPECT_NE(far.out.find("line 2: data up to 0xffff0001 beyond the 364000-byte image"),
            std::string::npos);
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
