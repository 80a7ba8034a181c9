// The simulated four-axis stepper board behind LPT1=sim (board=stepper).
//
// It sees the port's output pins only: eight axis lines on the data pins, four aux
// outputs on the control pins, and it drives five switch inputs on the status pins.
// Per axis it counts steps (rising edges of the step line) and keeps a position,
// and it decodes what the axis's motor driver receives over the direction (data)
// and step (clock) lines: a start condition (data falling while the clock is
// high), then eight bits, least significant first, each taken at a rising clock
// edge. A driver's clock is its axis's step line, so a transfer also counts as
// steps, as it would on the real board.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "sim.h"

namespace io::sim {
namespace {

struct AxisWiring {
  const char* name;  // report and trace prefix
  int dir_bit;       // data pin bit of the direction (driver data) line
  int step_bit;      // data pin bit of the step (driver clock) line
};
constexpr std::array<AxisWiring, 4> axis_wiring = {{
    {"x", 0, 1}, {"y", 2, 3}, {"z", 4, 5}, {"a", 6, 7}}};

// Aux1..Aux4 on control pins C1, C2, C3, C0.
constexpr std::array<int, 4> aux_control_bit = {1, 2, 3, 0};

struct SwitchWiring {
  const char* name;   // as closed= names it
  const char* trace;  // trace signal
  int status_bit;
};
constexpr std::array<SwitchWiring, 5> switch_wiring = {{
    {"x", "X_LIMIT", 7}, {"y", "Y_LIMIT", 5}, {"z", "Z_LIMIT", 4}, {"a", "A_LIMIT", 3},
    {"estop", "ESTOP", 6}}};

// Pins before the program writes anything: data register 0, control register 0,
// which the port's inversion of control bits 0, 1 and 3 turns into pins 1011.
constexpr uint8_t POWER_UP_DATA_PINS = 0x00;
constexpr uint8_t POWER_UP_CONTROL_PINS = 0x0B;

enum DecodeState { WAIT_START, RECEIVING };

struct Axis {
  long steps = 0;
  long position = 0;
  double step_rose_at = -1;  // time of the step line's last rise, -1 while low
  DecodeState state = WAIT_START;
  int bit_count = 0;
  unsigned value = 0;
  std::vector<uint8_t> driver_bytes;
  int trace_step = -1, trace_dir = -1;
};

int level(uint8_t pins, int bit) { return (pins >> bit) & 1; }

class StepperBoard : public Board {
 public:
  StepperBoard(Trace* trace, uint8_t closed_mask, bool fast)
      : trace_(trace), closed_mask_(closed_mask), fast_(fast) {
    pins_.data = POWER_UP_DATA_PINS;
    pins_.control = POWER_UP_CONTROL_PINS;
    if (!trace_) return;
    for (size_t i = 0; i < axes_.size(); ++i) {
      std::string upper(1, static_cast<char>(axis_wiring[i].name[0] - 'a' + 'A'));
      axes_[i].trace_step = trace_->add_signal(upper + "_STEP", level(pins_.data, axis_wiring[i].step_bit));
      axes_[i].trace_dir = trace_->add_signal(upper + "_DIR", level(pins_.data, axis_wiring[i].dir_bit));
    }
    for (size_t i = 0; i < aux_control_bit.size(); ++i)
      trace_aux_[i] = trace_->add_signal("AUX" + std::to_string(i + 1),
                                         level(pins_.control, aux_control_bit[i]));
    uint8_t inputs = input_pins(0);
    for (const SwitchWiring& s : switch_wiring) trace_->add_signal(s.trace, level(inputs, s.status_bit));
  }

  void outputs_changed(const Pins& pins, double now_us) override {
    for (size_t i = 0; i < axes_.size(); ++i) axis_changed(axes_[i], axis_wiring[i], pins, now_us);
    if (trace_)
      for (size_t i = 0; i < aux_control_bit.size(); ++i) {
        int bit = aux_control_bit[i];
        if (level(pins.control, bit) != level(pins_.control, bit))
          trace_->change(trace_aux_[i], level(pins.control, bit), now_us);
      }
    pins_ = pins;
  }

  uint8_t input_pins(double) override {
    // Every switch is open (pin high) unless closed= pulled it low.
    return static_cast<uint8_t>(STATUS_INPUTS & ~closed_mask_);
  }

  std::string describe() const override {
    std::string closed;
    for (const SwitchWiring& s : switch_wiring)
      if (closed_mask_ & (1u << s.status_bit)) closed += std::string(closed.empty() ? "" : "+") + s.name;
    return "stepper board, " + (closed.empty() ? std::string("all switches open") : "closed: " + closed);
  }

  bool fast_timing() const override { return fast_; }

  void write_report(std::FILE* out) override {
    for (size_t i = 0; i < axes_.size(); ++i) {
      const char* name = axis_wiring[i].name;
      std::fprintf(out, "%s_steps=%ld\n", name, axes_[i].steps);
      std::fprintf(out, "%s_position=%ld\n", name, axes_[i].position);
      std::fprintf(out, "%s_driver_bytes=", name);
      for (size_t b = 0; b < axes_[i].driver_bytes.size(); ++b)
        std::fprintf(out, b ? " %02x" : "%02x", axes_[i].driver_bytes[b]);
      std::fprintf(out, "\n");
    }
    for (size_t i = 0; i < aux_control_bit.size(); ++i)
      std::fprintf(out, "aux%zu=%d\n", i + 1, level(pins_.control, aux_control_bit[i]));
    if (step_high_min_us_ < 0)
      std::fprintf(out, "step_high_min_us=none\n");
    else
      std::fprintf(out, "step_high_min_us=%.3f\n", step_high_min_us_);
  }

 private:
  void axis_changed(Axis& axis, const AxisWiring& wiring, const Pins& pins, double now_us) {
    int dir_was = level(pins_.data, wiring.dir_bit), dir = level(pins.data, wiring.dir_bit);
    int step_was = level(pins_.data, wiring.step_bit), step = level(pins.data, wiring.step_bit);
    if (trace_) {
      if (dir != dir_was) trace_->change(axis.trace_dir, dir, now_us);
      if (step != step_was) trace_->change(axis.trace_step, step, now_us);
    }
    // Data falling while the clock is high starts a byte, whatever came before.
    if (dir_was && !dir && step_was && step) {
      axis.state = RECEIVING;
      axis.bit_count = 0;
      axis.value = 0;
    }
    if (!step_was && step) {
      ++axis.steps;
      axis.position += dir ? -1 : 1;  // a high direction line turns counter-clockwise
      axis.step_rose_at = now_us;
      if (axis.state == RECEIVING) {
        axis.value |= static_cast<unsigned>(dir) << axis.bit_count;
        if (++axis.bit_count == 8) {
          axis.driver_bytes.push_back(static_cast<uint8_t>(axis.value));
          axis.state = WAIT_START;
        }
      }
    }
    if (step_was && !step && axis.step_rose_at >= 0) {
      double high = now_us - axis.step_rose_at;
      if (step_high_min_us_ < 0 || high < step_high_min_us_) step_high_min_us_ = high;
      axis.step_rose_at = -1;
    }
  }

  Trace* trace_;
  uint8_t closed_mask_;
  bool fast_;  // timing=fast
  Pins pins_;
  std::array<Axis, 4> axes_;
  std::array<int, 4> trace_aux_ = {-1, -1, -1, -1};
  double step_high_min_us_ = -1;
};

// closed=x+estop (or x/estop): the switches that read closed, their pins held low.
bool parse_closed(const std::string& text, uint8_t& mask, std::string& message) {
  mask = 0;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t end = text.find_first_of("+/", start);
    if (end == std::string::npos) end = text.size();
    std::string name = text.substr(start, end - start);
    bool known = false;
    for (const SwitchWiring& s : switch_wiring)
      if (name == s.name) {
        mask = static_cast<uint8_t>(mask | (1u << s.status_bit));
        known = true;
      }
    if (!known) {
      message = "LPT1=sim: closed= names '" + name +
                "', not a switch - give x, y, z, a or estop, joined by + (closed=x+estop)";
      return false;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

std::unique_ptr<Board> make_stepper_board(Options& options, Trace* trace, std::string& message) {
  uint8_t closed = 0;
  if (!parse_closed(options.take("closed"), closed, message)) return nullptr;
  // The board answers at once and refuses no timing either way; timing=fast only tells
  // the programs that their waits may be short, as on the varn board.
  std::string timing = options.take("timing", "real");
  if (timing != "real" && timing != "fast") {
    message = "LPT1=sim: timing=" + timing + " is neither real nor fast";
    return nullptr;
  }
  return std::make_unique<StepperBoard>(trace, closed, timing == "fast");
}

}  // namespace io::sim
