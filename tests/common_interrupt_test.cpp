// A signal noted by the handler stops the program at the next check: the registered
// temporary file goes, the program's exit handlers run once, and the status tells the
// signal. Long waits look at the flag often enough to answer at once.
#include <gtest/gtest.h>
// The death tests fork a child per case: POSIX only (the Windows build skips files
// that include a POSIX header).
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "delay.h"
#include "delay_hooks.h"
#include "interrupt.h"
#include "run_program.h"

namespace {

int last_words_runs = 0;
void count_last_words() {
  ++last_words_runs;
  std::fprintf(stderr, "last words %d, spun %llu\n", last_words_runs,
               static_cast<unsigned long long>(spun_iterations));
  check_interrupt();  // an exit handler may use the port, which checks again
}

TEST(Interrupt, APendingSignalStopsAtTheNextCheckAndTakesTheTemporaryFile) {
  TempDir dir;
  const std::string temporary = dir.file("out.hex.new-123456");
  const std::string kept = dir.file("out.hex");
  dir.write("out.hex.new-123456", "half a file");
  dir.write("out.hex", "the old file");
  EXPECT_EXIT(
      {
        std::atexit(count_last_words);
        install_interrupt_handlers();
        remove_on_interrupt(temporary.c_str());
        std::raise(SIGTERM);  // the handler only notes it
        std::fprintf(stderr, "noted %d\n", static_cast<int>(interrupt_signal));
        check_interrupt();
        std::fprintf(stderr, "went on\n");
        std::exit(0);
      },
      testing::ExitedWithCode(128 + SIGTERM), "noted 15\n\nInterrupted - stopping\nlast words 1, spun [0-9]+\n");
  EXPECT_FALSE(dir.exists("out.hex.new-123456"));
  EXPECT_EQ(dir.read("out.hex"), "the old file");

  // Once the file is in place the stop leaves it alone.
  dir.write("done.hex", "complete");
  const std::string done = dir.file("done.hex");
  EXPECT_EXIT(
      {
        install_interrupt_handlers();
        remove_on_interrupt(done.c_str());
        forget_on_interrupt();
        std::raise(SIGINT);
        check_interrupt();
        std::exit(0);
      },
      testing::ExitedWithCode(128 + SIGINT), "Interrupted - stopping");
  EXPECT_EQ(dir.read("done.hex"), "complete");
}

// Each signal that ends a run stops it in order, even one ignored at the start (a
// shell without job control does that to Ctrl-C and Ctrl-\ in a background command);
// but a hang-up ignored at the start stays so: nohup means the run outlives its terminal.
TEST(Interrupt, EachStoppingSignalStopsInOrderButNohupHolds) {
  for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGHUP}) {
    EXPECT_EXIT(
        {
          std::signal(sig, SIG_IGN);
          install_interrupt_handlers();
          std::raise(sig);
          check_interrupt();
          std::exit(0);
        },
        testing::ExitedWithCode(sig == SIGHUP ? 0 : 128 + sig), sig == SIGHUP ? "" : "Interrupted - stopping")
        << sig;
  }
}

// A wait of a quarter of an hour, with the signal already there: it ends after one
// short piece of countdown, not after billions of iterations.
TEST(Interrupt, ALongWaitAnswersWithinMilliseconds) {
  EXPECT_EXIT(
      {
        std::atexit(count_last_words);
        install_interrupt_handlers();
        loops_per_us = 2000;
        spun_iterations = 0;
        std::raise(SIGINT);
        delay_us(900LL * 1000 * 1000);
        std::exit(0);
      },
      testing::ExitedWithCode(128 + SIGINT), "last words 1, spun [0-9]{1,8}\n");
}

}  // namespace
