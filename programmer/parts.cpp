// The device table, filled at start-up from the parts of the avr library.
#include "parts.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "isp.h"
#include "part_facts.h"

AvrPart part_table[PART_TABLE_CAPACITY] = {};
int part_count = 0;

namespace {
constexpr int SIGNATURE_LENGTH = 3;
constexpr int PART_RESERVED = 4;
constexpr uint8_t UNUSED_FUSE_SLOT = 0xFF;  // default_fuses' fourth byte
constexpr int KNOWN_PART_COUNT = static_cast<int>(std::size(avr::PARTS));
// "ATmega644P" and "ATmega644PA" share a row named "ATmega644P/644PA".
void row_name(const avr::Part& part, int row, char (&name)[sizeof AvrPart::name]) {
  constexpr std::string_view FAMILY = "ATmega";
  std::string_view text = part.name();
  std::snprintf(name, sizeof name, "%.*s", static_cast<int>(text.size()), text.data());
  for (size_t n = 1; row >= FIRST_ROWS && n < part.names.size() && part.names[n]; ++n) {
    std::string_view other = part.names[n];
    if (other.starts_with(FAMILY)) other.remove_prefix(FAMILY.size());
    const size_t used = std::strlen(name);
    std::snprintf(name + used, sizeof name - used, "/%.*s", static_cast<int>(other.size()), other.data());
  }
}

}  // namespace

static_assert(KNOWN_PART_COUNT <= PART_TABLE_CAPACITY);
static_assert(std::string_view(avr::PARTS[PART_ATMEGA32].name()) == "ATmega32");

void init_part_table() {
  for (int i = 0; i < KNOWN_PART_COUNT; ++i) {
    const avr::Part& known = avr::PARTS[i];
    AvrPart& row = part_table[i];
    row = AvrPart{};
    row_name(known, i, row.name);
    row.signature_length = SIGNATURE_LENGTH;
    for (size_t b = 0; b < known.signature.size(); ++b) row.signature[b] = known.signature[b];
    row.fuse_count = known.board_fuse_count;
    for (size_t b = 0; b < known.board_fuses.size(); ++b) row.default_fuses[b] = known.board_fuses[b];
    row.default_fuses[3] = UNUSED_FUSE_SLOT;
    row.page_words = static_cast<int32_t>(known.flash_page_bytes / 2);
    row.reserved = PART_RESERVED;
    row.flash_bytes = static_cast<int32_t>(known.flash_bytes);
    row.eeprom_bytes = static_cast<int32_t>(known.eeprom_bytes);
  }
  part_count = KNOWN_PART_COUNT;
}

bool two_fuse_part(const AvrPart& part) { return part.fuse_count == 2; }

int first_compared_fuse(int row) {
  if (row < FIRST_ROWS || row >= part_count) return 0;
  return 3 - part_table[row].fuse_count;
}

int find_part_by_signature() {
  for (int i = 0; i < part_count && i < PART_TABLE_CAPACITY; ++i) {
    const AvrPart& row = part_table[i];
    if (row.signature[0] == target_signature[0] && row.signature[1] == target_signature[1] &&
        row.signature[2] == target_signature[2])
      return i;
  }
  return -1;
}

bool part_answers_to(const AvrPart& part, std::string_view device) {
  // Any of the part's own names: a file for the ATmega644PA suits the row ATmega644P/644PA.
  const avr::Part* facts = avr::find_part(part.signature[0], part.signature[1], part.signature[2]);
  return facts && avr::part_has_name(*facts, device);
}
