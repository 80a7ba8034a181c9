#include "fake_cable.h"

#include "delay.h"
#include "port.h"

namespace {

FakeCable the_cable;
int dummy_handle;

bool bit_of(unsigned v, int b) { return (v >> b) & 1; }

void on_data_change(FakeCable& c, uint8_t before) {
  if (bit_of(before, 2) != bit_of(c.data, 2)) {  // a RESET edge restarts the framing
    c.partial.clear();
    c.edges = 0;
    c.rx = 0;
    c.answer_position = -1;
    return;
  }
  if (!bit_of(before, 1) && bit_of(c.data, 1)) {  // rising SCK: sample MOSI
    c.rx = ((c.rx << 1) | (c.data & 1u)) & 0xFF;
    ++c.edges;
  }
  if (bit_of(before, 1) && !bit_of(c.data, 1) && c.edges == 8) {  // SCK falls after bit 8
    c.partial.push_back(static_cast<uint8_t>(c.rx));
    c.edges = 0;
    c.rx = 0;
    c.answer_position = -1;
    if (c.partial.size() == 4) {
      c.instructions.push_back({c.partial[0], c.partial[1], c.partial[2], c.partial[3]});
      c.partial.clear();
    }
  }
}

void change(short port, char bit, bool set) {
  uint8_t before = the_cable.data;
  if (static_cast<uint16_t>(port) == LPT_DATA) {
    unsigned mask = 1u << bit;
    the_cable.data = static_cast<uint8_t>(set ? before | mask : before & ~mask);
  }
  the_cable.ops.push_back({set ? PinOp::SET : PinOp::CLR, static_cast<uint16_t>(port),
                           static_cast<uint8_t>(bit), the_cable.data});
  on_data_change(the_cable, before);
}

void fake_set(short port, char bit) { change(port, bit, true); }
void fake_clr(short port, char bit) { change(port, bit, false); }

// Status bit 7 reads inverted: 0 while the MISO pin is high. Outside a high phase
// of SCK the pin reads low, so a sample taken at the wrong moment shows up as a 0.
short fake_get(short port, char bit) {
  FakeCable& c = the_cable;
  c.ops.push_back({PinOp::GET, static_cast<uint16_t>(port), static_cast<uint8_t>(bit), c.data});
  if (static_cast<uint16_t>(port) != LPT_STATUS || bit != 7) return 0;
  if (!bit_of(c.data, 1) || c.edges == 0) return -1;
  int position = static_cast<int>(c.partial.size());
  if (c.answer_position != position) {
    c.answer = c.respond(c.partial, position);
    c.answer_position = position;
  }
  return bit_of(c.answer, 8 - c.edges) ? 0 : -1;
}

}  // namespace

int FakeCable::count_instructions(uint8_t first) const {
  int n = 0;
  for (const auto& ins : instructions) n += ins[0] == first;
  return n;
}

FakePort::FakePort() : cable(the_cable) {
  the_cable = FakeCable{};
  port_table.handle = &dummy_handle;
  port_table.slots[ENTRY_SET_PORT_BIT] = reinterpret_cast<void*>(&fake_set);
  port_table.slots[ENTRY_CLR_PORT_BIT] = reinterpret_cast<void*>(&fake_clr);
  port_table.slots[ENTRY_GET_PORT_BIT] = reinterpret_cast<void*>(&fake_get);
  port_table.short_waits = 1;  // like the simulated board in timing=fast: no real waits
  loops_per_us = 1;             // keeps every wait to a few iterations
}

FakePort::~FakePort() {
  port_table.handle = nullptr;
  port_table.slots[ENTRY_SET_PORT_BIT] = nullptr;
  port_table.slots[ENTRY_CLR_PORT_BIT] = nullptr;
  port_table.slots[ENTRY_GET_PORT_BIT] = nullptr;
  port_table.short_waits = -1;
}
