// A fake port for the programmer's unit tests: records every pin operation the link
// makes and plays an AVR on the far end of the cable (SPI slave, sampling MOSI at
// each rising edge of SCK and presenting its answer bits on MISO).
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

struct FakeAvr {
  bool present = true;       // false: MISO rests high, nothing answers
  bool in_step = true;       // false: answers 0 to Programming Enable
  std::array<uint8_t, 3> signature{0x1E, 0x96, 0x09};
  uint8_t low = 0xE7, high = 0xD9, extended = 0xFF;
  uint8_t lock = 0xFF, calibration = 0xA5;
  int busy_polls = 0;        // poll answers with the busy bit before ready; -1: always busy
};

struct FakeCable {
  uint8_t data = 0;
  std::vector<PinOp> ops;
  std::vector<std::array<uint8_t, 4>> instructions;  // complete instructions received
  FakeAvr avr;
  // When set, decides the byte shifted out at `position` (0..3) of an instruction,
  // given the bytes received so far; otherwise the FakeAvr answers.
  std::function<uint8_t(const std::vector<uint8_t>& sent, int position)> respond;

  // Internals of the SPI slave.
  std::vector<uint8_t> partial;
  unsigned rx = 0;
  int edges = 0;  // rising edges in the current byte
  int polls_answered = 0;
  int answer_position = -1;  // position whose answer byte is being shifted out
  uint8_t answer = 0;

  uint8_t answer_at(int position);
  void on_data_change(uint8_t before);
  int16_t read_status(uint8_t bit);
  int count_instructions(uint8_t first, int second = -1) const;
};

// Installs the fake as the port library for the lifetime of the object.
class FakePort {
 public:
  FakePort();
  ~FakePort();
  FakeCable& cable;
};
