// The device table, filled at start-up from the parts of the avr library.
#include "parts.h"

#include <algorithm>
#include <cctype>
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
}  // namespace

static_assert(KNOWN_PART_COUNT <= PART_TABLE_CAPACITY);
static_assert(std::string_view(avr::PARTS[PART_ATMEGA32].name()) == "ATmega32");

void init_part_table() {
  for (int i = 0; i < KNOWN_PART_COUNT; ++i) {
    const avr::Part& known = avr::PARTS[i];
    AvrPart& row = part_table[i];
    row = AvrPart{};
    std::strncpy(row.name, known.name(), sizeof row.name - 1);
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
  const std::string_view name(part.name);
  return name.size() == device.size() &&
         std::equal(name.begin(), name.end(), device.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         });
}
