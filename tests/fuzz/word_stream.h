// What the two dispatcher targets share: a quiet start on the simulated board, and
// the fuzzer's input cut into words.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console.h"
#include "delay.h"
#include "port.h"

// The port on the simulated board `lpt`, standard input and output on /dev/null,
// and delays that count nothing.
inline void start_quiet_on_sim(const char* lpt) {
  setenv("LPT1", lpt, 1);
  std::FILE* in = std::freopen("/dev/null", "r", stdin);
  std::FILE* out = std::freopen("/dev/null", "w", stdout);
  (void)in;
  (void)out;
  loops_per_us = 0;
  if (bind_port_library() != 0) std::abort();
}

// Calls `use(word)` for every word of `data`, words being separated by blanks, tabs,
// line ends and NULs. Words over MAX_WORD_LENGTH are left out: the console refuses
// them before a dispatcher sees them.
template <typename Use>
void for_each_word(const uint8_t* data, size_t size, Use use) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string separators(" \t\r\n\0", 5);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of(separators, at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    at = end + 1;
    if (!word.empty() && word.size() <= MAX_WORD_LENGTH) use(word);
  }
}
