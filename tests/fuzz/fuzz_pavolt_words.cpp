// links: stepper_core
// The stepper utility's dispatcher fed any stream of words, against the simulated
// stepper board. Waits cost nothing and every loop sees its stopping key at once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "console.h"
#include "delay.h"
#include "pacing.h"
#include "port.h"
#include "settings.h"

namespace {

void no_wait(int64_t) {}
bool always_key() { return true; }
int quit_key() { return 'q'; }

bool set_up() {
  setenv("LPT1", "sim:board=stepper,timing=fast", 1);
  std::FILE* in = std::freopen("/dev/null", "r", stdin);
  std::FILE* out = std::freopen("/dev/null", "w", stdout);
  (void)in;
  (void)out;
  loops_per_us = 0;
  if (bind_port_library() != 0) std::abort();
  pacing = {no_wait, always_key, quit_key};
  init_settings();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = set_up();
  (void)ready;
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of(" \t\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    at = end + 1;
    // "e" ends the process by design; words are at most 199 characters by the time
    // they reach the dispatcher.
    if (word.empty() || word.size() > MAX_WORD_LENGTH || word[0] == 'e' || word[0] == 'E') continue;
    dispatch_command(word.c_str());
  }
  return 0;
}
