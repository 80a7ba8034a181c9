// Every row `varnprog --parts` lists, end to end on the simulated board at factory fuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "varnprog_runs.h"

namespace {

struct Listed {
  std::string name;  // as the table prints it: "ATmega644P/644PA"
  size_t flash = 0, eeprom = 0;
  std::vector<std::string> own_names;  // ATmega644P, ATmega644PA
};

const std::vector<Listed>& listed() {
  static const std::vector<Listed> rows = [] {
    TempDir dir;
    RunOptions options;
    options.args = {"--parts"};
    std::istringstream lines(run_program("varnprog", options, dir).out);
    std::vector<Listed> found;
    std::string line;
    for (std::getline(lines, line); std::getline(lines, line);) {  // under the heading
      Listed r;
      std::string skip;  // the signature's bytes, the page size
      std::istringstream(line) >> r.name >> skip >> skip >> skip >> r.flash >> skip >> r.eeprom;
      std::istringstream names(r.name);
      for (std::string n; std::getline(names, n, '/');) r.own_names.push_back(r.own_names.empty() ? n : "ATmega" + n);
      found.push_back(r);
    }
    return found;
  }();
  return rows;
}

// The manual names every row. Each row's fresh chip (1 MHz) identifies on the strict board at
// real timing and takes its default fuses within the waits given (16 ms a fuse on the
// ATmega162); each of its names gives that chip. Rows from 7 on find its fuses set.
TEST(VarnprogParts, EveryRowIdentifiesByEachOfItsNames) {
  std::ifstream page(VARN_SOURCE_DIR "/docs/man/varnprog.1");
  const std::string manual{std::istreambuf_iterator<char>(page), {}};
  ASSERT_EQ(listed().size(), 40u);
  for (const Listed& r : listed()) {
    EXPECT_NE(manual.find(r.name), std::string::npos) << "the manual lists " << r.name;
    TempDir dir;
    RunResult strict = varnprog_reported(dir, {"-i", "-a"}, "timing=real,strict=1,fuses=factory,part=" + r.own_names[0]);
    const std::string out = after_banner(strict);
    EXPECT_TRUE(out.substr(0, out.find('\n') + 1).ends_with("  Processor: " + r.name + "\n")) << out;
    EXPECT_EQ(count_of(out, " after writing "), 0u) << out;
    EXPECT_EQ(strict.status, 0) << out << strict.err;
    EXPECT_EQ(report_of(dir, "timing_violations") + report_of(dir, "ignored_while_busy"), "00") << r.name;
    for (const std::string& name : r.own_names) {
      const std::string check = after_banner(varnprog(dir, {"-x1"}, "fuses=factory,part=" + name));
      const std::string set = &r - listed().data() >= 7 ? "set\n" : "";
      EXPECT_EQ(check.rfind("Target " + r.name + " responding - default fuses " + set, 0), 0u) << check;
    }
  }
}

// Two fuse bytes without an EEPROM page; 64-byte flash pages; 256 KiB reached through
// Load Extended Address; an EEPROM page. Each memory filled, verified and read back.
TEST(VarnprogParts, OnePartOfEachShapeFillsBothMemoriesAndReadsThemBack) {
  for (const char* part : {"ATmega8535", "ATmega48PA", "ATmega2560", "ATmega32U4"}) {
    auto r = std::find_if(listed().begin(), listed().end(), [&](const Listed& l) {
      return std::find(l.own_names.begin(), l.own_names.end(), part) != l.own_names.end();
    });
    ASSERT_NE(r, listed().end()) << part;
    TempDir dir;
    const Bytes flash = random_bytes(r->flash, 1), eeprom = random_bytes(r->eeprom, 2);
    dir.write("flash.hex", hex_text(flash));
    dir.write("eeprom.hex", hex_text(eeprom));
    RunResult run = varnprog(dir, {"-dfflash.hex", "-deeeprom.hex", "-ufflash-up.hex", "-ueeeprom-up.hex"},
                             std::string("strict=1,fuses=factory,part=") + part);
    EXPECT_EQ(run.status, 0) << part << run.err;
    EXPECT_NE(run.out.find("Target Flash matches flash.hex\n"), std::string::npos) << part;
    EXPECT_NE(run.out.find("Target matches eeprom.hex\n"), std::string::npos) << part;
    for (const auto& [file, data] : {std::pair{"flash-up.hex", &flash}, std::pair{"eeprom-up.hex", &eeprom}}) {
      std::map<uint32_t, uint8_t> expected;
      for (uint32_t a = 0; a < data->size(); ++a) expected[a] = (*data)[a];
      EXPECT_TRUE(hex_bytes(dir.read(file)) == expected) << part << " " << file;
    }
  }
}

// A program that avr-gcc built for the part downloads to flash and EEPROM.
TEST(VarnprogParts, AnAvrGccProgramForEachPartDownloads) {
  if (std::system("command -v avr-gcc >/dev/null 2>&1") != 0) GTEST_SKIP() << "avr-gcc is not installed";
  TempDir dir;
  dir.write("p.c", "#include <avr/eeprom.h>\nconst char text[] EEMEM = \"EEPROM\";\nvolatile char copy[] = \"data\";\n"
                   "int main(void) { for (;;) copy[0] = eeprom_read_byte((const uint8_t*)text); }\n");
  for (const Listed& r : listed()) {
    const std::string mmcu = "$(echo " + r.own_names[0] + " | tr A-Z a-z)";
    const std::string build = "cd '" + dir.path() + "' && avr-gcc -mmcu=" + mmcu + " -Os -o p.elf p.c";
    ASSERT_EQ(std::system(build.c_str()), 0) << build;
    RunResult run = varnprog(dir, {"-dfp.elf", "-dep.elf"}, "fuses=factory,part=" + r.own_names[0]);
    EXPECT_EQ(count_of(run.out, " matches p.elf\n"), 2u) << r.name << run.out;
    EXPECT_EQ(run.status, 0) << r.name << run.err;
  }
}

}  // namespace
