// The port library's Windows services: the program's name picks the simulated
// board, the clock paces it, and a replaced file is the old one or the new one.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform.h"
#include "run_program.h"

namespace {

TEST(WindowsPlatform, ProgramNameIsTheFileNameWithoutItsExtension) {
  // pavolt.exe must give "pavolt", or it would be handed the varn board.
  EXPECT_EQ(io::program_name(), "test_io");
}

TEST(WindowsPlatform, ClockMovesForwardInMicroseconds) {
  double start = io::monotonic_microseconds();
  Sleep(20);
  double elapsed = io::monotonic_microseconds() - start;
  EXPECT_GT(elapsed, 10000.0);
  EXPECT_LT(elapsed, 5000000.0);
}

TEST(WindowsPlatform, RenameOverReplacesAnExistingFileAndAFailureKeepsIt) {
  TempDir dir;
  dir.write("report.txt", "old");
  dir.write("report.txt.tmp1", "new");
  std::string message;
  ASSERT_TRUE(io::rename_over(dir.file("report.txt.tmp1"), dir.file("report.txt"), message)) << message;
  EXPECT_EQ(dir.read("report.txt"), "new");
  EXPECT_FALSE(dir.exists("report.txt.tmp1"));

  EXPECT_FALSE(io::rename_over(dir.file("missing"), dir.file("report.txt"), message));
  EXPECT_NE(message.find("can't replace"), std::string::npos) << message;
  EXPECT_EQ(dir.read("report.txt"), "new");
}

TEST(WindowsPlatform, TemporaryNamesSitBesideTheirFile) {
  std::string name = io::temporary_name("C:/data/report.txt");
  EXPECT_EQ(name.rfind("C:/data/report.txt.tmp", 0), 0u) << name;
  EXPECT_NE(name, io::temporary_name("C:/data/other.txt"));
}

}  // namespace
