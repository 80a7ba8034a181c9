// Defaults, the configuration file's words, the derived limits and the reports.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "run_state.h"
#include "settings.h"
#include "fake_port.h"

namespace {

class Config : public FakePort {
 protected:
  void SetUp() override {
    FakePort::SetUp();
    store_default_settings();
    run_failed = 0;
  }
  // Reads `text` as the configuration file and derives the limits; returns what it printed.
  static std::string load(const std::string& text) {
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::string out = printed([&] { read_config(file, "pavoltconfig.txt"); });
    std::fclose(file);
    derive_delay_limits();
    return out;
  }
};

TEST_F(Config, DefaultLimitsAndResolution) {
  derive_delay_limits();
  EXPECT_EQ(settings.x_min_delay_us, 285);
  EXPECT_EQ(settings.x_max_delay_us, 100000);
  uint32_t bits;
  std::memcpy(&bits, &settings.x_resolution, sizeof bits);
  EXPECT_EQ(bits, 0x3983126Fu);
}

TEST_F(Config, ExampleFileWithCapitalKeys) {
  EXPECT_EQ(load("max_x_step_pps 3000\nX_AXIS_ENABLE off\ny_axis_direction ccw\nz_step_mode Half\n"), "");
  EXPECT_EQ(settings.max_x_step_pps, 3000);
  EXPECT_EQ(settings.x_min_delay_us, 333);
  EXPECT_EQ(printed(print_axis_status), "Axis Status:  X W CW OFF, Y W CCW ON, Z H CW ON, A W CW ON\n");
  EXPECT_EQ(run_failed, 0);
}

TEST_F(Config, StrayWordsRepeatsAndUnknownValues) {
  testing::internal::CaptureStderr();
  load("remark MAX_X_STEP_PPS four min_x_step_pps 20 x_axis_enable maybe on\n"
       "max_y_step_pps 4000 max_y_step_pps 2000 max_feedrate 12.5 a_resolution 0.001\n"
       "a_axis_direction CCW a_axis_direction sideways");
  EXPECT_EQ(settings.max_x_step_pps, 3500);  // "four" is no number: skipped as a non-key
  EXPECT_EQ(settings.min_x_step_pps, 20);
  EXPECT_EQ(settings.x_max_delay_us, 50000);
  EXPECT_EQ(settings.x_axis_enable, 1);      // "maybe" consumed; "on" is no key
  EXPECT_EQ(settings.max_y_step_pps, 2000);
  EXPECT_FLOAT_EQ(settings.max_feedrate, 12.5f);
  EXPECT_FLOAT_EQ(settings.a_resolution, 0.001f);
  EXPECT_EQ(settings.a_axis_direction, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "pavoltconfig.txt line 1: max_x_step_pps four is not a whole number - keeping 3500\n"
            "pavoltconfig.txt line 1: x_axis_enable maybe is neither on nor off - keeping on\n"
            "pavoltconfig.txt line 3: a_axis_direction sideways is neither cw nor ccw - keeping ccw\n");
}

// A number run into the next key is refused whole; the key after it still counts.
TEST_F(Config, NumberRunIntoTheNextKeyIsRefusedAndTheKeyRead) {
  testing::internal::CaptureStderr();
  load("max_x_step_pps 1000min_x_step_pps 50");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "pavoltconfig.txt line 1: max_x_step_pps 1000min_x_step_pps is not a whole number - keeping 3500\n");
  EXPECT_EQ(settings.max_x_step_pps, 3500);
  EXPECT_EQ(settings.min_x_step_pps, 50);
}

// Each row: a file, and the one line it gives on standard error; every setting keeps
// its default, and the run fails.
TEST_F(Config, BadNumbersAndAMinimumAboveItsMaximumAreRefusedByName) {
  const std::string defaults = printed(print_settings), f = "pavoltconfig.txt line ";
  const std::string keep = " - keeping 0.00025\n";
  const struct {
    std::string file, err;
  } rows[] = {
      {"max_x_step_pps 0", f + "1: max_x_step_pps 0 must be above 0 - keeping 3500\n"},
      {"min_x_step_pps -5", f + "1: min_x_step_pps -5 must be above 0 - keeping 10\n"},
      {"min_z_step_pps 99999999999", f + "1: min_z_step_pps 99999999999 is out of range - keeping 10\n"},
      {"max_feedrate -5", f + "1: max_feedrate -5 must be above 0 - keeping 20\n"},
      {"\nmax_feedrate 0.0", f + "2: max_feedrate 0.0 must be above 0 - keeping 20\n"},
      {"x_resolution 0", f + "1: x_resolution 0 must be above 0" + keep},
      {"y_resolution -1", f + "1: y_resolution -1 must be above 0" + keep},
      {"z_resolution 0x10", f + "1: z_resolution 0x10 is not a plain decimal number" + keep},
      {"a_resolution 1e308", f + "1: a_resolution 1e308 is not a plain decimal number" + keep},
      {"x_resolution 1" + std::string(40, '0'), f + "1: x_resolution 1" + std::string(40, '0') + " is out of range" + keep},
      {"min_x_step_pps 5000\nmax_x_step_pps 100\n",
       f + "2: min_x_step_pps 5000 is above max_x_step_pps 100 - keeping 10 and 3500\n"},
  };
  for (const auto& row : rows) {
    store_default_settings();
    run_failed = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(load(row.file), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err) << row.file;
    EXPECT_EQ(printed(print_settings), defaults) << row.file;
    EXPECT_EQ(run_failed, 1) << row.file;
  }
}

TEST_F(Config, WordsOverFiftyNineCharactersAreRefusedNotOverflowed) {
  std::string long_word(60, 'w');
  std::string out = load("x_step_mode " + long_word + " y_step_mode " + std::string(59, 'q'));
  EXPECT_EQ(settings.x_step_mode, 'w');
  EXPECT_EQ(settings.y_step_mode, 'q');
  EXPECT_NE(out.find("59"), std::string::npos);
  EXPECT_EQ(run_failed, 1);
}

// The first operation, which opens the port, puts every aux output off in one write
// (on ppdev the claim has just switched Aux1, Aux2 and Aux4 on).
TEST_F(Config, InitSwitchesEveryAuxOffAtOnceThenDrivesEveryLineLow) {
  fake::data = 0xFF;
  fake::control = 0x0C;  // as a ppdev claim leaves it
  init_settings();
  EXPECT_EQ(fake::data, 0x00);
  EXPECT_EQ(fake::control & 0x0F, 0x0B);
  ASSERT_GE(fake::calls.size(), 13u);
  EXPECT_EQ(fake::calls[0].port, LPT_CONTROL);
  EXPECT_EQ(fake::calls[0].bit, -1);
  EXPECT_EQ(fake::calls[0].value, 0x0B);
  for (unsigned line = 0; line < 8; ++line) EXPECT_EQ(fake::calls[line + 1].bit, static_cast<int>(line));
}

}  // namespace
