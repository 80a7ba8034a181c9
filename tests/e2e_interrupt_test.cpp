// Ctrl-C, SIGTERM, SIGHUP and Ctrl-\ in the middle of the long operations of both programs: the run
// ends with 128 + the signal, RESET is left high, the simulated board still saves its
// chip, and no temporary file or half-written HEX file is left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "varnprog_runs.h"

namespace {

constexpr const char* SIM_OPEN = "libio: simulated";
constexpr const char* STOPPING = "Interrupted - stopping\n";

RunOptions signalled_run(std::vector<std::string> args, const std::string& lpt, int sig, int after_ms) {
  RunOptions options;
  options.args = std::move(args);
  options.env = {{"LPT1", lpt}};
  options.signal_number = sig;
  options.signal_when = SIM_OPEN;
  options.signal_after_ms = after_ms;
  options.timeout_s = 90;
  return options;
}

// Ended by the signal sent to it, with status 128 + the signal.
testing::AssertionResult ended_by(const RunResult& r, int sig) {
  if (r.signalled && r.status == 128 + sig) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "signalled " << r.signalled << ", status " << r.status << "\n" << r.out << r.err;
}

class Interrupt : public testing::TestWithParam<int> {};

// The chip's own timing (real busy periods, over 2 s of page writes for 128 KiB) keeps
// the download running well past the signal however fast the machine is.
TEST_P(Interrupt, FlashDownloadStopsWithTheTargetRunningAndItsChipSaved) {
  const int sig = GetParam();
  TempDir dir;
  dir.write("big.hex", hex_text(random_bytes(131072, 1)));
  dir.write("keep.hex", "an older upload\n");
  const std::string board = "sim:timing=real,part=ATmega128,state=chip.txt,report=report.txt";
  RunResult r = run_program("varnprog", signalled_run({"-dfbig.hex"}, board, sig, 1500), dir);
  ASSERT_TRUE(ended_by(r, sig));
  EXPECT_NE(r.err.find(STOPPING), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Target Flash matches"), std::string::npos) << "stopped mid-download";
  EXPECT_LT(std::stol(report_of(dir, "page_writes")), 512);
  EXPECT_EQ(report_of(dir, "reset"), "1") << "the target is left running";
  EXPECT_EQ(dir.read("keep.hex"), "an older upload\n");
  EXPECT_EQ(files_in(dir), (std::set<std::string>{"big.hex", "chip.txt", "gcal.txt", "keep.hex", "report.txt"}));
  ASSERT_EQ(dir.read("chip.txt").rfind("varn-sim-state 1\npart ATmega128\n", 0), 0u);

  // The saved chip is a valid state file: the next run takes it and finds the part.
  RunResult again = varnprog_reported(dir, {"-i"}, "state=chip.txt");
  EXPECT_NE(again.out.find("Processor: ATmega128\n"), std::string::npos) << again.out << again.err;
  EXPECT_EQ(again.status, 0) << again.err;
}

// Uploads run again and again: the signal lands in a read-back or in a file write,
// and the upload file is always either the old one or one complete upload.
TEST_P(Interrupt, UploadsLeaveTheOldFileOrACompleteNewOne) {
  const int sig = GetParam();
  TempDir dir;
  dir.write("pattern.hex", hex_text(random_bytes(4096, 2)));
  ASSERT_EQ(varnprog(dir, {"-nv", "-depattern.hex", "-ueexpected.hex"}, "part=ATmega128,state=chip.txt").status, 0);
  const std::string expected = dir.read("expected.hex");
  ASSERT_GT(expected.size(), 4096u * 2);

  for (const char* word : {"-ueout.hex", "-ufout.hex"}) {
    dir.write("out.hex", "an older upload\n");
    std::vector<std::string> args(word[2] == 'e' ? 60 : 3, word);
    RunOptions options =
        signalled_run(args, "sim:timing=fast,part=ATmega128,state=chip.txt,report=report.txt", sig, 400);
    // A slow delay figure keeps a flash read-back well past the signal on a fast machine
    // (about 10 s here, against half a second with the usual figure).
    if (word[2] == 'f') options.gcal = "1000";
    RunResult r = run_program("varnprog", options, dir);
    ASSERT_TRUE(ended_by(r, sig)) << word;
    EXPECT_EQ(report_of(dir, "reset"), "1") << word;
    const std::string out = dir.read("out.hex");
    if (word[2] == 'e')
      EXPECT_TRUE(out == "an older upload\n" || out == expected) << word << " left " << out.size() << " bytes";
    else
      EXPECT_EQ(out, "an older upload\n") << "stopped in the first flash read-back";
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"chip.txt", "expected.hex", "gcal.txt", "out.hex",
                                                    "pattern.hex", "report.txt"}))
        << word;
  }
  // The chip came through the interrupted runs unchanged.
  ASSERT_EQ(varnprog(dir, {"-ueagain.hex"}, "part=ATmega128,state=chip.txt").status, 0);
  EXPECT_EQ(dir.read("again.hex"), expected);
}

// A download file read from a FIFO whose writer sent one record and waits: the read
// blocks until the signal, which ends the run before anything is erased.
TEST_P(Interrupt, ADownloadFileReadStopsBeforeTheErase) {
  const int sig = GetParam();
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("slow.hex").c_str(), 0600), 0);
  const int writer = open(dir.file("slow.hex").c_str(), O_RDWR | O_NONBLOCK);  // never blocks, never ends
  ASSERT_GE(writer, 0);
  const std::string record = ":0400000001020304F2\n";
  ASSERT_EQ(write(writer, record.data(), record.size()), static_cast<ssize_t>(record.size()));
  RunOptions options = signalled_run({"-dfslow.hex"}, "sim:timing=fast,report=report.txt", sig, 200);
  options.timeout_s = 20;
  RunResult r = run_program("varnprog", options, dir);
  close(writer);
  ASSERT_TRUE(ended_by(r, sig));
  EXPECT_EQ(after_banner(r), "") << "no read error, nothing programmed";
  EXPECT_EQ(report_of(dir, "chip_erases"), "0");
  EXPECT_EQ(report_of(dir, "reset"), "1");
}

// At the interactive prompt the program waits in a blocking read of standard input.
TEST_P(Interrupt, PromptWaitingForAWordStops) {
  const int sig = GetParam();
  TempDir dir;
  RunOptions options = signalled_run({}, "sim:timing=fast,report=report.txt", sig, 200);
  options.signal_when = "\n-";  // the prompt is shown, the read is waiting
  options.close_input = false;
  RunResult r = run_program("varnprog", options, dir);
  ASSERT_TRUE(ended_by(r, sig));
  EXPECT_NE(r.out.find("\n-"), std::string::npos) << "the prompt was reached" << r.out;
  EXPECT_NE(r.err.find(STOPPING), std::string::npos);
  EXPECT_EQ(report_of(dir, "reset"), "1");
}

// Calibrating (no "gcal.txt"): the figure is not written until all 13 runs are in.
TEST_P(Interrupt, CalibrationLeavesNoCacheFile) {
  const int sig = GetParam();
  TempDir dir;
  RunOptions options = signalled_run({"-i"}, "sim:timing=fast,report=report.txt", sig, 60);
  options.signal_when = "Calibrating delay ";
  options.gcal = std::nullopt;
  RunResult r = run_program("varnprog", options, dir);
  ASSERT_TRUE(ended_by(r, sig));
  EXPECT_EQ(r.out.find("Signature bytes"), std::string::npos) << "stopped before the command";
  EXPECT_FALSE(dir.exists("gcal.txt"));
  EXPECT_EQ(report_of(dir, "reset"), "1");
}

// pavolt's test drive and limit monitor are busy loops that poll for a key.
TEST_P(Interrupt, StepperLoopsStopAndTheBoardReportIsWritten) {
  const int sig = GetParam();
  for (const char* word : {"t", "l"}) {
    TempDir dir;
    RunOptions options = signalled_run({}, "sim:timing=fast,report=report.txt", sig, 400);
    // Once the loop has begun: the drive's first status line, the monitor's prompt.
    options.signal_when = word[0] == 't' ? "u-increase" : "Hit any key to stop";
    options.input = std::string(word) + "\n";
    options.close_input = false;
    options.gcal = "1000";  // slow passes keep the output small
    RunResult r = run_program("pavolt", options, dir);
    ASSERT_TRUE(ended_by(r, sig)) << word;
    EXPECT_NE(r.err.find(STOPPING), std::string::npos) << word;
    ASSERT_TRUE(dir.exists("report.txt")) << word << ": the exit handlers closed the port";
    if (word[0] == 't') {
      EXPECT_GT(std::stol(report_of(dir, "x_steps")), 0) << r.out;
    }
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"gcal.txt", "report.txt"})) << word;
  }
}

// SIGHUP: the terminal went away (a dropped ssh session); SIGQUIT: Ctrl-\.
INSTANTIATE_TEST_SUITE_P(Signals, Interrupt, testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const testing::TestParamInfo<int>& param) { return "SIG" + std::string(sigabbrev_np(param.param)); });

// A port that stops answering mid-run (here its status line, while the data lines
// still take writes): one line, status 2, nothing more from the command, the upload
// file as it was, and on the way out RESET high so the target runs its program.
// pavolt ends the same way.
TEST(PortLost, TheRunEndsWithOneLineAndTheTargetRunning) {
  struct Case {
    const char* word;
    int fail_reads;  // where the reads fail: in programming mode for each command
  };
  for (const Case& c : {Case{"-i", 20}, Case{"-dfbig.hex", 300}, Case{"-ueout.hex", 300}}) {
    TempDir dir;
    dir.write("big.hex", hex_text(random_bytes(4096, 3)));
    dir.write("out.hex", "an older upload\n");
    RunResult r = varnprog_reported(dir, {c.word, "-i"}, "state=chip.txt,fail_reads=" + std::to_string(c.fail_reads));
    EXPECT_EQ(r.status, 2) << c.word << r.out << r.err;
    const std::string line = "stopped answering (status read " + std::to_string(c.fail_reads) + ",";
    EXPECT_NE(r.err.find(line), std::string::npos) << c.word << r.err;
    EXPECT_EQ(r.err.find(line), r.err.rfind("stopped answering")) << c.word << ": one line";
    EXPECT_EQ(r.out.find("Processor:"), std::string::npos) << c.word << ": the second -i never ran";
    EXPECT_EQ(report_of(dir, "reset"), "1") << c.word;
    EXPECT_EQ(dir.read("out.hex"), "an older upload\n") << c.word;
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"big.hex", "chip.txt", "gcal.txt", "out.hex", "report.txt"}))
        << c.word;
  }

  // pavolt in its limit report: the third input read fails, nothing is printed for it.
  TempDir dir;
  RunOptions options;
  options.input = "l\np\n";
  options.env = {{"LPT1", "sim:report=report.txt,fail_reads=3"}};
  RunResult r = run_program("pavolt", options, dir);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("Y limit=Open\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Z limit"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Default settings"), std::string::npos) << "p never ran";
  EXPECT_NE(r.err.find("stopped answering (status read 3,"), std::string::npos) << r.err;
  EXPECT_TRUE(dir.exists("report.txt"));
}

// Standard output into a pipe whose reader quits early (head, a pager closed): the next
// write fails, the run stops with 128 + SIGPIPE, the target runs, and the trace is
// complete under its own name.
TEST(InterruptPipe, AReaderThatQuitsEarlyStopsTheRunInOrder) {
  TempDir dir;
  std::string words;
  for (int i = 0; i < 400; ++i) words += " -i";
  const std::string command = "cd '" + dir.path() + "' && echo 1 >gcal.txt && { LPT1=sim:timing=fast,report=report.txt," +
                              "trace=run.vcd '" + built("varnprog") + "'" + words +
                              " 2>err.txt; echo $? >status.txt; } | head -c 20 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(dir.read("status.txt"), std::to_string(128 + SIGPIPE) + "\n") << dir.read("err.txt");
  EXPECT_NE(dir.read("err.txt").find(STOPPING), std::string::npos);
  EXPECT_EQ(report_of(dir, "reset"), "1");
  EXPECT_EQ(files_in(dir), (std::set<std::string>{"err.txt", "gcal.txt", "report.txt", "run.vcd", "status.txt"}));
}

// With a terminal on standard input, the test drive turns echo and line editing off;
// a signal in the drive must hand the terminal back as it was.
TEST(InterruptTerminal, TestDriveRestoresTheTerminalMode) {
  TempDir dir;
  dir.write("gcal.txt", "1000");
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ASSERT_TRUE(before.c_lflag & ICANON);

  const std::string program = built("pavolt");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(slave, 0);
    std::FILE* out = std::freopen((dir.path() + "/out.txt").c_str(), "w", stdout);
    std::FILE* err = std::freopen((dir.path() + "/err.txt").c_str(), "w", stderr);
    (void)out;
    (void)err;
    close(master);
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    setenv("LPT1", "sim:timing=fast", 1);
    execl(program.c_str(), program.c_str(), "-t", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait until the drive runs (its first status line), then stop it.
  bool driving = false;
  for (int i = 0; i < 300 && !driving; ++i) {
    usleep(20000);
    driving = dir.read("out.txt").find("Press any q to quit") != std::string::npos;
  }
  termios during{};
  tcgetattr(slave, &during);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  close(master);
  close(slave);
  ASSERT_TRUE(driving) << dir.read("out.txt") << dir.read("err.txt");
  EXPECT_FALSE(during.c_lflag & ICANON) << "the drive reads single keys";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
}

}  // namespace
