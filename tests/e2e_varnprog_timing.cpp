// With the real delay calibration and a chip that checks serial-programming timing
// strictly, the link's waits keep every bit inside the chip's limits.
#include <gtest/gtest.h>

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
  RunResult run(const std::vector<std::string>& args, const std::string& keys, const std::string& input = "") {
    RunOptions options;
    options.args = args;
    options.input = input;
    options.env = {{"LPT1", "sim:strict=1,report=" + dir.file("report.txt") + "," + keys}};
    options.gcal = *calibration;
    options.timeout_s = 120;
    return run_program("varnprog", options, dir);
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

}  // namespace
