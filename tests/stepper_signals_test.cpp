// The board's signal map and polarities, the step pulse and the driver transfer.
#include "signals.h"
#include "fake_port.h"

namespace {

using Signals = FakePort;
using Calls = std::vector<std::pair<int, int>>;

TEST_F(Signals, OnlyValueOneDrivesHighAndLinesAboveSevenTouchNothing) {
  fake::data = 0xFF;
  set_axis_line(3, 2);
  EXPECT_EQ(fake::data, 0xF7);
  set_axis_line(3, 1);
  set_axis_line(0, -1);
  EXPECT_EQ(fake::data, 0xFE);
  size_t before = fake::calls.size();
  set_axis_line(8, 1);
  set_axis_line(9, 0);
  set_aux_output(4, 1);
  EXPECT_EQ(fake::calls.size(), before);
}

TEST_F(Signals, AuxGroupsFollowThePortInversions) {
  fake::control = 0xF0;
  all_aux_on();
  EXPECT_EQ(fake::control, 0xF4);  // low bits 0100: every aux pin high
  EXPECT_EQ(fake::on(LPT_CONTROL), (Calls{{1, 0}, {2, 1}, {3, 0}, {0, 0}}));
  all_aux_off();
  EXPECT_EQ(fake::control, 0xFB);  // 1011
  set_aux_output(AUX2, 1);
  EXPECT_EQ(fake::control & 0x0F, 0x0F);
}

TEST_F(Signals, StepPulseIsFourHighThreeLow) {
  step_pulse(LINE_Y_STEP);
  ASSERT_EQ(fake::calls.size(), 2u);
  EXPECT_EQ(fake::calls[0].value, 1);
  EXPECT_EQ(fake::calls[1].at - fake::calls[0].at, 4);
  EXPECT_EQ(fake::waited, 7);
  step_pulse(NO_LINE);
  EXPECT_EQ(fake::calls.size(), 2u);
  EXPECT_EQ(fake::waited, 14);
}

TEST_F(Signals, DriverByteGoesOutLeastSignificantBitFirstOnTheRisingClock) {
  send_driver_byte(0x31, 'x');
  EXPECT_EQ(fake::waited, 86);
  // Replay the calls as a driver would see them: the start condition, then the
  // data level at each rising clock edge. Data never changes while the clock is high.
  int data = 0, clock = 0, bits = 0, value = 0;
  bool started = false;
  for (const PortCall& c : fake::calls) {
    ASSERT_EQ(c.port, LPT_DATA);
    ASSERT_LE(c.bit, 1) << "only the X lines move";
    if (c.bit == 0) {
      if (started) {
        EXPECT_EQ(clock, 0) << "data changed under a high clock";
      }
      if (clock && data && !c.value) started = true;
      data = c.value;
    } else {
      if (started && !clock && c.value) value |= data << bits++;
      clock = c.value;
    }
  }
  EXPECT_EQ(bits, 8);
  EXPECT_EQ(value, 0x31);
  EXPECT_EQ(clock, 0);
  EXPECT_EQ(data, 0);  // left at the last bit
}

TEST_F(Signals, DriverByteToAnUnknownAxisDrivesNothingButTakesItsTime) {
  send_driver_byte(0x31, 'q');
  send_driver_byte(0x31, 'X');  // upper case is not an axis here
  EXPECT_TRUE(fake::calls.empty());
  EXPECT_EQ(fake::waited, 2 * 86);
}

}  // namespace
