// A small ISP bit-banger for the simulated varn board's tests. It drives the board's
// pins directly with explicit times, so timing rules and busy periods need no waiting.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "sim.h"
#include "sim_varn.h"

struct Banger {
  std::unique_ptr<io::sim::VarnBoard> board;
  std::string message;
  io::sim::Pins pins{};
  double now = 0;
  double phase_us = 5;  // SCK high and low time

  explicit Banger(const std::string& settings, io::sim::Trace* trace = nullptr) {
    io::sim::Options options;
    if (!options.parse(settings, message)) return;
    std::unique_ptr<io::sim::Board> made = io::sim::make_varn_board(options, trace, message);
    board.reset(static_cast<io::sim::VarnBoard*>(made.release()));
  }
  io::sim::Chip& chip() { return board->chip(); }

  void set(uint8_t pin, bool high) {
    pins.data = static_cast<uint8_t>(high ? pins.data | pin : pins.data & ~pin);
    board->outputs_changed(pins, now);
  }
  void wait(double us) { now += us; }
  int miso() { return (board->input_pins(now) & io::sim::STATUS_PIN_MISO) ? 1 : 0; }

  void clock_bit(int bit) {
    set(io::sim::PIN_MOSI, bit != 0);
    wait(phase_us);
    set(io::sim::PIN_SCK, true);
    wait(phase_us);
    set(io::sim::PIN_SCK, false);
  }
  uint8_t transfer(uint8_t value) {
    uint8_t result = 0;
    for (int i = 7; i >= 0; i--) {
      set(io::sim::PIN_MOSI, (value >> i) & 1);
      wait(phase_us);
      set(io::sim::PIN_SCK, true);
      wait(phase_us / 2);
      result = static_cast<uint8_t>((result << 1) | miso());
      wait(phase_us / 2);
      set(io::sim::PIN_SCK, false);
    }
    wait(phase_us);
    return result;
  }
  std::array<uint8_t, 4> instruction(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return {transfer(a), transfer(b), transfer(c), transfer(d)};
  }
  uint8_t answer(uint8_t a, uint8_t b, uint8_t c) { return instruction(a, b, c, 0)[3]; }

  // Positive RESET pulse with SCK low, then RESET low for `settle_us`.
  void reset_pulse(double settle_us = 21000) {
    set(io::sim::PIN_SCK, false);
    set(io::sim::PIN_MOSI, true);
    wait(100);
    set(io::sim::PIN_RESET, true);
    wait(1000);
    set(io::sim::PIN_RESET, false);
    wait(settle_us);
  }
  uint8_t enable(double settle_us = 21000) {
    reset_pulse(settle_us);
    return instruction(0xAC, 0x53, 0x00, 0x00)[2];
  }
  void release() {
    set(io::sim::PIN_RESET, true);
    wait(1000);
  }
  // Polls until ready; the number of busy answers, or -1 after `limit` polls.
  int wait_ready(int limit = 100, double gap_us = 100) {
    for (int n = 0; n < limit; n++) {
      if ((answer(0xF0, 0x00, 0x00) & 1) == 0) return n;
      wait(gap_us);
    }
    return -1;
  }

  void load_word(uint8_t offset, uint16_t word) {
    instruction(0x40, 0x00, offset, static_cast<uint8_t>(word & 0xFF));
    instruction(0x48, 0x00, offset, static_cast<uint8_t>(word >> 8));
  }
  void write_page(uint16_t word_address) {
    instruction(0x4C, static_cast<uint8_t>(word_address >> 8), static_cast<uint8_t>(word_address), 0x00);
    wait_ready();
  }
  uint16_t read_word(uint16_t word_address) {
    uint8_t hi = static_cast<uint8_t>(word_address >> 8), lo = static_cast<uint8_t>(word_address);
    uint8_t low = answer(0x20, hi, lo);
    return static_cast<uint16_t>(low | (answer(0x28, hi, lo) << 8));
  }
  void write_eeprom(uint16_t address, uint8_t value) {
    instruction(0xC0, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value);
    wait_ready();
  }
  uint8_t read_eeprom(uint16_t address) {
    return answer(0xA0, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address));
  }
  void chip_erase() {
    instruction(0xAC, 0x80, 0x00, 0x00);
    wait_ready();
  }
  std::array<uint8_t, 3> signature() { return {answer(0x30, 0, 0), answer(0x30, 0, 1), answer(0x30, 0, 2)}; }
  // Extended, high, low.
  std::array<uint8_t, 3> fuses() { return {answer(0x50, 0x08, 0), answer(0x58, 0x08, 0), answer(0x50, 0x00, 0)}; }
};
