// The frame around the commands: banner, help text and command files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "commands.h"
#include "console.h"
#include "parts.h"
#include "settings.h"

namespace {
// The title's own number, as users and their scripts know the banner; the release
// is VARN_VERSION, the project's version.
constexpr char TITLE_VERSION[] = "1.01";
}

void print_banner() {
  std::printf("Varn Programming Utility V%s\n", TITLE_VERSION);
  std::printf("In-system programmer for the Varn board - provided as is, without warranty\n");
}

void print_version() { std::printf("varnprog %s\n", VARN_VERSION); }

void print_parts() {
  std::printf("%-22s %-9s %7s %5s %7s\n", "Part", "Signature", "Flash", "Page", "EEPROM");
  for (int i = 0; i < part_count; ++i) {
    const AvrPart& p = part_table[i];
    std::printf("%-22s %02X %02X %02X %7d %5d %7d\n", p.name, p.signature[0], p.signature[1], p.signature[2],
                p.flash_bytes, p.page_words * 2, p.eeprom_bytes);
  }
}

void print_help() {
  std::printf(
      "Command options:\n\n"
      "  -d[f|e]filename - download Hex file to target flash/eeprom using 'filename'\n"
      "  -uefilename - upload target eeprom contents to 'filename'\n"
      "  -ffilename  - Execute file of programming commands 'filename'\n"
      "  -sfxx       - Set fill character - default 0xFF\n"
      "  -gf         - Get fuse bytes\n"
      "  -pf[1|2|3]  - Program fuse byte 1,2 or 3\n"
      "  -gf[1|2|3]  - Get fuse byte 1,2 or 3\n"
      "  -gc         - Get calibration byte\n"
      "  -i          - Identify target processor\n"
      "  -s          - Get target processor statistics\n"
      "  -xi         - Select target processor i [1,2,3,4,5]\n"
      "  -nv         - Don't verify target\n"
      "  -h          - Output help menu\n\n"
      "  Supported AVRs: ATmega88,ATmega168,ATmega644.\n"
      "  Commands entered on the command line require a preceeding '-'.\n"
      "  Interactive commands do not require a preceeding '-'.\n"
      "  More than one command is allowed on a line.\n\n");
}

// Words of any white-space separation, line ends included. Files do not nest: a word
// beginning with f here goes to the dispatcher, which has no such command.
int run_command_file(const char* name) {
  if (std::strlen(name) >= static_cast<size_t>(MAX_WORD_LENGTH)) {
    report_failure(Stream::out, "Command file name longer than %d characters refused\n", MAX_WORD_LENGTH - 1);
    return 0;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name, "r"), std::fclose);
  if (!file) {
    const int error = errno;
    report_file_failure(name, error, "Can't open file named: %s\n", name);
    return 0;
  }
  // A folder opens for reading but fails at the first read: not a command file.
  const int first = std::fgetc(file.get());
  if (first == EOF && std::ferror(file.get())) {
    const int error = errno;
    report_file_failure(name, error, "Can't read file named: %s\n", name);
    return 0;
  }
  if (first != EOF) std::ungetc(first, file.get());
  std::printf("\n-");
  char word[WORD_BUFFER_SIZE];
  for (;;) {
    WordResult r = read_file_word(file.get(), word, sizeof word);
    if (r == WORD_END) break;
    if (r == WORD_TOO_LONG) {
      std::printf("-");
      continue;
    }
    std::printf("%s\n", word);
    if (dispatch_command(word) == 1) std::printf("-");
  }
  return 1;
}
