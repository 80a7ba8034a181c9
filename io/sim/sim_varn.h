// The simulated Varn board: one ATmega on the ISP cable, seen at its pins.
// Cable: MOSI, SCK and RESET on data bits 0 to 2 (connector pins 2 to 4), MISO on
// status bit 7 (pin 11). The chip's memories and instructions are in sim_chip.h;
// this layer frames the bits into instructions the way the serial-programming
// interface does, and checks the timing a real chip needs.
#pragma once
#include <cstdint>
#include <limits>
#include <string>

#include "sim.h"
#include "sim_chip.h"

namespace io::sim {

// Output data bits of the cable and the status pin that carries MISO.
constexpr uint8_t PIN_MOSI = 0x01;
constexpr uint8_t PIN_SCK = 0x02;
constexpr uint8_t PIN_RESET = 0x04;
constexpr uint8_t STATUS_PIN_MISO = 0x80;
// Status inputs the cable leaves unconnected float high.
constexpr uint8_t STATUS_IDLE = STATUS_INPUTS & ~STATUS_PIN_MISO;

// The chip waits this long after RESET fell before it takes an instruction.
constexpr double ENABLE_DELAY_US = 20000;

struct VarnSettings {
  const SimPart* part = nullptr;  // null: the state file's part, else the ATmega644
  bool factory_fuses = false;
  double clock_mhz = 0;  // 0: from the low fuse
  bool strict = false;
  bool fast = false;
  std::string state_path;
  Fault fault = Fault::none;
  uint32_t flip_every = 0;
};

// Takes the board's own keys from `options`. False with a one-line message on a bad value.
bool take_varn_settings(Options& options, VarnSettings& settings, std::string& message);

// State file of the chip's memories, fuses and lock (format in docs/simulator.md).
// `found` is false when the file does not exist yet; the chip is then a new one.
bool load_chip_state(const std::string& path, const SimPart* wanted, bool factory_fuses, Chip& chip,
                     bool& found, std::string& message);
std::string chip_state_text(const Chip& chip);

enum class Link {
  held,         // RESET low without a clean pulse: not in programming mode
  running,      // RESET high: the chip runs its program
  await_enable, // programming mode, waiting for Programming Enable
  enabled,      // in step: instructions are carried out
  out_of_step   // deaf until the next RESET pulse
};

class VarnBoard : public Board {
 public:
  VarnBoard(const VarnSettings& settings, Trace* trace);
  void outputs_changed(const Pins& pins, double now_us) override;
  uint8_t input_pins(double now_us) override;
  std::string describe() const override;
  void write_report(std::FILE* out) override;
  bool finish(std::string& message) override;
  bool fast_timing() const override { return settings_.fast; }
  // The chip powers up with the fuses it has been given (table, factory or state file).
  void power_on();

  Chip& chip() { return chip_; }
  Link link() const { return link_; }
  uint64_t timing_violations() const { return violations_; }
  uint64_t out_of_step_count() const { return out_of_step_; }
  double sck_high_min_us() const { return high_min_us_; }
  double sck_low_min_us() const { return low_min_us_; }

 private:
  void reset_edge(bool high, double now_us);
  bool reset_pin_resets() const;
  void sck_rise(double now_us);
  void sck_fall(double now_us);
  void shift_in(int bit, double now_us);
  void byte_done(uint8_t value, double now_us);
  void set_miso(int level, double now_us);
  bool check_phase(double length_us, double& minimum);

  VarnSettings settings_;
  Trace* trace_;
  Chip chip_;
  int signal_[4] = {-1, -1, -1, -1};  // MOSI, SCK, RESET, MISO

  uint8_t lines_ = 0;  // MOSI, SCK, RESET as last seen; the port opens with all data bits low
  int miso_ = 1;       // pulled up while the chip does not drive it
  Link link_ = Link::held;
  // Serial programming was off by the fuses when the chip last started its program
  // (RSTDISBL or DWEN programmed, SPIEN not): the cable's pulses never bring it into
  // programming mode.
  bool serial_off_ = false;

  bool pulse_clean_ = false;  // SCK stayed low for the whole positive RESET pulse
  double reset_fell_us_ = 0;
  bool early_counted_ = false;
  double phase_limit_us_ = 0;  // SCK high and low must each last longer than this

  double sck_rose_us_ = 0;
  double sck_fell_us_ = 0;
  bool have_fall_ = false;
  bool bit_pending_ = false;
  int pending_bit_ = 0;
  bool bit_wrong_ = false;

  uint8_t rx_ = 0;
  int bits_ = 0;
  uint32_t history_ = 0;  // every bit received since the reset, newest in bit 0
  uint8_t bytes_[4] = {};
  int byte_index_ = 0;
  uint8_t out_byte_ = 0;
  bool driven_ = false;
  Decoded decoded_;

  uint64_t violations_ = 0;
  uint64_t out_of_step_ = 0;
  double high_min_us_ = std::numeric_limits<double>::infinity();
  double low_min_us_ = std::numeric_limits<double>::infinity();
};

}  // namespace io::sim
