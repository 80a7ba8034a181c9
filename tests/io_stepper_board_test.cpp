// The simulated stepper board, driven pin change by pin change with explicit times.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "run_program.h"
#include "sim.h"

namespace {

using io::sim::Pins;

class StepperBoard : public ::testing::Test {
 protected:
  void make(const std::string& settings = "") {
    io::sim::Options options;
    std::string message;
    ASSERT_TRUE(options.parse(settings, message));
    board = io::sim::make_stepper_board(options, nullptr, message);
    ASSERT_TRUE(board) << message;
    pins = {0, 0x0B};
  }
  // Sets or clears one data pin at time `t`.
  void data(int bit, int level, double t) {
    pins.data = static_cast<uint8_t>(level ? pins.data | 1 << bit : pins.data & ~(1 << bit));
    board->outputs_changed(pins, t);
  }
  std::string report() {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    board->write_report(out);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
  }
  std::string value(const std::string& key) { return report_value(report(), key).value_or("missing"); }

  std::unique_ptr<io::sim::Board> board;
  Pins pins;
};

TEST_F(StepperBoard, CountsStepsSignedByTheDirectionAtTheRise) {
  make();
  double t = 0;
  for (int i = 0; i < 3; ++i) {  // three clockwise steps of X, 4 us high
    data(1, 1, t += 10);
    data(1, 0, t += 4);
  }
  data(6, 1, t += 10);  // A counter-clockwise
  data(7, 1, t += 1);
  data(6, 0, t += 1);   // a direction change while the step is high counts nothing
  data(7, 0, t += 2.5);
  EXPECT_EQ(value("x_steps"), "3");
  EXPECT_EQ(value("x_position"), "3");
  EXPECT_EQ(value("a_steps"), "1");
  EXPECT_EQ(value("a_position"), "-1");
  EXPECT_EQ(value("y_steps"), "0");
  EXPECT_EQ(std::stod(value("step_high_min_us")), 3.5);
}

TEST_F(StepperBoard, DecodesDriverBytesAfterTheStartCondition) {
  make();
  double t = 0;
  auto send = [&](int byte, int dir_bit, int clock_bit) {
    data(dir_bit, 1, t += 1);
    data(clock_bit, 1, t += 1);
    data(dir_bit, 0, t += 5);  // start: data falls under a high clock
    for (int bit = 0; bit < 8; ++bit) {
      data(clock_bit, 0, t += 1);
      data(dir_bit, byte >> bit & 1, t += 5);
      data(clock_bit, 1, t += 0.1);
    }
    data(clock_bit, 0, t += 5);
  };
  send(0x31, 2, 3);
  send(0xE9, 2, 3);
  send(0x05, 4, 5);
  EXPECT_EQ(value("y_driver_bytes"), "31 e9");
  EXPECT_EQ(value("z_driver_bytes"), "05");
  EXPECT_EQ(value("x_driver_bytes"), "");
  // Plain steps after a byte are not taken for a new one.
  data(3, 1, t += 10);
  data(3, 0, t += 4);
  EXPECT_EQ(value("y_driver_bytes"), "31 e9");
  EXPECT_EQ(value("y_steps"), "19");
}

TEST_F(StepperBoard, AuxPinsAndSwitchInputs) {
  make("closed=x+estop");
  EXPECT_EQ(board->input_pins(0) & 0xF8, 0x38);  // X (bit 7) and estop (bit 6) pins low
  pins.control = 0x06;  // C1 and C2 high: Aux1 and Aux2 on
  board->outputs_changed(pins, 1);
  EXPECT_EQ(value("aux1"), "1");
  EXPECT_EQ(value("aux2"), "1");
  EXPECT_EQ(value("aux3"), "0");
  EXPECT_EQ(value("aux4"), "0");
  make("closed=a/y");
  EXPECT_EQ(board->input_pins(0) & 0xF8, 0xD0);
  make();
  EXPECT_EQ(board->input_pins(0) & 0xF8, 0xF8);
  EXPECT_EQ(value("step_high_min_us"), "none");
}

TEST_F(StepperBoard, UnknownSwitchNamesAreRefused) {
  for (const char* bad : {"closed=x+q", "closed=x+", "closed=X", "timing=slow"}) {
    io::sim::Options options;
    std::string message;
    ASSERT_TRUE(options.parse(bad, message));
    EXPECT_FALSE(io::sim::make_stepper_board(options, nullptr, message)) << bad;
    EXPECT_NE(message.find(std::string(bad).substr(0, 7)), std::string::npos) << message;
  }
}

}  // namespace
