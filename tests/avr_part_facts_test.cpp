// The parts table held against a copy of the part data it was written from
// (tests/data/*.csv), so a typo in a row shows up as the column it spoils.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "part_facts.h"

namespace {

using Row = std::map<std::string, std::string>;

// Comma-separated lines under a header line; a quoted field may hold commas.
std::vector<Row> read_csv(const std::string& name) {
  std::ifstream in(std::string(VARN_SOURCE_DIR) + "/tests/data/" + name);
  std::vector<std::string> header;
  std::vector<Row> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      else if (c == ',' && !quoted) fields.emplace_back();
      else if (c != '\r') fields.back() += c;
    }
    if (header.empty()) header = fields;
    else rows.emplace_back();
    for (size_t c = 0; !rows.empty() && c < header.size() && c < fields.size(); ++c) rows.back()[header[c]] = fields[c];
  }
  return rows;
}

std::string hex(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

std::string bit(avr::FuseBitAt at) {
  const char* fuse[] = {"ext", "high", "low"};
  if (!at.exists()) return "-";
  int n = 0;
  while ((at.mask >> n) != 1) ++n;
  return std::string(fuse[at.fuse]) + ":" + std::to_string(n);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Each column of the two files as the part's row gives it.
std::map<std::string, std::string> columns(const avr::Part& p) {
  const bool ext = p.fuse_bytes == 3;
  char signature[16];
  std::snprintf(signature, sizeof signature, "%02X %02X %02X", p.signature[0], p.signature[1], p.signature[2]);
  return {
      {"signature", signature},
      {"flash_B", std::to_string(p.flash_bytes)},
      {"flash_page_B", std::to_string(p.flash_page_bytes)},
      {"eeprom_B", std::to_string(p.eeprom_bytes)},
      {"eeprom_isp_page_B", p.eeprom_page_bytes ? std::to_string(p.eeprom_page_bytes) : "none"},
      {"fuse_bytes", std::to_string(p.fuse_bytes)},
      {"lfuse_factory", hex(p.factory_fuses[avr::FUSE_LOW])},
      {"hfuse_factory", hex(p.factory_fuses[avr::FUSE_HIGH])},
      {"efuse_factory", ext ? hex(p.factory_fuses[avr::FUSE_EXTENDED]) : "-"},
      {"efuse_mask", ext ? hex(p.extended_used_bits()) : "-"},
      {"tWD_FLASH_us", std::to_string(p.flash_write_us)},
      {"tWD_EEPROM_us", std::to_string(p.eeprom_write_us)},
      {"tWD_ERASE_us", std::to_string(p.erase_us)},
      {"tWD_FUSE_us", std::to_string(p.fuse_write_us)},
      {"load_ext_addr_4D", p.load_extended_address ? "Y" : "N"},
      {"rstdisbl", bit(p.rstdisbl)},
      {"dwen", bit(p.dwen)},
      {"spien", bit(p.spien)},
      {"jtagen", bit(p.jtagen)},
      {"ocden", bit(p.ocden)},
      {"low_unused_mask", hex(p.unused_bits[avr::FUSE_LOW])},
      {"high_unused_mask", hex(p.unused_bits[avr::FUSE_HIGH])},
      {"ext_unused_mask", ext ? hex(p.unused_bits[avr::FUSE_EXTENDED]) : "-"},
  };
}

TEST(PartFacts, EveryRowHoldsTheDataItWasWrittenFrom) {
  for (const char* file : {"avr-parts.csv", "avr-fuse-roles.csv"}) {
    std::vector<Row> rows = read_csv(file);
    EXPECT_EQ(rows.size(), std::size(avr::PARTS)) << file;
    for (Row& row : rows) {
      const std::string& name = row["part"];
      const avr::Part* part = avr::find_part(name);
      ASSERT_NE(part, nullptr) << file << ": " << name;
      EXPECT_STREQ(part->name(), name.c_str());
      EXPECT_EQ(avr::find_part(part->signature[0], part->signature[1], part->signature[2]), part) << name;
      for (const auto& [column, value] : columns(*part))  // each file holds some of the columns
        EXPECT_EQ(lower(value), lower(row.count(column) ? row[column] : value)) << file << ": " << name << " " << column;
      // "same signature as ATmega16A": the row answers to that name too.
      const std::string note = row["notes"];
      size_t at = note.find("same signature as ");
      if (at == std::string::npos) continue;
      std::istringstream others(note.substr(at, note.find_first_of("(;", at) - at));
      for (std::string word; others >> word;)
        EXPECT_TRUE(word.rfind("ATmega", 0) != 0 || avr::part_has_name(*part, word)) << name << " " << word;
    }
  }
}

// The clock a low fuse names, where it names one: the calibrated RC oscillator, divided
// by CKDIV8 or selected at 1 to 8 MHz. A part ships at 1 MHz or on a clock the fuses
// don't name, never faster: a row whose family gave its factory fuse a faster clock
// would let the programmer clock a new chip too fast.
TEST(PartFacts, TheLowFuseNamesOnlyTheInternalOscillator) {
  using avr::ClockSource;
  struct Case {
    ClockSource source;
    uint8_t low;
    double mhz;
  } cases[] = {{ClockSource::RC8_CKDIV8, 0x62, 1}, {ClockSource::RC8_CKDIV8, 0xE2, 8},
              {ClockSource::RC8_CKDIV8, 0xE7, 0},  {ClockSource::RC8_CKDIV8, 0x63, 0},
              {ClockSource::RC_1_2_4_8, 0xE1, 1}, {ClockSource::RC_1_2_4_8, 0x22, 2},
              {ClockSource::RC_1_2_4_8, 0xA3, 4}, {ClockSource::RC_1_2_4_8, 0xD4, 8},
              {ClockSource::RC_1_2_4_8, 0xE0, 0}, {ClockSource::RC_1_2_4_8, 0xEF, 0},
              {ClockSource::UNNAMED, 0x62, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(avr::named_clock_mhz(c.source, c.low), c.mhz) << static_cast<int>(c.source) << " " << hex(c.low);
  for (const avr::Part& part : avr::PARTS) {
    const double factory = avr::named_clock_mhz(part.clock_source, part.factory_fuses[avr::FUSE_LOW]);
    EXPECT_TRUE(factory == 0 || factory == 1) << part.name() << ": " << factory << " MHz";
  }
}

}  // namespace
