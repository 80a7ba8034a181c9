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
#include "word_stream.h"

namespace {

void no_wait(int64_t) {}
bool always_key() { return true; }
int quit_key() { return 'q'; }

bool set_up() {
  start_quiet_on_sim("sim:board=stepper,timing=fast");
  pacing = {no_wait, always_key, quit_key};
  init_settings();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = set_up();
  (void)ready;
  for_each_word(data, size, [](const std::string& word) {
    // "e" ends the process by design.
    if (word[0] == 'e' || word[0] == 'E') return;
    dispatch_command(word.c_str());
  });
  return 0;
}
