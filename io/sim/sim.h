// The simulated boards behind LPT1=sim. The register layer (sim.cpp) keeps the
// three PC port registers, applies the port's inversions between register and pin,
// and shows a board model every change of an output pin; the model drives the
// input pins. Boards see pins only, never registers.
#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace io::sim {

// Output pin levels, 1 = high.
struct Pins {
  uint8_t data = 0;     // D0..D7, connector pins 2..9
  uint8_t control = 0;  // C0..C3 pin levels, connector pins 1, 14, 16, 17
};

// Status register bits that carry input pins, and their connector pins.
constexpr uint8_t STATUS_INPUTS = 0xF8;  // bits 3..7: pins 15, 13, 12, 10, 11

// Value Change Dump trace of pin levels, one time step per microsecond. Changes
// closer together than a microsecond are spread one step apart, so every edge keeps
// its order for a decoder. The dump streams to a temporary file that replaces the
// named one when the trace closes.
class Trace {
 public:
  explicit Trace(std::string path) : path_(std::move(path)) {}
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;
  // Declare every signal before the first change; returns its number.
  int add_signal(const std::string& name, int initial_level);
  void change(int signal, int level, double now_us);
  bool close(std::string& message);

 private:
  bool start();

  std::string path_;
  std::string temporary_;
  std::FILE* out_ = nullptr;
  std::vector<std::string> names_;
  std::vector<int> levels_;
  uint64_t last_time_ = 0;
  bool started_ = false;
  bool failed_ = false;
  bool closed_ = false;
};

// The key=value settings of LPT1=sim:..., each taken by the part that knows it.
class Options {
 public:
  bool parse(const std::string& text, std::string& message);
  // Returns the value of `key` and marks the key known; `fallback` when not given.
  std::string take(const std::string& key, const std::string& fallback = "");
  bool has(const std::string& key) const { return values_.count(key) != 0; }
  // Names of the keys that no part took.
  std::vector<std::string> unknown() const;

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> taken_;
};

class Board {
 public:
  virtual ~Board() = default;
  // One call for every change of an output pin; `now_us` counts from the opening of the port.
  virtual void outputs_changed(const Pins& pins, double now_us) = 0;
  // Levels of the status input pins, bit n for status bit n (3..7), 1 = pin high.
  virtual uint8_t input_pins(double now_us) = 0;
  // A short description for the announcement line on standard error.
  virtual std::string describe() const = 0;
  // At close: the key=value lines of report=FILE, one per line.
  virtual void write_report(std::FILE* out) = 0;
  // At close, before the report: save what must persist. False with a message on failure.
  virtual bool finish(std::string& message) { (void)message; return true; }
  // True in timing=fast: the board checks no timing, so the programs' waits may be short.
  virtual bool fast_timing() const { return false; }
};

// Board factories. Each takes its own keys from `options`; `trace` is null without trace=.
// On bad settings they return null with a one-line message.
std::unique_ptr<Board> make_varn_board(Options& options, Trace* trace, std::string& message);
std::unique_ptr<Board> make_stepper_board(Options& options, Trace* trace, std::string& message);

}  // namespace io::sim

namespace io {
class Backend;
// The register layer over a given board; open_sim builds one from the LPT1 options.
// From status read number fail_reads on (0: never) the port stops answering. In real
// timing every access takes access_ns nanoseconds of bus time (access_ns=).
std::unique_ptr<Backend> make_sim_backend(std::unique_ptr<sim::Board> board, std::unique_ptr<sim::Trace> trace,
                                          std::string report, long fail_reads = 0, unsigned long access_ns = 0);
}  // namespace io

namespace io::sim {

// A decimal count of digits only, at most `max`, for the settings' numbers.
bool parse_unsigned(const std::string& text, unsigned long max, unsigned long& value);

// CRC-32 as zlib computes it.
uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// Writes `text` to `path` through a new file renamed over the old one.
bool replace_file(const std::string& path, const std::string& text, std::string& message);

// Microseconds on a monotonic clock.
double monotonic_us();

// access_ns= at most: a millisecond, far beyond any port's bus cycle.
constexpr unsigned long ACCESS_NS_MAX = 1000000;

}  // namespace io::sim
