// With the real delay calibration and a chip that checks serial-programming timing
// strictly, the link's waits keep every bit inside the chip's limits, whatever figure
// "gcal.txt" holds: the monotonic clock ends every wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "varnprog_runs.h"

namespace {

class VarnprogRealTiming : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One run without "gcal.txt" measures the loop speed and leaves the figure behind.
    TempDir dir;
    RunOptions options;
    options.args = {"-h"};
    options.env = {{"LPT1", "sim:timing=fast"}};
    options.gcal = std::nullopt;
    RunResult r = run_program("varnprog", options, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    calibration = new std::string(dir.read("gcal.txt"));
  }
  static void TearDownTestSuite() {
    delete calibration;
    calibration = nullptr;
  }
  // `gcal`: the calibration file to start with; nullopt keeps what the folder holds.
  RunResult run(const std::vector<std::string>& args, const std::string& keys, const std::string& input = "",
                std::optional<std::string> gcal = *calibration) {
    RunOptions options;
    options.args = args;
    options.input = input;
    options.env = {{"LPT1", "sim:strict=1,report=" + dir.file("report.txt") + "," + keys}};
    options.gcal = std::move(gcal);
    options.timeout_s = 120;
    return run_program("varnprog", options, dir);
  }
  // Identifies a factory-fresh `part` (1 MHz: every SCK phase must last more than 2 us)
  // starting with `gcal`: nullopt keeps what the folder holds, or calibrates afresh.
  RunResult identify_at_1MHz(const std::string& part, std::optional<std::string> gcal, const std::string& why) {
    RunResult r = run({"-i"}, "fuses=factory,part=" + part, "", std::move(gcal));
    EXPECT_NE(r.out.find("  Processor: " + part + "\n"), std::string::npos) << why << r.out;
    EXPECT_EQ(report("timing_violations"), "0") << why;
    EXPECT_GE(std::stod(report("sck_high_min_us")), 2.0) << why;
    return r;
  }
  std::string report(const std::string& key) {
    return report_value(dir.read("report.txt"), key).value_or("<missing " + key + ">");
  }
  static std::string* calibration;
  TempDir dir;
};

std::string* VarnprogRealTiming::calibration = nullptr;

TEST_F(VarnprogRealTiming, CommandLineIdentifyAndFuseWrite) {
  ASSERT_NE(calibration, nullptr);
  EXPECT_NE(*calibration, "");
  RunResult r = run({"-i", "-pf2d9", "-gf", "-x1"}, "part=ATmega644");
  EXPECT_EQ(after_banner(r),
            "Signature bytes: 1e 96 9  Processor: ATmega644\n"
            "Write fuse byte 2: d9\n"
            "Fuse bytes: ff d9 e7\n"
            "Target ATmega644 responding - default fuses set\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(report("timing_violations"), "0");
  EXPECT_EQ(report("fuse_writes"), "1");
}

// An 8 MHz chip allows SCK phases no shorter than 0.25 us.
TEST_F(VarnprogRealTiming, InteractiveBoardCheckAt8MHz) {
  ASSERT_NE(calibration, nullptr);
  RunResult r = run({}, "part=ATmega88", "gf\n");
  EXPECT_EQ(r.out, INTERACTIVE + BOARD_CHECK + " ATmega88 - default fuses set - 8MHz clock\n" + "\n-" +
                       "Fuse bytes: f9 df e2\n-" + FINISHED);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(report("timing_violations"), "0");
}

// The waits of 2 units are the chips' minimum at 1 MHz: every part identifies with a
// fresh calibration in either program, a figure that pavolt wrote fits varnprog, and
// figures that the countdown can't trust (1, and one 10 % below a fresh one) still
// make every wait. Only the figure far too small is named, once, and left in its file.
TEST_F(VarnprogRealTiming, EveryFigureMeetsFactoryFreshChips) {
  ASSERT_NE(calibration, nullptr);
  const std::string low = std::to_string(std::stol(*calibration) * 9 / 10);
  for (const char* part : {"ATmega16", "ATmega32", "ATmega48", "ATmega88", "ATmega168", "ATmega644", "ATmega128"}) {
    std::filesystem::remove(dir.file("gcal.txt"));
    RunResult fresh = identify_at_1MHz(part, std::nullopt, std::string(part) + ", calibrated by varnprog: ");
    EXPECT_EQ(fresh.err.find("Warning"), std::string::npos) << fresh.err;
    for (const std::string& figure : {std::string("1"), low}) {
      RunResult r = identify_at_1MHz(part, figure, std::string(part) + ", figure " + figure + ": ");
      const bool named = r.err.find("Warning: gcal.txt holds " + figure + " but this machine counts about ") !=
                             std::string::npos &&
                         r.err.find(", so waits stay right but run longer than needed - delete gcal.txt to "
                                    "calibrate again\n") != std::string::npos;
      EXPECT_EQ(named, figure == "1") << r.err;
      EXPECT_EQ(dir.read("gcal.txt"), figure);
    }
  }
  std::filesystem::remove(dir.file("gcal.txt"));
  RunOptions pavolt;
  pavolt.input = "e\n";
  pavolt.env = {{"LPT1", "sim:timing=fast"}};
  pavolt.gcal = std::nullopt;
  run_program("pavolt", pavolt, dir);
  identify_at_1MHz("ATmega168", std::nullopt, "calibrated by pavolt: " + dir.read("gcal.txt") + ": ");
}

// An EEPROM download polls each byte's write until the chip is ready: with every wait
// real, a figure of 1 takes as long as a fresh one and sends as many instructions.
TEST_F(VarnprogRealTiming, AnEepromDownloadTakesAsLongWithAFigureOfOne) {
  ASSERT_NE(calibration, nullptr);
  dir.write("pattern.hex", ":100000000A0F0A411E1E0000000000000000000050\n:00000001FF\n");
  double seconds[2], instructions[2];
  for (int run_with_1 : {0, 1}) {
    auto start = std::chrono::steady_clock::now();
    RunResult r = run({"-depattern.hex"}, "part=ATmega48", "", run_with_1 ? "1" : *calibration);
    seconds[run_with_1] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NE(r.out.find("Target matches pattern.hex\n"), std::string::npos) << r.out << r.err;
    instructions[run_with_1] = std::stod(report("instructions"));
  }
  // Wide bounds, for a loaded machine: short waits skip the half-second resets and
  // poll the busy chip a hundred times more, or get no chip in step at all.
  EXPECT_GT(seconds[1] / seconds[0], 0.5) << seconds[1] << " s against " << seconds[0] << " s";
  EXPECT_GT(instructions[1] / instructions[0], 0.5) << instructions[1] << " against " << instructions[0];
  EXPECT_LT(instructions[1] / instructions[0], 2.0) << instructions[1] << " against " << instructions[0];
}

// The automatic ISP clock on the strict board, with the chip's state file as referee:
// every part at its factory fuses and at the board's, and chips given a crystal the
// fuses don't name, program and verify and keep exactly the file (a page of FF
// included). Where the fuses name the clock no SCK phase may be short; where they
// don't, the probe may cross the chip's limit, never the download. A clock slower
// than the fuses name makes the download fall back to the standard timing.
TEST_F(VarnprogRealTiming, TheAutomaticClockKeepsTheFileOnEveryPart) {
  ASSERT_NE(calibration, nullptr);
  Bytes data = random_bytes(1024, 31);
  std::fill(data.begin() + 256, data.begin() + 512, 0xFF);
  dir.write("p.hex", hex_text(data));
  std::string expected;
  for (size_t at = 0; at < data.size(); at += 32) {  // the state file's lines that are not all FF
    char head[32];
    std::snprintf(head, sizeof head, "flash %06zx ", at);
    std::string bytes;
    for (size_t i = at; i < at + 32; ++i) bytes += {"0123456789abcdef"[data[i] >> 4], "0123456789abcdef"[data[i] & 15]};
    if (bytes != std::string(64, 'f')) expected += head + bytes + "\n";
  }
  struct Row {
    std::string keys;
    bool named;     // the fuses name the clock the chip runs at: no short phase
    bool fallback;  // the fuses name a faster clock than the chip's: one repeat
  };
  std::vector<Row> rows = {{"part=ATmega644,clock=2", false, false},
                           {"part=ATmega644,clock=4", false, false},
                           {"part=ATmega644,clock=16", false, false},
                           {"part=ATmega88,clock=2", false, true}};
  for (const char* part : {"ATmega16", "ATmega32", "ATmega48", "ATmega88", "ATmega168", "ATmega644", "ATmega128"}) {
    rows.push_back({std::string("fuses=factory,part=") + part, true, false});
    const bool rc = std::string(part) == "ATmega16" || std::string(part) == "ATmega88" || std::string(part) == "ATmega168";
    rows.push_back({std::string("part=") + part, rc, false});
  }
  for (const Row& row : rows) {
    std::filesystem::remove(dir.file("chip.txt"));
    RunResult r = run({"-dfp.hex"}, row.keys + ",state=" + dir.file("chip.txt"));
    EXPECT_NE(r.out.find("\nTarget Flash matches p.hex\n"), std::string::npos) << row.keys << r.out;
    EXPECT_EQ(r.status, 0) << row.keys << r.err;
    const std::string state = dir.read("chip.txt");
    std::string flash;
    for (size_t at = state.find("flash "); at != std::string::npos; at = state.find("flash ", at + 1))
      flash += state.substr(at, state.find('\n', at) + 1 - at);
    EXPECT_EQ(flash, expected) << row.keys;
    if (row.named) {
      EXPECT_EQ(report("timing_violations"), "0") << row.keys;
    }
    // A probed clock stands on port calls whose cost varies (under wine most of all):
    // its margin may fall short once, and then the repeat keeps the file all the same.
    const size_t repeats =
        count_of(r.err, "Verification failed at a shortened ISP clock - repeating at the standard timing\n");
    if (row.named || row.fallback)
      EXPECT_EQ(repeats, row.fallback ? 1u : 0u) << row.keys << r.err;
    else
      EXPECT_LE(repeats, 1u) << row.keys << r.err;
  }
}

}  // namespace
