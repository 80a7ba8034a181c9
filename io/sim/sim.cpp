// The register layer of the simulated boards: the three registers of a PC parallel
// port, the inversions between register and pin, and a board model that sees every
// change of an output pin and drives the input pins.
#include "sim.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "backend.h"
#include "platform.h"

namespace io {
namespace {

class SimBackend : public Backend {
 public:
  SimBackend(std::unique_ptr<sim::Board> board, std::unique_ptr<sim::Trace> trace, std::string report,
             long fail_reads, double access_us)
      : Backend(0x00, 0x00), board_(std::move(board)), trace_(std::move(trace)), report_(std::move(report)),
        start_(monotonic_microseconds()), fail_reads_(fail_reads),
        access_us_(board_->fast_timing() ? 0 : access_us) {}

  ~SimBackend() override { close(); }

  bool ok() const override { return error_.empty(); }
  std::string error() const override { return error_; }
  bool waits_may_be_short() const override { return board_->fast_timing(); }

 private:
  uint8_t read_status() override {
    take_bus_time();
    // A cable whose input side came loose: the read fails, the outputs still work.
    if (fail_reads_ > 0 && ++status_reads_ >= fail_reads_) {
      if (error_.empty())
        error_ = "Parallel port sim stopped answering (status read " + std::to_string(status_reads_) +
                 ", fail_reads=" + std::to_string(fail_reads_) + ") - check the cable and the port";
      return 0;
    }
    // Status bit 7 reads inverted against its pin; bits 0..2 carry no input.
    // Input levels follow the last output change; the clock is read on writes
    // only, as it costs more than the rest of a port call.
    uint8_t pins = board_->input_pins(last_change_);
    return static_cast<uint8_t>((pins & sim::STATUS_INPUTS) ^ STATUS_INVERTED);
  }

  bool write_register(Register reg, uint8_t value) override {
    take_bus_time();
    sim::Pins before = pins(held(REG_DATA), held(REG_CONTROL));
    sim::Pins after = reg == REG_DATA ? pins(value, held(REG_CONTROL)) : pins(held(REG_DATA), value);
    if (after.data != before.data || after.control != before.control) {
      last_change_ = now();
      board_->outputs_changed(after, last_change_);
    }
    return true;
  }

  // Control bits 0, 1 and 3 are inverted between register and pin; bit 2 is not.
  static sim::Pins pins(uint8_t data, uint8_t control) {
    return {data, static_cast<uint8_t>((control & 0x0F) ^ CONTROL_INVERTED)};
  }

  double now() const { return monotonic_microseconds() - start_; }

  // An ISA or LPC port holds the processor for its whole bus cycle (about 1 us), and a
  // write reaches the pins as the cycle ends: each access spends access_ns here first.
  void take_bus_time() const {
    if (access_us_ <= 0) return;
    const double until = monotonic_microseconds() + access_us_;
    while (monotonic_microseconds() < until) {
    }
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    std::string message;
    if (!board_->finish(message)) std::fprintf(stderr, "libio: %s\n", message.c_str());
    if (!report_.empty()) write_report();
    if (trace_ && !trace_->close(message)) std::fprintf(stderr, "libio: %s\n", message.c_str());
  }

  void write_report() {
    std::string temporary = temporary_name(report_);
    std::FILE* out = std::fopen(temporary.c_str(), "w");
    if (!out) {
      std::fprintf(stderr, "libio: can't write report %s: %s\n", report_.c_str(), std::strerror(errno));
      return;
    }
    board_->write_report(out);
    bool written = std::fflush(out) == 0 && !std::ferror(out);
    written = std::fclose(out) == 0 && written;
    std::string message;
    if (!written) {
      std::remove(temporary.c_str());
      std::fprintf(stderr, "libio: can't write report %s\n", report_.c_str());
    } else if (!rename_over(temporary, report_, message)) {
      std::fprintf(stderr, "libio: %s\n", message.c_str());
    }
  }

  std::unique_ptr<sim::Board> board_;
  std::unique_ptr<sim::Trace> trace_;
  std::string report_;
  double start_;
  double last_change_ = 0;
  bool closed_ = false;
  long fail_reads_;  // 0: never
  double access_us_;  // bus time of one access (access_ns=); 0 in fast timing
  long status_reads_ = 0;
  std::string error_;
};

}  // namespace

std::unique_ptr<Backend> make_sim_backend(std::unique_ptr<sim::Board> board, std::unique_ptr<sim::Trace> trace,
                                          std::string report, long fail_reads, unsigned long access_ns) {
  return std::make_unique<SimBackend>(std::move(board), std::move(trace), std::move(report), fail_reads,
                                      static_cast<double>(access_ns) / 1e3);
}

std::unique_ptr<Backend> open_sim(const std::string& text, std::string& message) {
  sim::Options options;
  if (!options.parse(text, message)) return nullptr;
  std::string fitting = program_name().find("pavolt") != std::string::npos ? "stepper" : "varn";
  std::string board_name = options.take("board", fitting);
  std::string report = options.take("report");
  std::string trace_path = options.take("trace");
  std::string fail_text = options.take("fail_reads", "off");
  unsigned long fail_reads = 0;
  if (fail_text != "off" && (!sim::parse_unsigned(fail_text, LONG_MAX, fail_reads) || fail_reads == 0)) {
    message = "LPT1=sim: fail_reads=" + fail_text + " is not a count of status reads (1 or more)";
    return nullptr;
  }
  std::string access_text = options.take("access_ns", "0");
  unsigned long access_ns = 0;
  if (!sim::parse_unsigned(access_text, sim::ACCESS_NS_MAX, access_ns)) {
    message = "LPT1=sim: access_ns=" + access_text + " is not a time in nanoseconds (0 to " +
              std::to_string(sim::ACCESS_NS_MAX) + ")";
    return nullptr;
  }
  auto trace = trace_path.empty() ? nullptr : std::make_unique<sim::Trace>(trace_path);

  std::unique_ptr<sim::Board> board;
  if (board_name == "varn") board = sim::make_varn_board(options, trace.get(), message);
  else if (board_name == "stepper") board = sim::make_stepper_board(options, trace.get(), message);
  else message = "LPT1=sim: unknown board '" + board_name + "' (use board=varn or board=stepper)";
  if (!board) {
    if (message.empty()) message = "LPT1=sim: the " + board_name + " board could not be set up";
    return nullptr;
  }
  std::vector<std::string> unknown = options.unknown();
  if (!unknown.empty()) {
    message = "LPT1=sim: unknown setting '" + unknown.front() + "' for the " + board_name + " board";
    return nullptr;
  }
  std::fprintf(stderr, "libio: simulated %s\n", board->describe().c_str());
  return make_sim_backend(std::move(board), std::move(trace), report, static_cast<long>(fail_reads), access_ns);
}

namespace sim {

bool Options::parse(const std::string& text, std::string& message) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0) {
      message = "LPT1=sim: '" + item + "' is not key=value";
      return false;
    }
    values_[item.substr(0, equals)] = item.substr(equals + 1);
  }
  return true;
}

std::string Options::take(const std::string& key, const std::string& fallback) {
  taken_.insert(key);
  auto found = values_.find(key);
  return found == values_.end() ? fallback : found->second;
}

std::vector<std::string> Options::unknown() const {
  std::vector<std::string> names;
  for (const auto& [key, value] : values_)
    if (!taken_.count(key)) names.push_back(key);
  return names;
}

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc ^= 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool replace_file(const std::string& path, const std::string& text, std::string& message) {
  std::string temporary = temporary_name(path);
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (!out) {
    message = "can't write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  written = std::fclose(out) == 0 && written;
  if (!written) {
    std::remove(temporary.c_str());
    message = "can't write " + path;
    return false;
  }
  return rename_over(temporary, path, message);
}

bool parse_unsigned(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return errno == 0 && value <= max;
}

double monotonic_us() { return monotonic_microseconds(); }

}  // namespace sim
}  // namespace io
