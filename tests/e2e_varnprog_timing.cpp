// With the real delay calibration and a chip that checks serial-programming timing
// strictly, the link's waits keep every bit inside the chip's limits.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_varnprog_support.h"

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
  // with the calibration the folder holds, or a fresh one.
  void identify_at_1MHz(const std::string& part, const std::string& why) {
    RunResult r = run({"-i"}, "fuses=factory,part=" + part, "", std::nullopt);
    EXPECT_NE(r.out.find("  Processor: " + part + "\n"), std::string::npos) << why << r.out;
    EXPECT_EQ(r.err.find("Warning"), std::string::npos) << why << r.err;
    EXPECT_EQ(report("timing_violations"), "0") << why;
    EXPECT_GE(std::stod(report("sck_high_min_us")), 2.0) << why;
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

// The waits of 2 units are the chips' minimum at 1 MHz: a fresh calibration in either
// program must not come out short, and a figure that pavolt wrote fits varnprog.
TEST_F(VarnprogRealTiming, FreshFiguresMeetFactoryFreshChips) {
  for (const char* part : {"ATmega16", "ATmega32", "ATmega48", "ATmega88", "ATmega168", "ATmega644", "ATmega128"}) {
    std::filesystem::remove(dir.file("gcal.txt"));
    identify_at_1MHz(part, std::string(part) + ", calibrated by varnprog: ");
  }
  const std::string own = dir.read("gcal.txt");
  std::filesystem::remove(dir.file("gcal.txt"));
  RunOptions pavolt;
  pavolt.input = "e\n";
  pavolt.env = {{"LPT1", "sim:"}};
  pavolt.gcal = std::nullopt;
  run_program("pavolt", pavolt, dir);
  identify_at_1MHz("ATmega168", "calibrated by pavolt: " + dir.read("gcal.txt") + " against " + own + ": ");

  // A figure a fifth below a fresh one (which holds a small margin over the machine's
  // speed) is named, used, and left in its file.
  const std::string slow = std::to_string(std::stol(own) * 4 / 5);
  RunResult r = run({"-h"}, "timing=fast", "", slow);
  EXPECT_NE(r.err.find("Warning: gcal.txt holds " + slow + " but this machine counts about "), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(", so every wait will be short - delete gcal.txt to calibrate again\n"), std::string::npos);
  EXPECT_EQ(dir.read("gcal.txt"), slow);
}

}  // namespace
