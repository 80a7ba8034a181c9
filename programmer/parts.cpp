// The device table, filled at start-up from the known parts of hardware.h.
#include "parts.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "hardware.h"
#include "isp.h"

AvrPart part_table[PART_TABLE_CAPACITY] = {};
int part_count = 0;

static_assert(KNOWN_PART_COUNT <= PART_TABLE_CAPACITY);
static_assert(std::string_view(KNOWN_PARTS[PART_ATMEGA32].name) == "ATmega32");

void init_part_table() {
  for (int i = 0; i < KNOWN_PART_COUNT; ++i) {
    const KnownPart& known = KNOWN_PARTS[static_cast<size_t>(i)];
    AvrPart& row = part_table[i];
    row = AvrPart{};
    std::strncpy(row.name, known.name, sizeof row.name - 1);
    row.signature_length = SIGNATURE_LENGTH;
    for (size_t b = 0; b < known.signature.size(); ++b) row.signature[b] = known.signature[b];
    row.fuse_count = known.fuse_count;
    for (size_t b = 0; b < known.default_fuses.size(); ++b) row.default_fuses[b] = known.default_fuses[b];
    row.page_words = known.page_words;
    row.reserved = PART_RESERVED;
    row.flash_bytes = known.flash_bytes;
    row.eeprom_bytes = known.eeprom_bytes;
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
