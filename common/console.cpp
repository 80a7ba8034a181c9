// Words and keys from one buffer over standard input.
#include "console.h"

#include <cctype>
#include <string>

#include "run_state.h"
#include "terminal.h"

namespace {

std::string pending;        // read from standard input, not yet consumed
size_t key_start = 0;       // keys begin here: after the line of the last word read
bool line_open = false;     // that line has not ended yet: keys begin after its '\n'
bool input_ended = false;

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

void take(long n, const char* bytes) {
  if (n > 0) pending.append(bytes, static_cast<size_t>(n));
  else if (n < 0) input_ended = true;
}

void fill_now() {
  if (input_ended) return;
  char bytes[4096];
  long n;
  while ((n = read_input_now(bytes, sizeof bytes)) > 0) take(n, bytes);
  take(n, bytes);
}

bool fill_wait() {
  if (input_ended) return false;
  char bytes[4096];
  take(read_input_wait(bytes, sizeof bytes), bytes);
  return !input_ended;
}

// Keys begin after the line end that follows the last word; until that line end has
// arrived, what follows the word still belongs to its line.
void settle_key_start() {
  if (!line_open) return;
  size_t end = pending.find('\n');
  if (end == std::string::npos) {
    key_start = pending.size();
    return;
  }
  key_start = end + 1;
  line_open = false;
}

bool key_waiting() {
  settle_key_start();
  return !line_open && key_start < pending.size();
}

// The run fails: every reader of words refuses the rest of a long one.
void refuse_long_word(size_t length, size_t limit) {
  std::fflush(stdout);
  report_failure(Stream::out, "Word of %zu characters refused - at most %zu allowed\n", length, limit);
}

}  // namespace

WordResult console_read_word(char* word) {
  std::fflush(stdout);
  size_t start = 0;
  for (;;) {
    while (start < pending.size() && is_blank(pending[start])) ++start;
    if (start < pending.size()) break;
    pending.clear();
    start = 0;
    if (!fill_wait()) return WORD_END;
  }
  size_t end = start;
  for (;;) {
    while (end < pending.size() && !is_blank(pending[end])) ++end;
    if (end < pending.size() || !fill_wait()) break;
  }
  size_t length = end - start;
  bool fits = length <= static_cast<size_t>(MAX_WORD_LENGTH);
  if (fits) {
    pending.copy(word, length, start);
    word[length] = '\0';
  }
  pending.erase(0, end);
  line_open = true;
  settle_key_start();
  if (!fits) {
    refuse_long_word(length, MAX_WORD_LENGTH);
    return WORD_TOO_LONG;
  }
  return WORD_OK;
}

WordResult read_file_word(std::FILE* file, char* word, size_t capacity, int* line) {
  int c;
  while ((c = std::fgetc(file)) != EOF && is_blank(static_cast<char>(c)))
    if (c == '\n' && line) ++*line;
  if (c == EOF) return WORD_END;
  size_t length = 0;
  while (c != EOF && !is_blank(static_cast<char>(c))) {
    if (length + 1 < capacity) word[length] = static_cast<char>(c);
    ++length;
    c = std::fgetc(file);
  }
  if (c != EOF) std::ungetc(c, file);
  if (length + 1 > capacity) {
    word[0] = '\0';
    refuse_long_word(length, capacity - 1);
    return WORD_TOO_LONG;
  }
  word[length] = '\0';
  return WORD_OK;
}

bool console_kbhit() {
  fill_now();
  return key_waiting() || input_ended;
}

int console_getch() {
  for (;;) {
    if (key_waiting()) {
      unsigned char key = static_cast<unsigned char>(pending[key_start]);
      pending.erase(key_start, 1);
      return key;
    }
    if (!fill_wait()) return CONSOLE_END;
  }
}

bool console_input_ended() {
  return input_ended && !key_waiting();
}

void console_reset() {
  pending.clear();
  key_start = 0;
  line_open = false;
  input_ended = false;
}

KeyMode::KeyMode() {
  std::fflush(stdout);
  terminal_keys_mode(true);
}

KeyMode::~KeyMode() { terminal_keys_mode(false); }
