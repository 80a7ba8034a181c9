// Binding the port library by name, and the delay's iteration counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <string>
#include <tuple>

#include "delay.h"
#include "delay_hooks.h"
#include "port.h"
#include "run_program.h"

namespace {

TEST(Binding, MissingLibraryGivesOneAndLeavesEverySlotNull) {
  EXPECT_EQ(bind_port_library_named("no-such-port-library"), 1);
  EXPECT_EQ(port_table.handle, nullptr);
  for (void* slot : port_table.slots) EXPECT_EQ(slot, nullptr);
}

TEST(Binding, FillsSlotsByNameAndLeavesMissingNamesNull) {
  // Our own library has no shift operations: those two slots must stay null while
  // the others are found, each under its own name. The test program, like the
  // programs, finds libio.so beside it through its run path.
  ASSERT_EQ(bind_port_library(), 0);
  for (int i = 0; i < PORT_ENTRY_COUNT; ++i) {
    bool shift = i == ENTRY_RIGHT_PORT_SHIFT || i == ENTRY_LEFT_PORT_SHIFT;
    EXPECT_EQ(port_table.slots[i] == nullptr, shift) << port_entry_names[i];
  }
  EXPECT_NE(port_table.slots[ENTRY_SET_PORT_BIT], port_table.slots[ENTRY_CLR_PORT_BIT]);
  release_port_library();
  EXPECT_EQ(port_table.handle, nullptr);
  for (void* slot : port_table.slots) EXPECT_EQ(slot, nullptr);
}

// A wait lasts n microseconds on the monotonic clock whatever the figure holds (timed
// from outside, so the check can only run long), and a figure far too large counts
// down little more than the machine's loops for the wait before the clock stops it;
// only a port that checks no timing makes it n x loops_per_us iterations and nothing more.
TEST(Delay, TheClockVouchesUnlessThePortChecksNoTiming) {
  const int32_t fresh = std::max(2, static_cast<int>(quick_count()));
  for (int32_t figure : {1, fresh - fresh / 10, fresh, std::numeric_limits<int32_t>::max()})
    for (int64_t n : {2, 10, 3000}) {
      loops_per_us = figure;
      uint64_t before = spun_iterations;
      auto t0 = std::chrono::steady_clock::now();
      delay_us(n);
      EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::microseconds(n)) << figure << " loops/us";
      EXPECT_LE(spun_iterations - before, 2 * static_cast<uint64_t>(n * fresh) + 65536) << figure << " x " << n;
    }
  port_table.short_waits = 1;
  for (auto [figure, n, loops] : {std::tuple{LOOPS_PER_US_UNCALIBRATED, 4, 688}, {250, 4, 1000}, {250, 0, 0},
                                  {250, -5, 0}}) {
    loops_per_us = figure;
    uint64_t before = spun_iterations;
    delay_us(n);
    EXPECT_EQ(spun_iterations - before, static_cast<uint64_t>(loops)) << figure << " x " << n;
  }
  port_table.short_waits = -1;
}

TEST(Delay, LongWaitsDoNotWrapAt32Bits) {
  loops_per_us = 300;
  // A 1000-second wait: 3e11 iterations, far past 32 bits.
  EXPECT_EQ(delay_iterations(1000000000LL), 300000000000ULL);
  EXPECT_EQ(delay_iterations(std::numeric_limits<int32_t>::max()), 300ULL * 2147483647ULL);
}

class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(old_); }
  TempDir dir_;
  std::filesystem::path old_;
};

// The working folder holds the user's HEX and command files: a library that lies only
// there is never loaded.
using LibrarySearch = InTempDir;
TEST_F(LibrarySearch, ALibraryOnlyInTheWorkingFolderIsNotLoaded) {
  std::string file = std::filesystem::path(built("libio.so")).filename().string();
  file.replace(file.find("io"), 2, "stray");  // libstray.so, stray.dll
  std::filesystem::copy_file(built("libio.so"), dir_.file(file));
  EXPECT_EQ(bind_port_library_named("stray"), 1);
}

using CacheFile = InTempDir;

TEST_F(CacheFile, AFigureInTheFileIsTakenSilently) {
  dir_.write("gcal.txt", "  250 and the rest is ignored");
  loops_per_us = 7;
  testing::internal::CaptureStdout();
  calibrate_delay();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(loops_per_us, 250);
}

TEST_F(CacheFile, NoPositiveFigureMeansMeasureAndWriteOneNumber) {
  dir_.write("gcal.txt", "-3");
  testing::internal::CaptureStdout();
  calibrate_delay();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "\nCalibrating delay " + std::string(13, '.'));
  std::string figure = dir_.read("gcal.txt");
  EXPECT_EQ(figure, std::to_string(loops_per_us)) << "one decimal integer, no line end";
  EXPECT_GT(loops_per_us, 0);
  // The measured figure is what the cache gives back on the next start.
  int measured = loops_per_us;
  loops_per_us = 1;
  calibrate_delay();
  EXPECT_EQ(loops_per_us, measured);
}

}  // namespace
