// links: programmer_core
// The fuse-list and hexadecimal-byte arguments: any text is accepted or refused,
// and what is accepted reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  uint8_t x = 1, y = 2, z = 3;
  if (parse_fuse_list(text.c_str(), &x, &y, &z)) {
    char again[16];
    std::snprintf(again, sizeof again, "%x,%x,%x", x, y, z);
    uint8_t a, b, c;
    if (!parse_fuse_list(again, &a, &b, &c) || a != x || b != y || c != z) __builtin_trap();
  } else if (x != 1 || y != 2 || z != 3) {
    __builtin_trap();  // a refused list stores nothing
  }
  uint8_t v = 7;
  if (!parse_hex_byte(text.c_str(), &v) && v != 7) __builtin_trap();
  return 0;
}
