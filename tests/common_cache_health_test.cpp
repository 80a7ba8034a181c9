// The calibration cache taken from another machine, or one that can't be a file:
// the run still gets a usable figure and the user one line that says what to do.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "delay.h"
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
  long measured = 0;  // the fastest count seen: the first runs may meet a clock still ramping up
  for (auto [figure, waits] : {std::pair{"1", "short"}, {"2000000000", "long"}, {"1", "short"}}) {
    dir_.write("gcal.txt", figure);
    std::string err = calibrate_quietly();
    EXPECT_EQ(out_, "") << figure;
    EXPECT_EQ(loops_per_us, std::stol(figure)) << "the user's file still rules";
    EXPECT_EQ(err.rfind(std::string("Warning: gcal.txt holds ") + figure + " but this machine counts about ", 0), 0u)
        << err;
    EXPECT_NE(err.find(std::string(" loops per microsecond, so every wait will be ") + waits +
                       " - delete gcal.txt to calibrate again\n"),
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
  // A figure this machine beats by more than 3 % makes every wait short; one that
  // makes waits longer is named only from twice the count on.
  struct Near {
    long figure;
    bool warns;
  };
  for (Near near : {Near{figure, false}, {figure * 2, false}, {(figure * 100 + 102) / 103, false},
                    {figure * 100 / 104, true}, {figure * 4 / 5, true}, {figure * 2 + 2, true}}) {
    dir_.write("gcal.txt", std::to_string(near.figure));
    EXPECT_EQ(lines_in(calibrate_quietly()), near.warns ? 1u : 0u) << near.figure << " against " << figure;
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
