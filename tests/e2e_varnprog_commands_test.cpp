// Command words, command files, both modes' prompts and the exit statuses.
#include <gtest/gtest.h>

#include "varnprog_runs.h"

namespace {

const std::string HELP =
    "Command options:\n\n"
    "  -d[f|e]filename - download Hex file to target flash/eeprom using 'filename'\n"
    "  -uefilename - upload target eeprom contents to 'filename'\n"
    "  -ffilename  - Execute file of programming commands 'filename'\n"
    "  -sfxx       - Set fill character - default 0xFF\n"
    "  -gf         - Get fuse bytes\n"
    "  -pf[1|2|3]  - Program fuse byte 1,2 or 3\n"
    "  -gf[1|2|3]  - Get fuse byte 1,2 or 3\n"
    "  -gc         - Get calibration byte\n"
    "  -i          - Identify target processor\n"
    "  -s          - Get target processor statistics\n"
    "  -xi         - Select target processor i [1,2,3,4,5]\n"
    "  -nv         - Don't verify target\n"
    "  -h          - Output help menu\n\n"
    "  Supported AVRs: ATmega88,ATmega168,ATmega644.\n"
    "  Commands entered on the command line require a preceeding '-'.\n"
    "  Interactive commands do not require a preceeding '-'.\n"
    "  More than one command is allowed on a line.\n\n";

const std::string BOARD_644 = BOARD_CHECK + " ATmega644 - default fuses set - 20MHz clock\n";

TEST(VarnprogFuseWrites, RoundTripThroughTheChipAndAcrossRuns) {
  TempDir dir;
  const std::string keys = "part=ATmega168,state=" + dir.file("chip.state");
  EXPECT_EQ(after_banner(varnprog(dir, {"-pfa62,dd,f8", "-gf"}, keys)),
            "Write fuse bytes: 62 dd f8\nFuse bytes: f8 dd 62\n");
  // The chip keeps its fuses; a fresh run reads them back and restores the defaults.
  EXPECT_EQ(after_banner(varnprog(dir, {"-gf", "-a", "-gf"}, keys)),
            "Fuse bytes: f8 dd 62\nprocessorid = 4\nWrite fuse bytes: f9 df e2\nFuse bytes: f9 df e2\n");
  EXPECT_EQ(after_banner(varnprog(dir, {"-pf1e0", "-pf2d9", "-pf3ff", "-gf"}, keys)),
            "Write fuse byte 1: e0\nWrite fuse byte 2: d9\nWrite fuse byte 3: ff\nFuse bytes: ff d9 e0\n");
}

TEST(VarnprogFuseWrites, RefusalsWriteNothingAndEndWithStatus2) {
  TempDir dir;
  const std::string keys = "part=ATmega168,report=" + dir.file("report.txt");
  for (const char* word : {"-pf1", "-pf2zz", "-pf3,", "-pfae2,df", "-pfae2,df,1ff", "-pfa,,"}) {
    RunResult r = varnprog(dir, {word, "-gf"}, keys);
    std::string out = after_banner(r);
    EXPECT_NE(out.find(" not written - "), std::string::npos) << word << ": " << out;
    EXPECT_NE(out.find("\nFuse bytes: f9 df e2\n"), std::string::npos) << word << ": " << out;
    EXPECT_EQ(r.status, 2) << word;
    EXPECT_EQ(report_value(dir.read("report.txt"), "fuse_writes"), "0") << word;
  }
  RunResult unknown = varnprog(dir, {"-a", "-pfae2,df,ff", "-pf1e2"}, "part=ATtiny85,report=" + dir.file("r2.txt"));
  EXPECT_EQ(after_banner(unknown),
            "Fuse bytes not written - target processor not recognised\n"
            "Fuse bytes not written - target processor not recognised\n"
            "Fuse byte 1 not written - target processor not recognised\n");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(report_value(dir.read("r2.txt"), "fuse_writes"), "0");
}

// The chip keeps SPIEN whatever is written; a write that would take the RESET pin
// away is refused unless forced with '!'; every write is read back. The rows run in
// order on one chip state: the forced write makes the chip unreachable until its
// state file is mended, as a high-voltage programmer would.
TEST(VarnprogFuseWrites, SiliconRulesGuardAndReadBack) {
  TempDir dir;
  const std::string state = "part=ATmega168,state=" + dir.file("chip.state") + ",report=" + dir.file("report.txt");
  const std::string reason = " programs RSTDISBL: the RESET pin stops answering this programmer\n";
  const std::string lost = " - 5f" + reason;
  struct Row {
    std::string keys;
    std::vector<std::string> args;
    std::string out;
    int status;
  } rows[] = {
      {"part=ATmega644", {"-pf2ff", "-gf2"}, "Write fuse byte 2: ff\nFuse byte 2: df\n", 0},
      {"part=ATmega88", {"-pf301", "-gf3"}, "Write fuse byte 3: 1\nFuse byte 3: f9\n", 0},  // bits 7-3 unused
      {"fault=readonly", {"-pf1e2", "-gf1"}, "Write fuse byte 1: e2\nFuse byte 1 reads e7 after writing e2\nFuse byte 1: e7\n", 2},
      {state, {"-pf25f", "-pfae2,1f,f9", "-x1"},
       "Fuse byte 2 not written" + lost +
           "Fuse bytes not written - 1f programs RSTDISBL and DWEN: the RESET pin stops answering this programmer\n"
           "Target ATmega168 responding - default fuses set\n",
       2},
      {state, {"-pf25f!"}, "Fuse byte 2 written as forced" + lost + "Write fuse byte 2: 5f\n", 0},
      {state, {"-x1"}, "Target not responding to Enable Serial Programming command\n", 2},
      // RSTDISBL in high bit 7 without DWEN, in high bit 6 beside DWEN, in extended bit 0
      {"fuses=factory,part=ATmega8A", {"-pf259"}, "Fuse byte 2 not written - 59" + reason, 2},
      {"fuses=factory,part=ATmega16U2", {"-pf299"}, "Fuse byte 2 not written - 99" + reason, 2},
      {"fuses=factory,part=ATmega329PA", {"-pf3fe"}, "Fuse byte 3 not written - fe" + reason, 2},
  };
  for (const Row& row : rows) {
    RunResult r = varnprog(dir, row.args, row.keys);
    EXPECT_EQ(after_banner(r), row.out) << row.args[0];
    EXPECT_EQ(r.status, row.status) << row.args[0];
  }
  EXPECT_EQ(report_value(dir.read("report.txt"), "reset_disabled"), "1");
  EXPECT_EQ(report_value(dir.read("report.txt"), "debugwire"), "0");
  std::string text = dir.read("chip.state");
  ASSERT_NE(text.find("fuses f9 5f e2\n"), std::string::npos) << text;
  dir.write("chip.state", text.replace(text.find("f9 5f e2"), 8, "f9 df e2"));
  EXPECT_EQ(after_banner(varnprog(dir, {"-x1"}, state)), "Target ATmega168 responding - default fuses set\n");
}

TEST(VarnprogWords, QuietAndWordsThatMatchNothingPrintNothingAndFail) {
  TempDir dir;
  // quiet only sets the output mode, pf and pf4 match nothing: no output, but a word
  // that matches nothing fails the run.
  RunResult quiet = varnprog(dir, {"-quiet", "-pf", "-pf4", "-t3", "-x6", "--i", "-ffile.txt", "stray"},
                             "report=" + dir.file("report.txt"));
  EXPECT_EQ(after_banner(quiet), "");
  EXPECT_EQ(quiet.status, 2);
  EXPECT_EQ(report_value(dir.read("report.txt"), "instructions"), "0");
}

TEST(VarnprogWords, LogFileIsCreatedEmpty) {
  TempDir dir;
  dir.write("log.txt", "old contents");
  RunResult r = varnprog(dir, {"-lflog.txt", "-i"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(dir.exists("log.txt"));
  EXPECT_EQ(dir.read("log.txt"), "");
}

TEST(VarnprogWords, OverlongWordsAreRefused) {
  TempDir dir;
  const std::string long_word = "gf" + std::string(198, '1');  // 200 characters
  RunResult line = varnprog(dir, {"-" + long_word, "-gf1"}, "part=ATmega644");
  std::string out = after_banner(line);
  EXPECT_NE(out.find("199"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.find('\n') + 1), "Fuse byte 1: e7\n");
  EXPECT_EQ(line.status, 2);

  RunResult typed = varnprog(dir, {}, "part=ATmega644", long_word + " gf1\n");
  EXPECT_NE(typed.out.find("Fuse byte 1: e7\n-" + FINISHED), std::string::npos) << typed.out;
  EXPECT_EQ(typed.status, 2);
}

// One run each: its whole standard output (after the command-line banner when no input
// is typed) and its status (-1: not checked). Command files are "cmds.txt", which
// calls itself, and "stop.txt", which exits.
TEST(VarnprogRuns, WordsModesAndCommandFilesPrintExactlyThis) {
  TempDir dir;
  dir.write("cmds.txt", "gf3\n\n   gf2\tfcmds.txt\n");
  dir.write("stop.txt", "gf3 e gf2\n");
  dir.write("clock.txt", "sc250\n");
  const std::string file_run = "\n-gf3\nFuse byte 3: ff\n-gf2\nFuse byte 2: d9\n-fcmds.txt\n-";
  const std::string typed = INTERACTIVE + BOARD_644 + "\n-";
  struct Row {
    std::vector<std::string> args;
    std::string keys, input, out;
    int status;
  } rows[] = {
      // the chip keeps SPIEN
      {{"-pfae2,df,ff", "-gf", "-a", "-gf"}, "part=ATmega32", "",
       "Write fuse bytes: e2 df\nFuse bytes: d9 df\nprocessorid = 1\nWrite fuse bytes: e4 ff\nFuse bytes: d9 c4\n", -1},
      // a later two-fuse row shows its high and low fuses and never writes an extended one
      {{"-pfae1,d9,0", "-gf", "-a", "-gf3"}, "part=ATmega8,fuses=factory", "",
       "Write fuse bytes: e1 d9\nFuse bytes: d9 e1\nprocessorid = 7\nWrite fuse bytes: d9 e1\nFuse byte 3: ff\n", 0},
      {{"-h", "-erase", "-i"}, "part=ATmega644", "", HELP, 1},  // ends at erase: -i never runs
      {{"-exit"}, "", "", "", 1},
      {{"-E"}, "", "", "", 1},
      {{"-sf0", "-SF1ff", "-sfq", "-mfm.txt", "-help"}, "", "",
       "Fill char=0\nFill char=ff\nFill char=ff\nMismatch filename=m.txt\n" + HELP, -1},
      {{"-lfno/such/dir/log.txt"}, "", "", "Can't create log file no/such/dir/log.txt\n", 2},
      // the ISP clock: automatic, standard or a rate in kHz, from any path
      {{"-sca", "-SCS", "-sc500", "-sc0", "-sc12x"}, "", "",
       "ISP clock: automatic\nISP clock: standard\nISP clock: 500 kHz\n"
       "ISP clock not changed - '0' is not a (automatic), s (standard) or an SCK rate in kHz, 1 to 10000\n"
       "ISP clock not changed - '12x' is not a (automatic), s (standard) or an SCK rate in kHz, 1 to 10000\n", 2},
      {{}, "part=ATmega644", "scs\n", typed + "ISP clock: standard\n-" + FINISHED, 0},
      {{"fclock.txt"}, "", "", "\n-sc250\nISP clock: 250 kHz\n-", 0},
      // a prompt after every word; bogus fails the run
      {{}, "part=ATmega644", "i   nv\n\n  gf1 bogus\n",
       typed + "Signature bytes: 1e 96 9  Processor: ATmega644\n" + "-" + "-" + "Fuse byte 1: e7\n-" + "-" + FINISHED, 2},
      {{}, "part=ATmega644", "gf3 e gf1\n", typed + "Fuse byte 3: ff\n-", 1},
      {{}, "part=ATmega644", "-e\n", typed + "-" + FINISHED, 2},  // the '-' belongs to the command line
      // the nested fcmds.txt matches no command
      {{}, "part=ATmega644", "fcmds.txt gf1\n", typed + file_run + "Fuse byte 1: e7\n-" + FINISHED, 2},
      {{"Fcmds.txt", "-gf1"}, "part=ATmega644", "", file_run + "Fuse byte 1: e7\n", 2},
      {{}, "part=ATmega644", "fnothere.txt\n", typed + "Can't open file named: nothere.txt\n" + "\n-" + FINISHED, 2},
      {{"fnothere.txt", "-gf3"}, "part=ATmega644", "", "Can't open file named: nothere.txt\nFuse byte 3: ff\n", 2},
      {{"fstop.txt", "-gf1"}, "part=ATmega644", "", "\n-gf3\nFuse byte 3: ff\n-e\n", 1},
  };
  for (const Row& row : rows) {
    const RunResult r = varnprog(dir, row.args, row.keys, row.input);
    const std::string label = row.args.empty() ? "typed " + row.input : row.args[0];
    EXPECT_EQ(row.input.empty() ? after_banner(r) : r.out, row.out) << label;
    if (row.status >= 0) {
      EXPECT_EQ(r.status, row.status) << label;
    }
  }
  // A failure earlier in the run makes exit report 2; the board check alone is a report.
  EXPECT_EQ(varnprog(dir, {}, "fault=absent", "x1 h e\n").status, 2);
  EXPECT_EQ(varnprog(dir, {}, "fault=absent", "h e\n").status, 1);
}

// As the only argument they answer without a port, a banner or a calibration.
TEST(InfoOptions, HelpAndVersionOfBothProgramsNeedNoHardware) {
  TempDir dir;
  // One version for both programs and the package: the project's.
  const std::string answers[][3] = {{"varnprog", "--help", HELP}, {"varnprog", "--version", "varnprog " VARN_VERSION "\n"},
                                    {"pavolt", "--help", "Command options:\n"}, {"pavolt", "--version", "pavolt " VARN_VERSION "\n"}};
  for (const auto& [program, option, answer] : answers) {
    RunOptions options;
    options.args = {option};
    options.gcal = std::nullopt;
    options.env = {{"LPT1", "/dev/no-such-port"}};
    RunResult r = run_program(program, options, dir);
    EXPECT_EQ(r.out.substr(0, answer.size()) + r.err, answer) << program << option;
    EXPECT_EQ(r.status, 0) << program << option;
    EXPECT_FALSE(dir.exists("gcal.txt")) << program << option;
  }
}

}  // namespace
