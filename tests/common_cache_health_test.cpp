// The calibration cache taken from another machine, or one that can't be a file:
// the run still gets a usable figure and the user one line that says what to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "delay.h"
#include "delay_hooks.h"
#include "run_program.h"

namespace {

class CacheHealth : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    quick_count = real_count_;
  }
  double (*real_count_)() = quick_count;

  // Runs calibrate_delay() and returns what it printed on stderr; stdout must stay quiet.
  std::string calibrate_quietly() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    calibrate_delay();
    std::string err = testing::internal::GetCapturedStderr();
    out_ = testing::internal::GetCapturedStdout();
    return err;
  }

  TempDir dir_;
  std::filesystem::path old_;
  std::string out_;
};

size_t lines_in(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST_F(CacheHealth, AForeignFigureWarnsOnceAndIsStillUsed) {
  constexpr const char* SMALL = "waits stay right but run longer than needed";
  constexpr const char* LARGE = "the countdown overshoots and waits run long";
  long measured = 0;  // the fastest count seen: the first runs may meet a clock still ramping up
  for (auto [figure, what] : {std::pair{"1", SMALL}, {"2000000000", LARGE}, {"1", SMALL}}) {
    dir_.write("gcal.txt", figure);
    std::string err = calibrate_quietly();
    EXPECT_EQ(out_, "") << figure;
    EXPECT_EQ(loops_per_us, std::stol(figure)) << "the user's file still rules";
    EXPECT_EQ(err.rfind(std::string("Warning: gcal.txt holds ") + figure + " but this machine counts about ", 0), 0u)
        << err;
    EXPECT_NE(err.find(std::string(" loops per microsecond, so ") + what + " - delete gcal.txt to calibrate again\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(lines_in(err), 1u) << err;
    size_t about = err.find("about ");
    ASSERT_NE(about, std::string::npos);
    measured = std::max(measured, std::stol(err.substr(about + 6, err.find(' ', about + 6) - about - 6)));
  }
  const long figure = measured;
  ASSERT_GT(figure, 0);
  // From here the count is held at that figure: a count taken while another program
  // shares the processor can read half of it, and would warn about a figure that is right.
  static long held;
  held = figure;
  quick_count = [] { return static_cast<double>(held); };
  // The clock keeps every wait right: a figure is named only below half the count (the
  // clock does most of every wait) or above twice (the countdown overshoots).
  struct Near {
    long figure;
    const char* what;
  };
  for (Near near : {Near{figure, nullptr}, {figure - figure / 10, nullptr}, {(figure + 1) / 2, nullptr},
                    {figure / 2 - 1, SMALL}, {figure * 2, nullptr}, {figure * 2 + 2, LARGE}}) {
    dir_.write("gcal.txt", std::to_string(near.figure));
    std::string err = calibrate_quietly();
    EXPECT_EQ(lines_in(err), near.what ? 1u : 0u) << near.figure << " against " << figure;
    EXPECT_NE(err.find(near.what ? near.what : ""), std::string::npos) << err;
    EXPECT_EQ(loops_per_us, near.figure);
    EXPECT_EQ(dir_.read("gcal.txt"), std::to_string(near.figure)) << "the file is the user's";
  }
}

// A folder named gcal.txt opens but holds no figure, and can't be written: the run
// measures, keeps the figure for itself, says so once, and leaves the folder alone.
TEST_F(CacheHealth, AFolderInPlaceOfTheFileIsMeasuredAroundAndKept) {
  std::filesystem::create_directory(dir_.file("gcal.txt"));
  dir_.write("gcal.txt/inside", "kept");
  loops_per_us = 7;
  std::string err = calibrate_quietly();
  EXPECT_EQ(out_, "\nCalibrating delay " + std::string(13, '.'));
  EXPECT_GT(loops_per_us, 7);
  EXPECT_EQ(err, "\nCan't write gcal.txt - the measured figure holds for this run only\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir_.file("gcal.txt")));
  EXPECT_EQ(dir_.read("gcal.txt/inside"), "kept");
}

}  // namespace
