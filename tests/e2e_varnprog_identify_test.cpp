// Identification, the board check, target checks and statistics through the real
// program and the simulated board.
#include <gtest/gtest.h>

#include <cctype>

#include "varnprog_runs.h"

namespace {

// `text` is `head`, then a byte in lower-case hexadecimal without leading zeros, then `tail`.
bool has_byte_between(const std::string& text, const std::string& head, const std::string& tail) {
  if (text.size() < head.size() + tail.size() + 1 || text.rfind(head, 0) != 0) return false;
  if (text.compare(text.size() - tail.size(), tail.size(), tail) != 0) return false;
  std::string digits = text.substr(head.size(), text.size() - head.size() - tail.size());
  if (digits.size() > 2 || (digits.size() == 2 && digits[0] == '0')) return false;
  for (char c : digits)
    if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) return false;
  return true;
}

TEST(VarnprogIdentify, UnknownAbsentAndSilentChips) {
  TempDir dir;
  RunResult unknown = varnprog(dir, {"-i"}, "part=ATtiny85");
  EXPECT_EQ(after_banner(unknown), "Signature bytes: 1e 93 b  Processor: Unrecognized signature\n");
  EXPECT_EQ(unknown.status, 2);  // a chip the programmer can't serve

  RunResult absent = varnprog(dir, {"-i"}, "fault=absent");
  EXPECT_EQ(after_banner(absent), "Signature bytes: ff ff ff  Processor: Unrecognized signature\n");

  RunResult silent = varnprog(dir, {"-i", "-x1"}, "fault=silent");
  std::string out = after_banner(silent);
  EXPECT_NE(out.find("Processor: Unrecognized signature\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Target not responding to Enable Serial Programming command\n"), std::string::npos)
      << out;
  EXPECT_EQ(silent.status, 2);  // the check's failure reaches the script
}

TEST(VarnprogTargetCheck, DefaultChangedAndClockReports) {
  TempDir dir;
  EXPECT_EQ(after_banner(varnprog(dir, {"-x1"}, "part=ATmega644")),
            "Target ATmega644 responding - default fuses set\n");
  // Factory fuses: low 62 selects no known clock, so the difference is spelled out.
  EXPECT_EQ(after_banner(varnprog(dir, {"-x2"}, "part=ATmega644,fuses=factory")),
            "Target ATmega644 responding - default fuses not set\n"
            "   Default fuses: ff d9 e7    Target fuses: ff 99 62\n");
  // Changed high fuse with an 8 MHz low fuse is reported with the clock.
  EXPECT_EQ(after_banner(varnprog(dir, {"-pf2dd", "-x3"}, "part=ATmega88")),
            "Write fuse byte 2: dd\nTarget ATmega88 responding - default fuses set - 8MHz clock\n");
  EXPECT_EQ(after_banner(varnprog(dir, {"-xa"}, "part=ATtiny85")),
            "Reset 1: Target Processor Unrecognized but responding - default fuses set\n");
  RunResult absent = varnprog(dir, {"-x5"}, "fault=absent");
  EXPECT_EQ(after_banner(absent), "Target not responding to Enable Serial Programming command\n");
  EXPECT_EQ(absent.status, 2);
}

TEST(VarnprogBoardCheck, InteractiveStartUpLines) {
  TempDir dir;
  RunResult clock = varnprog(dir, {}, "part=ATmega644");
  EXPECT_EQ(clock.out, INTERACTIVE + BOARD_CHECK + " ATmega644 - default fuses set - 20MHz clock\n" +
                           "\n-" + FINISHED);
  EXPECT_EQ(clock.status, 0);

  RunResult ok = varnprog(dir, {}, "part=ATmega644,fuses=factory");
  EXPECT_EQ(ok.out, INTERACTIVE + BOARD_CHECK + " ATmega644 - OK\n" + "\n-" + FINISHED);

  RunResult none = varnprog(dir, {}, "fault=absent");
  EXPECT_EQ(none.out, INTERACTIVE + BOARD_CHECK + "not responding - either faulty or not installed\n" +
                          "\n-" + FINISHED);
  RunResult unknown = varnprog(dir, {}, "part=ATtiny85");
  EXPECT_EQ(unknown.out, INTERACTIVE + BOARD_CHECK +
                             "not responding - either faulty or not installed\n" + "\n-" + FINISHED);
}

TEST(VarnprogStatistics, FullReport) {
  TempDir dir;
  std::string out = after_banner(varnprog(dir, {"-s"}, "part=ATmega644"));
  EXPECT_TRUE(has_byte_between(out,
                               "Processor: ATmega644\n"
                               " Lock byte = ff    No locks bits activated\n"
                               " Signature = 1e 96 9\n"
                               " Fuse bytes = ff d9 e7\n"
                               " Calibration byte =  ",
                               "\n"))
      << out;

  std::string locked = after_banner(varnprog(dir, {"-S"}, "part=ATtiny85,fault=locked"));
  EXPECT_EQ(locked.rfind("Processor: Unrecognized signature\n Lock byte = fc\n Signature = 1e 93 b\n", 0), 0u)
      << locked;
}

TEST(VarnprogFuses, ReadsOfEachByteAndTheAtmega32Pair) {
  TempDir dir;
  EXPECT_EQ(after_banner(varnprog(dir, {"-gf1", "-GF2", "-gf3x", "-gf"}, "part=ATmega168")),
            "Fuse byte 1: e2\nFuse byte 2: df\nFuse byte 3: f9\nFuse bytes: f9 df e2\n");
  EXPECT_EQ(after_banner(varnprog(dir, {"-gf"}, "part=ATmega32")), "Fuse bytes: d9 c4\n");
  EXPECT_EQ(after_banner(varnprog(dir, {"-gf"}, "part=ATtiny85")), "Fuse bytes: ff df 62\n");
  std::string gc = after_banner(varnprog(dir, {"-gc"}, "part=ATmega48"));
  EXPECT_TRUE(has_byte_between(gc, "Calibration byte: ", "\n")) << gc;
}

}  // namespace
