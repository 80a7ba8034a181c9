// The load and read-back images and the memory operations on them.
#pragma once
#include <cstdint>

struct AvrPart;

constexpr int IMAGE_SIZE = 364000;

extern uint8_t load_image[IMAGE_SIZE];
extern uint8_t readback_image[IMAGE_SIZE];

void fill_load_image(uint8_t value);
void fill_readback_image(uint8_t value);
// Loads and writes the flash a page at a time. With `erased` (a chip erase that took
// came before), a page whose bytes are all 0xFF is neither loaded nor written: the
// erase left it so. The progress counts every byte all the same.
int write_flash(const AvrPart& part, int length, bool erased = false);
int write_eeprom(int length);
void read_flash(int length);
void read_eeprom(int length);
// Reads the first word of every page of a flash of `words` words: 1 and the word
// address and value of the first that isn't ffff (erased), or 0 when all are.
int first_word_not_erased(int words, int page_words, unsigned* word, unsigned* value);
// readback_image[0, length) without its trailing 0xFF bytes, every other byte kept.
int trimmed_length(int length);
int compare_images(int length);
// The bytes of [0, length) in which the two images differ, printing nothing.
int count_mismatches(int length);
