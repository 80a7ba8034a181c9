// The shipped examples, used as a user would: every blink HEX file programmed into
// its part on the simulated board, the EEPROM pattern written and read back, the
// production command files run, and the example pavoltconfig.txt read by pavolt.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

std::string example_path(const std::string& name) { return std::string(VARN_SOURCE_DIR) + "/examples/" + name; }

std::string read_example(const std::string& name) {
  std::ifstream in(example_path(name), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Part {
  const char* file;   // blink-<file>.hex
  const char* sim;    // part= of the simulated board
  const char* name;   // as varnprog prints it
  size_t flash_bytes;
};

constexpr std::array<Part, 7> parts{{
    {"atmega16", "ATmega16", "ATmega16", 16384},
    {"atmega32", "ATmega32", "ATmega32", 32768},
    {"atmega48", "ATmega48", "ATmega48", 4096},
    {"atmega88", "ATmega88", "ATmega88", 8192},
    {"atmega168", "ATmega168", "ATmega168", 16384},
    {"atmega644", "ATmega644", "ATmega644", 65536},
    {"atmega128", "ATmega128", "ATmega128", 131072},
}};

// A strict Intel HEX reader of its own (types 00, 01, 02, 04), independent of the
// programmer's lenient one: it fails on a bad checksum, a missing end record, or
// data past `size`, so a damaged example can't pass.
bool load_hex(const std::string& text, std::vector<uint8_t>& memory, std::string& why) {
  std::istringstream in(text);
  std::string line;
  uint32_t base = 0;
  bool ended = false;
  int number = 0;
  auto byte_at = [&](size_t i) { return static_cast<uint8_t>(std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16)); };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (ended) return why = "data after the end record, line " + std::to_string(number), false;
    if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0)
      return why = "malformed line " + std::to_string(number), false;
    size_t count = byte_at(0);
    if (line.size() != 11 + 2 * count) return why = "wrong length, line " + std::to_string(number), false;
    uint8_t sum = 0;
    for (size_t i = 0; i < count + 5; ++i) sum = static_cast<uint8_t>(sum + byte_at(i));
    if (sum != 0) return why = "bad checksum, line " + std::to_string(number), false;
    uint32_t address = static_cast<uint32_t>(byte_at(1) << 8 | byte_at(2));
    switch (byte_at(3)) {
      case 0:
        for (size_t i = 0; i < count; ++i) {
          size_t at = base + address + i;
          if (at >= memory.size()) return why = "data past the memory, line " + std::to_string(number), false;
          memory[at] = byte_at(4 + i);
        }
        break;
      case 1: ended = true; break;
      case 2: base = static_cast<uint32_t>(byte_at(4) << 8 | byte_at(5)) << 4; break;
      case 4: base = static_cast<uint32_t>(byte_at(4) << 8 | byte_at(5)) << 16; break;
      default: break;
    }
  }
  if (!ended) return why = "no end record", false;
  return true;
}

uint32_t crc32_of(const std::vector<uint8_t>& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

RunOptions sim(const std::string& settings, std::vector<std::string> args) {
  RunOptions options;
  options.env = {{"LPT1", "sim:timing=fast," + settings}};
  options.args = std::move(args);
  return options;
}

TEST(ReleaseExamples, EveryBlinkFileProgramsItsPartAndLandsInFlash) {
  for (const Part& part : parts) {
    SCOPED_TRACE(part.file);
    std::string file = std::string("blink-") + part.file + ".hex";
    std::string text = read_example(file);
    ASSERT_FALSE(text.empty()) << file << " is missing";

    std::vector<uint8_t> flash(part.flash_bytes, 0xFF);
    std::string why;
    ASSERT_TRUE(load_hex(text, flash, why)) << file << ": " << why;
    // The reset vector must be there: a file that starts elsewhere never runs.
    ASSERT_NE(flash[0], 0xFF) << file << " has nothing at address 0";

    TempDir dir;
    dir.write(file, text);
    RunResult run = run_program("varnprog", sim(std::string("part=") + part.sim + ",report=report.txt",
                                                {"-i", "-df" + file}), dir);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(std::string("Processor: ") + part.name + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Target Flash matches " + file), std::string::npos) << run.out;
    EXPECT_EQ(report_value(dir.read("report.txt"), "flash_crc32"), hex8(crc32_of(flash)));
  }
}

TEST(ReleaseExamples, EepromPatternWritesAndUploadsBackUnchanged) {
  std::string file = "blink-pattern-eeprom.hex";
  std::string text = read_example(file);
  std::vector<uint8_t> smallest_eeprom(256, 0xFF);
  std::string why;
  ASSERT_TRUE(load_hex(text, smallest_eeprom, why)) << why;
  // The blink program reads (on, off) pairs from address 0 and stops at a zero on time.
  ASSERT_NE(smallest_eeprom[0], 0x00);
  ASSERT_NE(smallest_eeprom[0], 0xFF);

  TempDir dir;
  dir.write(file, text);
  RunResult run = run_program("varnprog", sim("part=ATmega48", {"-de" + file, "-ueback.hex"}), dir);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Target matches " + file), std::string::npos) << run.out;
  std::vector<uint8_t> uploaded(256, 0xFF);
  ASSERT_TRUE(load_hex(dir.read("back.hex"), uploaded, why)) << why;
  EXPECT_EQ(uploaded, smallest_eeprom);
}

// Copies examples into `dir`.
void stage(const TempDir& dir, const std::vector<std::string>& names) {
  for (const auto& name : names) dir.write(name, read_example(name));
}

// The ELF example holds the ATmega644 blink program and the EEPROM pattern: each
// download takes its own part of the file and lands the same bytes as the HEX files.
TEST(ReleaseExamples, ElfExampleProgramsTheBlinkFlashAndThePattern) {
  std::vector<uint8_t> flash(65536, 0xFF), eeprom(2048, 0xFF);
  std::string why;
  ASSERT_TRUE(load_hex(read_example("blink-atmega644.hex"), flash, why)) << why;
  ASSERT_TRUE(load_hex(read_example("blink-pattern-eeprom.hex"), eeprom, why)) << why;
  TempDir dir;
  stage(dir, {"blink-atmega644.elf"});
  RunResult run = run_program("varnprog", sim("report=r", {"-dfblink-atmega644.elf", "-deblink-atmega644.elf"}), dir);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Target Flash matches blink-atmega644.elf"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Target matches blink-atmega644.elf"), std::string::npos) << run.out;
  EXPECT_EQ(report_value(dir.read("r"), "flash_crc32"), hex8(crc32_of(flash)));
  EXPECT_EQ(report_value(dir.read("r"), "eeprom_crc32"), hex8(crc32_of(eeprom)));
}

// Each production command file on its part with factory fuses, so the run's "a" has
// real work to do and the last check must see the defaults.
TEST(ReleaseExamples, ProductionRunsWriteTheFusesTheyNameAndSucceedEndToEnd) {
  for (auto [file, part, lines] :
       {std::tuple{"atmega644", "ATmega644",
                   std::vector<std::string>{"Signature bytes: 1e 96 9  Processor: ATmega644\n",
                                            "Write fuse bytes: ff d9 e7\n", "Fuse bytes: ff d9 e7\n",
                                            "Target ATmega644 responding - default fuses set"}},
        {"atmega168", "ATmega168", {"Write fuse bytes: e2 df f9\n", "Fuse bytes: f9 df e2\n"}}}) {
    const std::string hex = std::string("blink-") + file + ".hex", script = std::string("production-") + file + ".txt";
    TempDir dir;
    stage(dir, {script, hex, "blink-pattern-eeprom.hex"});
    RunResult run = run_program("varnprog", sim(std::string("part=") + part + ",fuses=factory", {"F" + script}), dir);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    lines.insert(lines.end(), {"Target Flash matches " + hex, "Target matches blink-pattern-eeprom.hex"});
    for (const auto& line : lines) EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  }
}

TEST(ReleaseExamples, ProductionRunAgainstNoChipFails) {
  // A production script must not look successful when nothing is on the cable.
  TempDir dir;
  stage(dir, {"production-atmega644.txt", "blink-atmega644.hex", "blink-pattern-eeprom.hex"});
  RunResult run = run_program("varnprog", sim("fault=absent", {"Fproduction-atmega644.txt"}), dir);
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_EQ(run.out.find("Target Flash matches"), std::string::npos) << run.out;
}

TEST(ReleaseExamples, ExampleConfigurationSetsEveryKey) {
  std::string config = read_example("pavoltconfig.txt");
  const char* keys[] = {
      "max_x_step_pps", "min_x_step_pps", "max_y_step_pps", "min_y_step_pps", "max_z_step_pps",
      "min_z_step_pps", "max_a_step_pps", "min_a_step_pps", "max_feedrate",   "x_resolution",
      "y_resolution",   "z_resolution",   "a_resolution",   "x_axis_enable",  "y_axis_enable",
      "z_axis_enable",  "a_axis_enable",  "x_axis_direction", "y_axis_direction", "z_axis_direction",
      "a_axis_direction", "x_step_mode", "y_step_mode",   "z_step_mode",    "a_step_mode"};
  std::istringstream words(config);
  std::vector<std::string> seen;
  for (std::string w; words >> w;) seen.push_back(w);
  for (const char* key : keys) {
    int count = 0;
    for (const auto& w : seen) count += w == key;
    EXPECT_EQ(count, 1) << key;
  }

  TempDir dir;
  dir.write("pavoltconfig.txt", config);
  RunOptions options;
  options.env = {{"LPT1", "sim"}};
  options.args = {"-p"};
  RunResult run = run_program("pavolt", options, dir);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("pavoltconfig.txt file found - Updating parameters\n"), std::string::npos);
  // The values that differ from the built-in ones show that the file was read
  // through to its end, remarks and all.
  EXPECT_NE(run.out.find("  X step pps min/max: 20 3000\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  Z step pps min/max: 10 2500\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  Z-Axis resolution: 0.000500 in/step\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Axis Status:  X W CW ON, Y W CCW ON, Z H CW ON, A F CW OFF\n"), std::string::npos)
      << run.out;
}

}  // namespace
