// M codes, the blink loops, and the limit report and monitor.
#include "board_checks.h"
#include "signals.h"
#include "fake_port.h"

namespace {

using Aux = FakePort;

TEST_F(Aux, MCodesSwitchTheirOutputOnlyOnAWholeMatch) {
  fake::control = 0x0B;  // all off
  EXPECT_EQ(printed([] { m_code_command("M51"); }), "M Code Command - M51\n");
  EXPECT_EQ(fake::control & 0x02, 0);  // Aux1 on: bit 1 clear, pin high
  m_code_command("M53");
  EXPECT_EQ(fake::control & 0x04, 0x04);
  m_code_command("m52");
  EXPECT_EQ(fake::control & 0x02, 0x02);
  size_t before = fake::calls.size();
  EXPECT_EQ(printed([] {
              m_code_command("M5");
              m_code_command("M510");
            }),
            "M Code Command - M5\nM Code Command - M510\n");
  EXPECT_EQ(fake::calls.size(), before);
}

TEST_F(Aux, BlinkCycleRunsToItsEndBeforeAKeyStopsIt) {
  keys("k", 1);  // the key arrives during the first cycle
  std::string out = printed(toggle_all_aux);
  EXPECT_EQ(out, "Toggle all AUX outputs - hit any key to stop\n");
  EXPECT_EQ(fake::waited, 9 * HALF_SECOND_UNITS);
  EXPECT_EQ(fake::control & 0x0F, 0x0B);  // everything off
  EXPECT_EQ(fake::keys.size(), 1u) << "the key stays pending";
  // The single blinks run in the order Aux1, Aux2, Aux3, Aux4.
  std::vector<int> single_on;
  for (size_t i = 16; i < fake::calls.size(); i += 2) single_on.push_back(fake::calls[i].bit);
  EXPECT_EQ(single_on, (std::vector<int>{1, 2, 3, 0}));
}

TEST_F(Aux, TestOutputIsLeftHigh) {
  keys("k", 2);
  printed(toggle_test_output);
  EXPECT_EQ(fake::data, 1 << LINE_A_DIR);
  EXPECT_EQ(fake::waited, 2 * 2 * HALF_SECOND_UNITS);
}

TEST_F(Aux, MonitorPollsEveryMillisecondAndLeavesTheKey) {
  keys("k", 3);
  std::string out = printed(monitor_limit_states);
  EXPECT_EQ(out.rfind("\nHit any key to stop\n", 0), 0u);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 3);
  EXPECT_EQ(fake::waited, 3 * MONITOR_PASS_UNITS);
  EXPECT_EQ(fake::keys.size(), 1u);
}

}  // namespace
