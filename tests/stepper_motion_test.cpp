// Single steps, the test drive's keys and figures, and the ramp, pass by pass.
#include "motion.h"
#include "settings.h"
#include "signals.h"
#include "fake_port.h"

namespace {

class Motion : public FakePort {
 protected:
  void SetUp() override {
    FakePort::SetUp();
    store_default_settings();
    derive_delay_limits();
  }
  // Rising edges of each step line, and the direction line's level at each.
  static std::vector<std::pair<int, int>> steps() {
    std::vector<std::pair<int, int>> out;
    uint8_t data = 0;
    for (const PortCall& c : fake::calls) {
      if (c.port != LPT_DATA) continue;
      if (c.bit % 2 == 1 && c.value && !(data >> c.bit & 1)) out.push_back({c.bit, data >> (c.bit - 1) & 1});
      data = static_cast<uint8_t>(c.value ? data | 1 << c.bit : data & ~(1 << c.bit));
    }
    return out;
  }
};

TEST_F(Motion, SpeedFiguresAndSpeedKeys) {
  EXPECT_EQ(speed_figures(2058).steps_per_second, 485);
  EXPECT_EQ(speed_figures(2058).rpm, 145);
  EXPECT_EQ(speed_figures(20058).steps_per_second, 49);
  EXPECT_EQ(speed_figures(20058).rpm, 14);
  EXPECT_EQ(speed_figures(0).steps_per_second, INT32_MAX);  // no undefined conversion
  EXPECT_EQ(apply_speed_key(2000, 'u'), 1900);
  EXPECT_EQ(apply_speed_key(2000, 'd'), 2100);
  EXPECT_EQ(apply_speed_key(10, 'd'), 21);
  EXPECT_EQ(apply_speed_key(19, 'd'), 39);
  EXPECT_EQ(apply_speed_key(20, 'd'), 21);
  EXPECT_EQ(apply_speed_key(1, 'u'), 1);
  EXPECT_EQ(apply_speed_key(0, 'Q'), 1);
  EXPECT_EQ(apply_speed_key(DRIVE_SLOWEST_DELAY, 'd'), DRIVE_SLOWEST_DELAY);
}

TEST_F(Motion, DriveKeysArmOneActionPerAxisKey) {
  settings.x_axis_enable = 0;
  DriveKeys keys;
  std::string out = printed([&] {
    EXPECT_FALSE(drive_key(keys, 'o'));  // no axis yet: the delay line only
    EXPECT_EQ(settings.x_axis_enable, 0);
    drive_key(keys, 'x');
    drive_key(keys, 'o');
    EXPECT_EQ(settings.x_axis_enable, 1);
    drive_key(keys, 'y');
    drive_key(keys, 'u');  // leaves the action armed
    drive_key(keys, 'w');
    drive_key(keys, 'c');  // disarmed: Y stays counter-clockwise
    EXPECT_FALSE(drive_key(keys, 'Q'));
    EXPECT_TRUE(drive_key(keys, 'q'));
  });
  EXPECT_EQ(settings.y_axis_direction, 1);
  EXPECT_EQ(settings.test_delay_us, 1900);
  const char* first = "Delay 2058 usec, 490 steps/sec, 147 rpm                      \r";
  EXPECT_EQ(out.rfind(first, 0), 0u) << out;
  EXPECT_NE(out.find("Delay 1958 usec, 515 steps/sec, 154 rpm"), std::string::npos);
  EXPECT_NE(out.find("Axis Status:  X W CW ON, Y W CCW ON"), std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 8);  // every key but q
}

TEST_F(Motion, TestDriveStepsEnabledAxesAndEndsAtEndOfInput) {
  settings.z_axis_enable = 0;
  settings.a_axis_direction = 1;
  keys("d", 2, true);  // two quiet passes, then d; then input ends, which counts as q
  std::string out = printed(test_drive);
  EXPECT_NE(out.find("Delay 2058 usec, 485 steps/sec, 145 rpm - u-increase, d-decrease, q-exit\n"),
            std::string::npos);
  EXPECT_NE(out.find("Delay 2158 usec, 467 steps/sec, 140 rpm"), std::string::npos);
  // Four passes, each waiting before its key poll (the d comes after the third;
  // the end of input after the fourth): X, Y and A step, Z never.
  auto s = steps();
  ASSERT_EQ(s.size(), 12u);
  EXPECT_EQ(s[2], (std::pair<int, int>{7, 1}));
  EXPECT_EQ(fake::waited, 3 * (3 * 7 + 2000) + (3 * 7 + 2100));
}

TEST_F(Motion, RampTraceFromItsStart) {
  RampState ramp = ramp_start(RAMP_START_DELAY);
  std::string line = printed([&] { ramp_pass(ramp); });
  EXPECT_EQ(line, "Delay 100000 usec, 10 steps/sec, 3 rpm                \r");
  EXPECT_EQ(ramp.direction, 1);
  EXPECT_TRUE(ramp.accelerating);
  EXPECT_EQ(fake::waited, 200000 + 4 * 7);
  // Every step of the first pass went clockwise; the ramp ignores the stored directions.
  for (auto [line_no, dir] : steps()) EXPECT_EQ(dir, 0) << line_no;

  // Down by five per cent per adjustment to the fast clamp...
  int adjustments = 0;
  int32_t previous = ramp.delay;
  while (ramp.accelerating && adjustments < 1000) {
    ramp_adjust(ramp);
    if (ramp.delay != previous) {
      ++adjustments;
      if (ramp.accelerating) {
        EXPECT_EQ(ramp.delay, static_cast<int32_t>(previous - previous * 0.05));
      }
      previous = ramp.delay;
    }
  }
  EXPECT_EQ(ramp.delay, 285);
  EXPECT_EQ(speed_figures(285).steps_per_second, 3508);
  EXPECT_EQ(speed_figures(285).rpm, 1052);
  // ...then up again until it passes the slow end, where it reverses.
  while (!ramp.accelerating) ramp_adjust(ramp);
  EXPECT_EQ(ramp.delay, 100000);
  EXPECT_EQ(ramp.direction, 0);
}

TEST_F(Motion, RampAtASubTwentyFloorStaysThere) {
  settings.x_min_delay_us = 10;
  RampState ramp{10, false, 0, 0};
  for (int i = 0; i < 20000; ++i) ramp_adjust(ramp);
  EXPECT_EQ(ramp.delay, 10);
}

TEST_F(Motion, DisabledAxesStillGetDirectionsAndWaits) {
  for (int axis = 0; axis < AXIS_COUNT; ++axis) axis_enable(axis) = 0;
  settings.y_axis_direction = 1;
  drive_step_pass();
  EXPECT_TRUE(steps().empty());
  EXPECT_EQ(fake::on(LPT_DATA), (std::vector<std::pair<int, int>>{{0, 0}, {2, 1}, {4, 0}, {6, 0}}));
  keys("x");
  printed([] { ramp_test(5000); });
  EXPECT_TRUE(steps().empty());
  EXPECT_FALSE(fake::keys.empty()) << "the ramp leaves its key pending";
}

}  // namespace
