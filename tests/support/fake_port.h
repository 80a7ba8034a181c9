// A fake port behind the utility's three port calls, and scripted pacing: every
// bit operation is logged and applied to three registers, waits are added up
// instead of spent, and keys come from a script.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "console.h"
#include "pacing.h"
#include "port.h"

struct PortCall {
  uint16_t port;
  int bit;    // -1: a whole-register write
  int value;  // 1 set, 0 clear; the byte of a whole-register write
  int64_t at; // delay units waited before the call
};

namespace fake {
inline uint8_t data = 0, control = 0, status = 0;
inline std::vector<PortCall> calls;
inline int64_t waited = 0;
inline std::deque<int> keys;   // keys still to come; empty: none waiting
inline int polls_before_key = 0;  // key polls answered "no" before the script is seen
inline bool input_ended = false;  // after the script, input ends: a key is always "waiting"

inline uint8_t& reg(short port) { return port == static_cast<short>(LPT_DATA) ? data : control; }
inline void set_bit(short port, char bit) {
  reg(port) = static_cast<uint8_t>(reg(port) | (1u << bit));
  calls.push_back({static_cast<uint16_t>(port), bit, 1, waited});
}
inline void clr_bit(short port, char bit) {
  reg(port) = static_cast<uint8_t>(reg(port) & ~(1u << bit));
  calls.push_back({static_cast<uint16_t>(port), bit, 0, waited});
}
inline void out(short port, char value) {
  reg(port) = static_cast<uint8_t>(value);
  calls.push_back({static_cast<uint16_t>(port), -1, static_cast<uint8_t>(value), waited});
}
inline short get_bit(short port, char bit) {
  uint8_t value = port == static_cast<short>(LPT_STATUS) ? status : reg(port);
  return (value >> bit) & 1 ? -1 : 0;
}
inline void wait(int64_t units) { waited += units; }
inline bool key_waiting() {
  if (polls_before_key > 0) {
    --polls_before_key;
    return false;
  }
  return !keys.empty() || input_ended;
}
inline int read_key() {
  if (keys.empty()) return CONSOLE_END;
  int key = keys.front();
  keys.pop_front();
  return key;
}
// Calls on one port, as (bit, value) pairs.
inline std::vector<std::pair<int, int>> on(uint16_t port) {
  std::vector<std::pair<int, int>> out;
  for (const PortCall& c : calls)
    if (c.port == port) out.push_back({c.bit, c.value});
  return out;
}
}  // namespace fake

class FakePort : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::data = fake::control = 0;
    fake::status = 0x78;  // every switch open: pins high, bit 7 inverted by the port
    fake::calls.clear();
    fake::waited = 0;
    fake::keys.clear();
    fake::polls_before_key = 0;
    fake::input_ended = false;
    for (void*& s : port_table.slots) s = nullptr;
    port_table.slots[ENTRY_SET_PORT_BIT] = reinterpret_cast<void*>(&fake::set_bit);
    port_table.slots[ENTRY_CLR_PORT_BIT] = reinterpret_cast<void*>(&fake::clr_bit);
    port_table.slots[ENTRY_GET_PORT_BIT] = reinterpret_cast<void*>(&fake::get_bit);
    port_table.slots[ENTRY_PORT_OUT] = reinterpret_cast<void*>(&fake::out);
    pacing = {fake::wait, fake::key_waiting, fake::read_key};
  }
  void TearDown() override {
    for (void*& s : port_table.slots) s = nullptr;
    use_console_pacing();
  }
  static void keys(const std::string& text, int polls_first = 0, bool then_end = false) {
    for (char c : text) fake::keys.push_back(static_cast<unsigned char>(c));
    fake::polls_before_key = polls_first;
    fake::input_ended = then_end;
  }
};

// What a block of code printed on standard output.
template <typename Fn>
std::string printed(Fn&& fn) {
  std::fflush(stdout);
  ::testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}
