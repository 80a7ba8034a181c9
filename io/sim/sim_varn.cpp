// The simulated Varn board at the pin level: the RESET sequence that opens serial
// programming, the bit framing of the four-byte instructions, MISO, and the SCK and
// RESET timing a real ATmega needs.
#include "sim_varn.h"

#include <algorithm>
#include <cstdlib>

#include "clock_fuses.h"

namespace io::sim {

VarnBoard::VarnBoard(const VarnSettings& settings, Trace* trace) : settings_(settings), trace_(trace) {
  chip_.fault = settings.fault;
  chip_.flip_every = settings.flip_every;
  chip_.fast = settings.fast;
  if (trace_) {
    signal_[0] = trace_->add_signal("MOSI", 0);
    signal_[1] = trace_->add_signal("SCK", 0);
    signal_[2] = trace_->add_signal("RESET", 0);
    signal_[3] = trace_->add_signal("MISO", 1);
  }
}

void VarnBoard::set_miso(int level, double now_us) {
  if (level == miso_) return;
  miso_ = level;
  if (trace_) trace_->change(signal_[3], level, now_us);
}

void VarnBoard::outputs_changed(const Pins& pins, double now_us) {
  uint8_t lines = pins.data & (PIN_MOSI | PIN_SCK | PIN_RESET);
  uint8_t changed = lines ^ lines_;
  if (changed == 0) return;
  lines_ = lines;
  if (trace_) {
    if (changed & PIN_MOSI) trace_->change(signal_[0], (lines & PIN_MOSI) != 0, now_us);
    if (changed & PIN_SCK) trace_->change(signal_[1], (lines & PIN_SCK) != 0, now_us);
    if (changed & PIN_RESET) trace_->change(signal_[2], (lines & PIN_RESET) != 0, now_us);
  }
  if (chip_.fault == Fault::absent) return;
  // MOSI needs no action of its own: it is sampled at the rising SCK edge.
  if (changed & PIN_RESET) reset_edge((lines & PIN_RESET) != 0, now_us);
  if (changed & PIN_SCK) {
    if (lines & PIN_SCK)
      sck_rise(now_us);
    else
      sck_fall(now_us);
  }
}

uint8_t VarnBoard::input_pins(double now_us) {
  (void)now_us;
  return static_cast<uint8_t>(STATUS_IDLE | (miso_ ? STATUS_PIN_MISO : 0));
}

void VarnBoard::power_on() {
  serial_off_ = chip_serial_programming_off(chip_);
  if (!reset_pin_resets()) link_ = Link::running;  // RESET low holds nothing
}

bool VarnBoard::reset_pin_resets() const { return !chip_reset_disabled(chip_) && !chip_debugwire(chip_); }

void VarnBoard::reset_edge(bool high, double now_us) {
  if (serial_off_) {
    // RESET is an I/O pin (or the debugWIRE line) now; with only SPIEN unprogrammed it
    // still resets the chip, which then runs its program again. No programming mode.
    link_ = high || !reset_pin_resets() ? Link::running : Link::held;
    return;
  }
  if (high) {
    // The chip runs its own program; its MISO pin is an input again, pulled up. The
    // fuses are latched as it leaves reset or programming mode: a RSTDISBL or DWEN
    // written in this session takes serial programming away from now on.
    link_ = Link::running;
    pulse_clean_ = (lines_ & PIN_SCK) == 0;
    driven_ = false;
    set_miso(1, now_us);
    serial_off_ = chip_serial_programming_off(chip_);
    return;
  }
  // Serial programming opens only after a positive RESET pulse with SCK held low.
  if (link_ != Link::running || !pulse_clean_ || (lines_ & PIN_SCK) != 0) {
    link_ = Link::held;
    return;
  }
  link_ = Link::await_enable;
  reset_fell_us_ = now_us;
  early_counted_ = false;
  have_fall_ = false;
  bit_pending_ = false;
  rx_ = 0;
  bits_ = 0;
  history_ = 0;
  byte_index_ = 0;
  driven_ = false;
  // The clock source is taken from the fuses at reset: the internal RC oscillator
  // where the low fuse selects it, else the board's crystal or clock as the reports
  // read it. SCK high and low must each last more than 2 clock periods below 12 MHz,
  // 3 from 12 MHz up.
  const uint8_t low = chip_.fuses[FUSE_LOW];
  const double rc_mhz = avr::named_clock_mhz(chip_.part->clock_source, low);
  const double mhz = settings_.clock_mhz > 0 ? settings_.clock_mhz : rc_mhz > 0 ? rc_mhz : clock_from_low_fuse(low);
  phase_limit_us_ = (mhz >= 12 ? 3.0 : 2.0) / mhz;
}

// Records one SCK phase; true when it was too short for the chip.
bool VarnBoard::check_phase(double length_us, double& minimum) {
  minimum = std::min(minimum, length_us);
  if (settings_.fast || length_us > phase_limit_us_) return false;
  violations_++;
  return settings_.strict;
}

void VarnBoard::sck_rise(double now_us) {
  if (link_ == Link::running) {
    pulse_clean_ = false;  // a clock edge during the RESET pulse spoils it
    return;
  }
  if (link_ == Link::held) return;
  bool wrong = false;
  if (have_fall_) wrong = check_phase(now_us - sck_fell_us_, low_min_us_);
  if (!settings_.fast && now_us - reset_fell_us_ < ENABLE_DELAY_US) {
    if (!early_counted_) {
      violations_++;
      early_counted_ = true;
    }
    if (settings_.strict) return;  // the chip is not listening yet: the edge is lost
  }
  pending_bit_ = (lines_ & PIN_MOSI) ? 1 : 0;
  bit_wrong_ = wrong;
  bit_pending_ = true;
  sck_rose_us_ = now_us;
  // After too short a low phase MISO has not settled when the programmer samples it.
  if (wrong && driven_) set_miso(miso_ ^ 1, now_us);
}

void VarnBoard::sck_fall(double now_us) {
  if (!bit_pending_ || link_ == Link::running || link_ == Link::held) return;
  bit_pending_ = false;
  if (check_phase(now_us - sck_rose_us_, high_min_us_)) bit_wrong_ = true;
  have_fall_ = true;
  sck_fell_us_ = now_us;
  shift_in(pending_bit_ ^ (bit_wrong_ ? 1 : 0), now_us);
}

void VarnBoard::shift_in(int bit, double now_us) {
  rx_ = static_cast<uint8_t>((rx_ << 1) | bit);
  history_ = (history_ << 1) | static_cast<uint32_t>(bit);
  if (++bits_ == 8) {
    bits_ = 0;
    byte_done(rx_, now_us);
  }
  // MISO changes on the falling edge: the next bit of the outgoing byte, MSB first.
  int level = 1;
  if (chip_.fault == Fault::silent)
    level = static_cast<int>((history_ >> 8) & 1);  // its shift register is one clock behind
  else if (driven_)
    level = (out_byte_ >> (7 - bits_)) & 1;
  set_miso(level, now_us);
}

void VarnBoard::byte_done(uint8_t value, double now_us) {
  bytes_[byte_index_++] = value;
  bool last = byte_index_ == 4;
  if (last) byte_index_ = 0;
  switch (link_) {
    case Link::await_enable:
      // A chip in step echoes from the second byte on: 0xAC, then 0x53 in the third byte.
      // A chip whose framing does not see 0xAC 0x53 leaves MISO released.
      if (byte_index_ == 1 || byte_index_ == 2) {
        if (value == (byte_index_ == 1 ? OP_PROGRAMMING : OP2_ENABLE) && chip_.fault != Fault::silent) {
          driven_ = true;
          out_byte_ = value;
        } else {
          link_ = Link::out_of_step;
          driven_ = false;
          out_of_step_++;
        }
      } else if (last) {
        link_ = Link::enabled;
        chip_.count.instructions++;
        out_byte_ = value;
      } else {
        out_byte_ = value;
      }
      break;
    case Link::enabled:
      out_byte_ = value;  // the byte just received goes back out during the next one
      if (byte_index_ == 3) {
        decoded_ = chip_decode(chip_, bytes_, now_us);
        if (decoded_.has_answer && !decoded_.ignored) out_byte_ = decoded_.answer;
      } else if (last) {
        chip_execute(chip_, bytes_, decoded_, now_us);
      }
      break;
    default:
      break;
  }
}

std::string VarnBoard::describe() const {
  std::string text = "varn board with ";
  text += chip_.part->name();
  text += settings_.fast ? ", fast timing" : ", real timing";
  if (settings_.strict) text += ", strict";
  if (settings_.fault != Fault::none) text += ", fault";
  if (!settings_.state_path.empty()) text += ", state in " + settings_.state_path;
  if (serial_off_) text += ", serial programming off by its fuses";
  return text;
}

namespace {
void print_minimum(std::FILE* out, const char* key, double value) {
  if (value == std::numeric_limits<double>::infinity())
    std::fprintf(out, "%s=none\n", key);
  else
    std::fprintf(out, "%s=%.3f\n", key, value);
}
}  // namespace

void VarnBoard::write_report(std::FILE* out) {
  const Counters& c = chip_.count;
  std::fprintf(out, "part=%s\n", settings_.fault == Fault::absent ? "none" : chip_.part->name());
  // The RESET pin as the port left it: 1 when the target runs its own program.
  std::fprintf(out, "reset=%d\n", (lines_ & PIN_RESET) != 0 ? 1 : 0);
  std::fprintf(out, "instructions=%llu\n", static_cast<unsigned long long>(c.instructions));
  std::fprintf(out, "chip_erases=%llu\n", static_cast<unsigned long long>(c.chip_erases));
  std::fprintf(out, "page_writes=%llu\n", static_cast<unsigned long long>(c.page_writes));
  std::fprintf(out, "eeprom_writes=%llu\n", static_cast<unsigned long long>(c.eeprom_writes));
  std::fprintf(out, "fuse_writes=%llu\n", static_cast<unsigned long long>(c.fuse_writes));
  std::fprintf(out, "lock_writes=%llu\n", static_cast<unsigned long long>(c.lock_writes));
  std::fprintf(out, "ignored_while_busy=%llu\n", static_cast<unsigned long long>(c.ignored_while_busy));
  std::fprintf(out, "unknown_instructions=%llu\n", static_cast<unsigned long long>(c.unknown_instructions));
  std::fprintf(out, "out_of_step=%llu\n", static_cast<unsigned long long>(out_of_step_));
  std::fprintf(out, "flipped_bytes=%llu\n", static_cast<unsigned long long>(c.flipped_bytes));
  std::fprintf(out, "timing_violations=%llu\n", static_cast<unsigned long long>(violations_));
  print_minimum(out, "sck_high_min_us", high_min_us_);
  print_minimum(out, "sck_low_min_us", low_min_us_);
  std::fprintf(out, "fuse_low=%02x\nfuse_high=%02x\nfuse_extended=%02x\nlock=%02x\n", chip_.fuses[FUSE_LOW],
               chip_.fuses[FUSE_HIGH], chip_.fuses[FUSE_EXTENDED], chip_.lock);
  // What the fuses hold now, so a write of this run shows before the chip's next reset.
  bool present = settings_.fault != Fault::absent;
  std::fprintf(out, "reset_disabled=%d\ndebugwire=%d\n", present && chip_reset_disabled(chip_) ? 1 : 0,
               present && chip_debugwire(chip_) ? 1 : 0);
  std::fprintf(out, "flash_crc32=%08x\n", crc32(chip_.flash.data(), chip_.flash.size()));
  std::fprintf(out, "eeprom_crc32=%08x\n", crc32(chip_.eeprom.data(), chip_.eeprom.size()));
}

bool VarnBoard::finish(std::string& message) {
  if (settings_.state_path.empty()) return true;
  return replace_file(settings_.state_path, chip_state_text(chip_), message);
}

std::unique_ptr<Board> make_varn_board(Options& options, Trace* trace, std::string& message) {
  VarnSettings settings;
  if (!take_varn_settings(options, settings, message)) return nullptr;
  auto board = std::make_unique<VarnBoard>(settings, trace);
  Chip& chip = board->chip();
  bool found = false;
  if (!settings.state_path.empty() &&
      !load_chip_state(settings.state_path, settings.part, settings.factory_fuses, chip, found, message))
    return nullptr;
  if (!found) chip_init(chip, settings.part ? *settings.part : *find_sim_part("ATmega644"), settings.factory_fuses);
  if (settings.fault == Fault::locked) chip.lock = 0xFC;  // LB1 and LB2 programmed
  board->power_on();
  return board;
}

}  // namespace io::sim
