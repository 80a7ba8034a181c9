// A fake port for the programmer's unit tests: records every pin operation of the
// link and plays the far end of the cable as an SPI slave, sampling MOSI at each
// rising edge of SCK and presenting the bits of its answer on MISO, MSB first.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

struct PinOp {
  enum Kind { SET, CLR, GET } kind;
  uint16_t port;
  uint8_t bit;
  uint8_t data_after;  // data register after the operation
};

// The byte the target shifts out at `position` (0..3) of an instruction, given the
// bytes received before it. Asked once per byte.
using Responder = std::function<uint8_t(const std::vector<uint8_t>& sent, int position)>;

struct FakeCable {
  uint8_t data = 0;
  std::vector<PinOp> ops;
  std::vector<std::array<uint8_t, 4>> instructions;  // complete instructions received
  Responder respond = [](const std::vector<uint8_t>&, int) -> uint8_t { return 0; };

  std::vector<uint8_t> partial;  // bytes of the instruction being received
  unsigned rx = 0;
  int edges = 0;             // rising edges in the current byte
  int answer_position = -1;  // position whose answer is being shifted out
  uint8_t answer = 0;

  int count_instructions(uint8_t first) const;
};

// Installs the fake as the port library for the lifetime of the object.
class FakePort {
 public:
  FakePort();
  ~FakePort();
  FakeCable& cable;
};
