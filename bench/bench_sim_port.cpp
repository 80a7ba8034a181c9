// links: io_objects
// Cost of one port call into the simulated varn board, with and without a trace,
// against the waits a download prescribes around each call. Each register access
// below is what one SetPortBit, ClrPortBit or GetPortBit of a program turns into.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "backend.h"
#include "platform.h"
#include "sim_varn.h"

namespace {

constexpr uint8_t MOSI = 0x01, SCK = 0x02, RESET = 0x04;

// Shifts `bytes` bytes the way the programmer's transfer does: set MOSI, SCK high,
// read MISO, SCK low. `out(value)` drives the data lines, `in()` reads the inputs.
// Returns nanoseconds per call.
template <typename Out, typename In>
double shift_pattern(long bytes, Out out, In in) {
  uint8_t data = 0;
  auto drive = [&](uint8_t value) {
    data = value;
    out(data);
  };
  // Into programming mode first, so the chip model does its full work on every edge.
  drive(MOSI);
  drive(MOSI | RESET);
  drive(MOSI);
  unsigned sink = 0;
  long calls = 0;
  auto start = std::chrono::steady_clock::now();
  for (long n = 0; n < bytes; n++) {
    uint8_t value = static_cast<uint8_t>(n * 37);
    for (int bit = 7; bit >= 0; bit--) {
      drive(static_cast<uint8_t>(((value >> bit) & 1) ? (data | MOSI) : (data & ~MOSI)));
      drive(data | SCK);
      sink += in();
      drive(static_cast<uint8_t>(data & ~SCK));
      calls += 4;
    }
  }
  auto stop = std::chrono::steady_clock::now();
  if (sink == 1) std::printf(" ");
  return std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(calls);
}

// Through the register layer, as each SetPortBit, ClrPortBit or GetPortBit goes.
double measure(const std::string& settings, long bytes) {
  std::string message;
  std::unique_ptr<io::Backend> port = io::open_sim(settings, message);
  if (!port) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(1);
  }
  return shift_pattern(
      bytes, [&](uint8_t value) { port->write(io::REG_DATA, value); },
      [&] { return port->read(io::REG_STATUS); });
}

// The board model alone, pins and times handed over directly: ns per pin event.
double board_only(long bytes) {
  io::sim::Options options;
  std::string message;
  options.parse("board=varn", message);
  std::unique_ptr<io::sim::Board> board = io::sim::make_varn_board(options, nullptr, message);
  io::sim::Pins pins{};
  double now = 0;
  return shift_pattern(
      bytes,
      [&](uint8_t value) {
        pins.data = value;
        now += 2;
        board->outputs_changed(pins, now);
      },
      [&] { return board->input_pins(now); });
}

double clock_only(long calls) {
  double sum = 0;
  auto start = std::chrono::steady_clock::now();
  for (long n = 0; n < calls; n++) sum += io::monotonic_microseconds();
  auto stop = std::chrono::steady_clock::now();
  if (sum == 1) std::printf(" ");
  return std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(calls);
}

}  // namespace

int main() {
  std::string trace = "/tmp/bench_sim_port_" + std::to_string(getpid()) + ".vcd";
  const long bytes = 250000;  // a million port calls
  measure("board=varn", bytes / 10);  // warm up
  double plain = measure("board=varn", bytes);
  double traced = measure("board=varn,trace=" + trace, bytes);
  std::remove(trace.c_str());
  // A transferred byte is 32 port calls around 69 us of prescribed waits (5 + 8 x 8).
  auto share = [](double ns) { return 100 * 32 * ns / 69000; };
  std::printf("port call into the sim, no trace: %.1f ns (adds %.2f %% to a byte's waits)\n", plain, share(plain));
  std::printf("port call into the sim, traced:   %.1f ns (adds %.2f %% to a byte's waits)\n", traced, share(traced));
  std::printf("traced / untraced: %.2f\n", traced / plain);
  std::printf("of which the board model: %.1f ns, the monotonic clock read: %.1f ns\n", board_only(bytes),
              clock_only(1000000));
  return 0;
}
