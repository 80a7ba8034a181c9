#include "programmer_fake_cable.h"

#include "delay.h"
#include "port.h"

namespace {

FakeCable the_cable;
int dummy_handle;

bool bit_of(uint8_t v, int b) { return (v >> b) & 1; }

void fake_set(short port, char bit) {
  uint8_t before = the_cable.data;
  if (static_cast<uint16_t>(port) == LPT_DATA) the_cable.data = static_cast<uint8_t>(before | (1u << bit));
  the_cable.ops.push_back({PinOp::SET, static_cast<uint16_t>(port), static_cast<uint8_t>(bit), the_cable.data});
  the_cable.on_data_change(before);
}

void fake_clr(short port, char bit) {
  uint8_t before = the_cable.data;
  if (static_cast<uint16_t>(port) == LPT_DATA) the_cable.data = static_cast<uint8_t>(before & ~(1u << bit));
  the_cable.ops.push_back({PinOp::CLR, static_cast<uint16_t>(port), static_cast<uint8_t>(bit), the_cable.data});
  the_cable.on_data_change(before);
}

short fake_get(short port, char bit) {
  the_cable.ops.push_back({PinOp::GET, static_cast<uint16_t>(port), static_cast<uint8_t>(bit), the_cable.data});
  if (static_cast<uint16_t>(port) != LPT_STATUS) return 0;
  return the_cable.read_status(static_cast<uint8_t>(bit));
}

}  // namespace

uint8_t FakeCable::answer_at(int position) {
  if (respond) return respond(partial, position);
  if (!avr.present) return 0xFF;
  const std::vector<uint8_t>& s = partial;
  auto is = [&](uint8_t a, uint8_t b) { return s.size() >= 2 && s[0] == a && s[1] == b; };
  switch (position) {
    case 2:
      if (is(0xAC, 0x53)) return avr.in_step ? 0x53 : 0x00;
      return 0;
    case 3:
      if (s[0] == 0x30) return avr.signature[s[2] % 3];
      if (is(0x50, 0x00)) return avr.low;
      if (is(0x58, 0x08)) return avr.high;
      if (is(0x50, 0x08)) return avr.extended;
      if (is(0x58, 0x00)) return avr.lock;
      if (is(0x38, 0x00)) return avr.calibration;
      if (s[0] == 0xF0) {
        bool busy = avr.busy_polls < 0 || polls_answered < avr.busy_polls;
        ++polls_answered;
        return busy ? 0xFF : 0xFE;
      }
      return 0;
    default:
      return 0;
  }
}

void FakeCable::on_data_change(uint8_t before) {
  if (bit_of(before, 2) != bit_of(data, 2)) {  // any RESET edge restarts the framing
    partial.clear();
    edges = 0;
    rx = 0;
    answer_position = -1;
    return;
  }
  if (!bit_of(before, 1) && bit_of(data, 1)) {  // rising SCK: sample MOSI
    rx = ((rx << 1) | (data & 1u)) & 0xFF;
    ++edges;
  }
  if (bit_of(before, 1) && !bit_of(data, 1) && edges == 8) {  // falling SCK after bit 8
    partial.push_back(static_cast<uint8_t>(rx));
    answer_position = -1;
    edges = 0;
    rx = 0;
    if (partial.size() == 4) {
      std::array<uint8_t, 4> ins{partial[0], partial[1], partial[2], partial[3]};
      // Writes take effect in the fake chip.
      if (ins[0] == 0xAC && ins[1] == 0xA0) avr.low = ins[3];
      if (ins[0] == 0xAC && ins[1] == 0xA8) avr.high = ins[3];
      if (ins[0] == 0xAC && ins[1] == 0xA4) avr.extended = ins[3];
      instructions.push_back(ins);
      partial.clear();
    }
  }
}

// Status bit 7 reads inverted: 0 while the MISO pin is high.
int16_t FakeCable::read_status(uint8_t bit) {
  if (bit != 7) return 0;
  if (!bit_of(data, 1) || edges == 0) return avr.present ? -1 : 0;  // outside a high phase
  int position = static_cast<int>(partial.size());
  if (answer_position != position) {  // the target decides each answer byte once
    answer = answer_at(position);
    answer_position = position;
  }
  bool pin_high = (answer >> (8 - edges)) & 1;
  return pin_high ? 0 : -1;
}

int FakeCable::count_instructions(uint8_t first, int second) const {
  int n = 0;
  for (const auto& ins : instructions)
    if (ins[0] == first && (second < 0 || ins[1] == second)) ++n;
  return n;
}

FakePort::FakePort() : cable(the_cable) {
  the_cable = FakeCable{};
  port_table.handle = &dummy_handle;
  port_table.slots[ENTRY_SET_PORT_BIT] = reinterpret_cast<void*>(&fake_set);
  port_table.slots[ENTRY_CLR_PORT_BIT] = reinterpret_cast<void*>(&fake_clr);
  port_table.slots[ENTRY_GET_PORT_BIT] = reinterpret_cast<void*>(&fake_get);
  loops_per_us = 1;
}

FakePort::~FakePort() {
  port_table.handle = nullptr;
  port_table.slots[ENTRY_SET_PORT_BIT] = nullptr;
  port_table.slots[ENTRY_CLR_PORT_BIT] = nullptr;
  port_table.slots[ENTRY_GET_PORT_BIT] = nullptr;
}
