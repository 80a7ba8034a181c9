// The VCD trace writer and file replacement.
#include <gtest/gtest.h>

#include "run_program.h"
#include "sim.h"

namespace {

TEST(Trace, DeclaresSignalsAndKeepsEveryEdgeInOrder) {
  TempDir dir;
  std::string path = dir.file("t.vcd");
  {
    io::sim::Trace trace(path);
    int sck = trace.add_signal("SCK", 0);
    int mosi = trace.add_signal("MOSI", 1);
    trace.change(mosi, 0, 10.2);
    trace.change(sck, 1, 10.4);  // within the same microsecond: spread one step apart
    trace.change(sck, 1, 11.0);  // no change: not written
    trace.change(sck, 0, 15.0);
    std::string message;
    EXPECT_FALSE(dir.exists("t.vcd")) << "nothing replaces the file before the trace closes";
    ASSERT_TRUE(trace.close(message)) << message;
  }
  std::string vcd = dir.read("t.vcd");
  EXPECT_NE(vcd.find("$timescale 1 us $end"), std::string::npos);
  EXPECT_NE(vcd.find("$var wire 1 ! SCK $end"), std::string::npos);
  EXPECT_NE(vcd.find("$var wire 1 \" MOSI $end"), std::string::npos);
  EXPECT_NE(vcd.find("$dumpvars\n0!\n1\"\n$end\n"), std::string::npos);
  EXPECT_NE(vcd.find("#10\n0\"\n#11\n1!\n#15\n0!\n"), std::string::npos) << vcd;
}

TEST(ReplaceFile, NewContentsOrTheOldFileNeverHalf) {
  TempDir dir;
  std::string message;
  ASSERT_TRUE(io::sim::replace_file(dir.file("state"), "one", message));
  ASSERT_TRUE(io::sim::replace_file(dir.file("state"), "two", message));
  EXPECT_EQ(dir.read("state"), "two");
  EXPECT_FALSE(io::sim::replace_file(dir.file("no/such/dir/state"), "x", message));
  EXPECT_NE(message.find("no/such/dir"), std::string::npos);
}

}  // namespace
