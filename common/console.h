// Console input shared by both programs: command words and key presses come from
// one buffer over standard input, so nothing typed is lost between them.
//
// Keys are what arrives after the line that held the last word read: words typed
// ahead on that line stay words; a key left unread stays pending for the next word.
// At end of input kbhit reports a key and getch returns CONSOLE_END, so no loop
// waits forever.
#pragma once
#include <cstddef>
#include <cstdio>

constexpr int MAX_WORD_LENGTH = 199;
constexpr int WORD_BUFFER_SIZE = MAX_WORD_LENGTH + 1;
constexpr int CONSOLE_END = -1;

enum WordResult { WORD_END = 0, WORD_OK = 1, WORD_TOO_LONG = 2 };

// Next white-space-delimited word from standard input into `word` (WORD_BUFFER_SIZE
// bytes). A longer word is consumed whole, refused with one line, and WORD_TOO_LONG
// returned. Flushes standard output before it blocks.
WordResult console_read_word(char* word);

// Next word of an open text file, at most `capacity` - 1 characters; a longer word
// is consumed and refused with one line naming the limit. With `line`, the line ends
// passed are counted there, so it ends on the word's own line (the blank that ends
// the word is left for the next read).
WordResult read_file_word(std::FILE* file, char* word, size_t capacity, int* line = nullptr);

// True when a key is waiting, or when input has ended.
bool console_kbhit();
// Reads one key without echo; CONSOLE_END at end of input.
int console_getch();
// True once standard input has ended.
bool console_input_ended();
// Forgets everything buffered, as for a new standard input.
void console_reset();

// While alive, a terminal on standard input is in non-canonical, no-echo mode, so
// single key presses reach console_kbhit. Does nothing when input is not a terminal.
class KeyMode {
 public:
  KeyMode();
  ~KeyMode();
  KeyMode(const KeyMode&) = delete;
  KeyMode& operator=(const KeyMode&) = delete;
};
