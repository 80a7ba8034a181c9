// pavolt run as a user runs it, over the simulated stepper board.
#include <gtest/gtest.h>

#include "run_program.h"

namespace {

struct Pavolt {
  TempDir dir;
  RunResult result;
  std::string report;

  // Runs pavolt with `args` and `input`; `board` adds settings of the simulated board.
  const std::string& run(std::vector<std::string> args, const std::string& input = "",
                         const std::string& board = "", std::vector<InputChunk> chunks = {},
                         const std::string& gcal = "1") {
    RunOptions options;
    options.args = std::move(args);
    options.input = input;
    options.chunks = std::move(chunks);
    options.gcal = gcal;
    options.env = {{"LPT1", "sim:timing=fast,report=report.txt" + board}};
    result = run_program("pavolt", options, dir);
    report = dir.read("report.txt");
    EXPECT_FALSE(result.timed_out);
    return result.out;
  }
  std::string value(const std::string& key) const { return report_value(report, key).value_or("missing"); }
  bool shows(const std::string& text) const { return result.out.find(text) != std::string::npos; }
};

// A key for a loop, sent once the loop has shown its first line, however slow the
// machine; the loops' figure of "gcal.txt" keeps their output small meanwhile.
const InputChunk KEY_AFTER_FIRST_RAMP_LINE{0, "k", " usec, "};
const InputChunk KEY_AFTER_FIRST_MONITOR_LINE{0, "k\n", "Limit State = "};
constexpr const char* SLOW_GCAL = "1000";

constexpr const char* BANNER_END = "Type 'e' to exit,'h' for help\n";
constexpr const char* DEFAULTS =
    "Default settings:\n"
    "  X step pps min/max: 10 3500\n  Y step pps min/max: 10 3500\n"
    "  Z step pps min/max: 10 3500\n  A step pps min/max: 10 3500\n"
    "  Maximum feedrate: 20.000 ipm\n"
    "  X-Axis resolution: 0.000250 in/step\n  Y-Axis resolution: 0.000250 in/step\n"
    "  Z-Axis resolution: 0.000250 in/step\n  A-Axis resolution: 0.000250 in/step\n"
    "  Axis Status:  X W CW ON, Y W CW ON, Z W CW ON, A W CW ON\n";

TEST(PavoltStart, SettingsReportAndEndOfInputEndsAsE) {
  Pavolt p;
  std::string out = p.run({}, "p\n");
  EXPECT_EQ(out.rfind("Pavolt Utility V0.97\n", 0), 0u);
  size_t prompt = out.find(BANNER_END);
  ASSERT_NE(prompt, std::string::npos);
  EXPECT_EQ(out.substr(prompt + std::string(BANNER_END).size()), std::string("\n\n-") + DEFAULTS + "-");
  EXPECT_EQ(p.result.status, 1);
}

TEST(PavoltStart, ConfigurationFileAndItsDerivedLimits) {
  Pavolt p;
  p.dir.write("pavoltconfig.txt",
              "max_x_step_pps 3000\nX_AXIS_ENABLE off\ny_axis_direction ccw\nz_step_mode Half\n"
              "note: min_x_step_pps 40 min_x_step_pps 20 max_feedrate 12.5\n");
  p.run({"-p", "-r"}, "", "", {KEY_AFTER_FIRST_RAMP_LINE}, SLOW_GCAL);  // the key ends the ramp
  EXPECT_TRUE(p.shows("\npavoltconfig.txt file found - Updating parameters\n\n"));
  EXPECT_TRUE(p.shows("  X step pps min/max: 20 3000\n"));
  EXPECT_TRUE(p.shows("  Maximum feedrate: 12.500 ipm\n"));
  EXPECT_TRUE(p.shows("Axis Status:  X W CW OFF, Y W CCW ON, Z H CW ON, A W CW ON\n"));
  // The ramp's first adjustment clamps at the slow limit, 1000000 / 20.
  EXPECT_TRUE(p.shows("Ramp Test Function\nPress any key to quit\n"
                      "Delay 50000 usec, 20 steps/sec, 6 rpm                \r"));
  EXPECT_EQ(p.value("x_steps"), "0");  // X is off
  EXPECT_NE(p.value("y_steps"), "0");
  EXPECT_EQ(p.result.status, 0);
}

// Values the file gives that can't be used, and words that match no command: each is
// named on standard error, the settings keep their values, and the run ends with 2.
TEST(PavoltStart, RefusedValuesAndWordsAreNamedAndFailTheRun) {
  const std::string file = "pavoltconfig.txt line ";
  struct Case {
    std::string config;
    std::vector<std::string> args;
    std::vector<std::string> err;  // in this order
    std::string shown;
  } cases[] = {
      {"max_x_step_pps 0\n", {"-p"}, {file + "1: max_x_step_pps 0 must be above 0 - keeping 3500\n"}, "X step pps min/max: 10 3500"},
      {"x_axis_enable\nmaybe max_feedrate 12,5 min_x_step_pps 20\nz_step_mode\n", {"-p"},
       {file + "2: x_axis_enable maybe is neither on nor off - keeping on\n",
        file + "2: max_feedrate 12,5 is not a plain decimal number - keeping 20\n", file + "3: z_step_mode has no value - keeping w\n"},
       "20.000 ipm\n  X-Axis"},
      {"", {"-zz", "-", "-p"}, {"No command matches 'zz' - h lists the commands\n", "No command matches ''"}, DEFAULTS},
      // Words that need an argument and get none or a bad one; c still echoes what it drove nowhere.
      {"", {"-d-5", "-d", "-dabc", "-d5x", "-s", "-sq", "-sxq", "-cq", "-cx", "-p"},
       {"'s' refused - s needs an axis x, y, z or a, then c (clockwise) or w: sxc\n", "'sq' refused", "'sxq' refused",
        "'cq' refused - c needs an axis x, y, z or a, then the bytes to send: cx12\n", "'cx' refused"},
       "Delay -5 refused - give 0 to 2147483647 milliseconds\n\nNo delay given - d needs a number of milliseconds "
       "(d500)\n\nNo delay given - d needs a number of milliseconds (d500)\n\nDelay 5x refused - give 0 to 2147483647 "
       "milliseconds\n\n\n\n\n\n\n\n\n" + std::string(DEFAULTS)},
  };
  for (const Case& c : cases) {
    Pavolt p;
    if (!c.config.empty()) p.dir.write("pavoltconfig.txt", c.config);
    p.run(c.args);
    size_t at = 0;
    for (const std::string& line : c.err) {
      at = p.result.err.find(line, at);
      EXPECT_NE(at, std::string::npos) << c.config << line << p.result.err;
    }
    EXPECT_TRUE(p.shows(c.shown)) << c.config << p.result.out;
    EXPECT_TRUE(p.shows("X W CW ON") && p.shows("Program finished"));
    EXPECT_EQ(p.result.status, 2);
  }
}

TEST(PavoltCommandLine, ArgumentsRunInOrderUntilE) {
  Pavolt p;
  std::string out = p.run({"-p", "-x", "-e", "-p"});
  size_t first = out.find("Default settings:");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(out.find("Default settings:", first + 1), std::string::npos);
  EXPECT_FALSE(p.shows("Program finished"));
  EXPECT_NE(p.result.err.find("No command matches 'x'"), std::string::npos);
  EXPECT_EQ(p.result.status, 2);  // e's status, but x matched nothing

  Pavolt bare;
  out = bare.run({"p"});
  EXPECT_FALSE(bare.shows("Default settings:"));
  std::string ending = std::string(BANNER_END) + "\n\nProgram finished - hit any key to exit!";
  EXPECT_EQ(out.substr(out.size() - ending.size()), ending);
  EXPECT_EQ(bare.result.status, 0);
}

TEST(PavoltBoard, SingleStepsDriverBytesAndAuxOutputs) {
  Pavolt p;
  p.run({"-sxc", "-SXC", "-sx", "-sa", "-cy1\xe9", "-M51", "-m53", "-M55", "-M56", "-M57", "-m58"}, "",
        ",trace=board.vcd");
  std::string trace = p.dir.read("board.vcd");
  for (const char* name : {" X_STEP $end", " A_DIR $end", " AUX4 $end", " Z_LIMIT $end", " ESTOP $end"})
    EXPECT_NE(trace.find(name), std::string::npos) << name;
  EXPECT_EQ(p.value("x_steps"), "3");
  EXPECT_EQ(p.value("x_position"), "1");
  EXPECT_EQ(p.value("a_position"), "-1");
  EXPECT_EQ(p.value("y_driver_bytes"), "31 e9");
  EXPECT_EQ(p.value("x_driver_bytes"), "");
  EXPECT_TRUE(p.shows(" 1 31  \xe9 ffffffe9 \n\n"));
  EXPECT_TRUE(p.shows("M Code Command - m53\n"));
  EXPECT_EQ(p.value("aux1") + p.value("aux2") + p.value("aux3") + p.value("aux4"), "1100");
  EXPECT_EQ(p.result.status, 0);
}

// One input closed at a time, so a line that reads another line's switch shows.
TEST(PavoltBoard, LimitReportAndMonitorForOpenAndClosedInputs) {
  for (auto [closed, report, monitor] : {
           std::tuple{"", "X limit=Open\nY limit=Open\nZ limit=Open\nA limit=Open\nESTOP=Open\n", "H H H H H"},
           {",closed=x", "X Limit=Closed\nY limit=Open\nZ limit=Open\nA limit=Open\nESTOP=Open\n", "L H H H H"},
           {",closed=y", "X limit=Open\nY Limit=Closed\nZ limit=Open\nA limit=Open\nESTOP=Open\n", "H L H H H"},
           {",closed=z", "X limit=Open\nY limit=Open\nZ Limit=Closed\nA limit=Open\nESTOP=Open\n", "H H L H H"},
           {",closed=a", "X limit=Open\nY limit=Open\nZ limit=Open\nA Limit=Closed\nESTOP=Open\n", "H H H L H"},
           {",closed=estop", "X limit=Open\nY limit=Open\nZ limit=Open\nA limit=Open\nESTOP=Closed\n", "H H H H L"}}) {
    Pavolt p;
    p.run({}, "l\n", closed, {KEY_AFTER_FIRST_MONITOR_LINE}, "30");
    EXPECT_TRUE(p.shows(report)) << closed;
    EXPECT_TRUE(p.shows(std::string("\nHit any key to stop\nx,y,z,a,e Limit State = ") + monitor +
                        "              \r"))
        << closed;
    EXPECT_TRUE(p.shows("\r\n-")) << "line end after the monitor";
  }
}

TEST(PavoltWords, EchoesHelpTextsAndPrefixQuirks) {
  Pavolt p;
  std::string out = p.run({}, "g1 N10 M5 GH d 500 F10.0 X1.0 h\n");
  EXPECT_TRUE(p.shows("-G Code Command - g1\n-N Code Command - N10\n-M Code Command - M5\n-"
                      "Supported G Code Commands:\n\n  -G0 Xxx.x Yyy.y Zyy.y Aaa.a Fff.f - Fast Move\n"));
  EXPECT_TRUE(p.shows("Commands can be preceeded with 'Nxxx'\n\n-"));
  EXPECT_TRUE(p.shows("No delay given"));
  EXPECT_TRUE(p.shows("Delay 20058 usec, 49 steps/sec, 14 rpm - u-increase, d-decrease, q-exit\n"));
  EXPECT_TRUE(p.shows("Can't open file 10.0 - may not exist\n--Command options:\n\n"
                      "  -ffilename  - Load and run Script/GCode command file - TBD\n"));
  EXPECT_TRUE(p.shows("  -h          - Output help menu\n\nFor a list of G Code commands enter -gh\n\n-"));
  EXPECT_EQ(p.result.status, 2);  // the file that could not be opened
}

TEST(PavoltWords, CommandFilesRunAsIfTyped) {
  Pavolt p;
  p.dir.write("file.txt", "t\n  p\n");
  std::string out = p.run({}, "ffile.txt\n");
  EXPECT_TRUE(p.shows("\n--t\nTest Drive Function\nAxis Status:"));
  EXPECT_TRUE(p.shows("\n-p\n" + std::string(DEFAULTS) + "-"));
  EXPECT_EQ(out.back(), '-');
  EXPECT_EQ(p.result.status, 1);
}

TEST(PavoltWords, OverlongWordIsRefusedAndFailsTheRun) {
  Pavolt p;
  p.run({}, std::string(200, 'p') + "\np\n");
  EXPECT_TRUE(p.shows("refused"));
  EXPECT_TRUE(p.shows(DEFAULTS));  // the next word still runs
  EXPECT_EQ(p.result.status, 2);
}

TEST(PavoltDrive, KeysFromStandardInput) {
  Pavolt p;
  p.run({}, "t\nudxfQzwq");
  EXPECT_TRUE(p.shows("Enter axis id [x,y,z,a] followed by [o-on|f-off] or [c-cw|w-ccw]\nPress any q to quit\n\n"
                      "Delay 2058 usec, 485 steps/sec, 145 rpm - u-increase, d-decrease, q-exit\n"
                      "Delay 1958 usec, 515 steps/sec, 154 rpm                      \r"
                      "Delay 2053 usec, 491 steps/sec, 147 rpm                      \r"));
  EXPECT_TRUE(p.shows("\rAxis Status:  X W CW OFF, Y W CW ON, Z W CW ON, A W CW ON\n"
                      "Delay 2053 usec, 491 steps/sec, 147 rpm                      \r"));  // Q: the line only
  EXPECT_TRUE(p.shows("Axis Status:  X W CW OFF, Y W CW ON, Z W CCW ON, A W CW ON\n\n-"));
  long x = std::stol(p.value("x_steps")), y = std::stol(p.value("y_steps"));
  EXPECT_GE(x, 3);
  EXPECT_GE(y, x + 1);  // X stopped stepping after x f
  EXPECT_LT(std::stol(p.value("z_position")), std::stol(p.value("z_steps")));
  EXPECT_EQ(p.result.status, 1);
}

}  // namespace
