// Lookup in the parts table.
#include "part_facts.h"

#include <algorithm>
#include <cctype>

namespace avr {

const Part* find_part(uint8_t signature0, uint8_t signature1, uint8_t signature2) {
  for (const Part& part : PARTS)
    if (part.signature[0] == signature0 && part.signature[1] == signature1 && part.signature[2] == signature2)
      return &part;
  return nullptr;
}

bool part_has_name(const Part& part, std::string_view name) {
  auto same = [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  };
  for (const char* own : part.names)
    if (own && std::ranges::equal(std::string_view(own), name, same)) return true;
  return false;
}

const Part* find_part(std::string_view name) {
  for (const Part& part : PARTS)
    if (part_has_name(part, name)) return &part;
  return nullptr;
}

}  // namespace avr
