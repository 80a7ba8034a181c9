// links: programmer_core
// The programmer's dispatcher fed any stream of words, against the simulated Varn
// board in fast mode with the delay calibrated to nothing. Words that end the run or
// write files of their own naming are left out, but for EEPROM uploads, which all go
// to one file; a small HEX file lies ready for the downloads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "commands.h"
#include "console.h"
#include "delay.h"
#include "link.h"
#include "parts.h"
#include "port.h"
#include "settings.h"
#include "word_stream.h"

namespace {

bool set_up() {
  // The smallest part: a verification reads the whole flash, 4 KiB here, not 64.
  start_quiet_on_sim("sim:board=varn,timing=fast,part=ATmega48");
  settings.hex_extended_record_type = 4;
  init_part_table();
  reset_settings();
  // As the program starts: the target runs, so the first command identifies it.
  raise_reset_line();
  target_released = 1;
  if (std::FILE* hex = std::fopen("a.hex", "w")) {
    std::fputs(":100000000C9434000C9446000C9446000C9446006A\n:020000040000FA\n:0400100001020304E2\n"
               ":00000001FF\n", hex);
    std::fclose(hex);
  }
  return true;
}

bool skipped(const std::string& word) {
  char first = static_cast<char>(std::tolower(static_cast<unsigned char>(word[0])));
  return first == 'e' || strncasecmp(word.c_str(), "lf", 2) == 0 || strncasecmp(word.c_str(), "uf", 2) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = set_up();
  (void)ready;
  bool first = true;
  for_each_word(data, size, [&first](std::string word) {
    if (skipped(word)) return;
    // da programs and reads back the whole flash four times, about a second here
    // under the fuzzer's instrumentation: only as an input's first word, so the
    // rest of the dispatcher gets its share of the run.
    bool all_passes = strncasecmp(word.c_str(), "da", 2) == 0;
    if (all_passes && !first) return;
    first = false;
    if (strncasecmp(word.c_str(), "ue", 2) == 0) word = "ueout.hex";
    dispatch_command(word.c_str());
  });
  return 0;
}
