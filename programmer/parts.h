// The device table.
#pragma once
#include <cstdint>
#include <string_view>

struct AvrPart {
  char name[32];
  int32_t signature_length;
  uint8_t signature[4];
  int32_t fuse_count;
  uint8_t default_fuses[4];  // extended, high, low, unused
  int32_t page_words;
  int32_t reserved;
  int32_t flash_bytes;
  int32_t eeprom_bytes;
};

constexpr int PART_TABLE_CAPACITY = 48;  // the 40 rows of the parts' facts, and room
constexpr int PART_ATMEGA32 = 1;  // the first row with two fuse bytes

// The rows the table started with. A row with two fuse bytes (no extended fuse) has
// none shown by gf nor written by a or pfa. The default-fuse check compares
// `fuse_count` bytes of fuse_bytes: from element 0 in the first rows, as users' scripts
// know them (so the ATmega32 row compares the extended and high bytes read), and in the
// rows added since, the fuses the part has (high and low on a two-fuse part).
// Their names are the part's first name; a later row names every part of its signature
// ("ATmega644P/644PA").
constexpr int FIRST_ROWS = 7;
bool two_fuse_part(const AvrPart& part);
int first_compared_fuse(int row);

extern AvrPart part_table[PART_TABLE_CAPACITY];
extern int part_count;

void init_part_table();
int find_part_by_signature();  // row index, -1 when no row matches
// Whether `part` is the device a file names `device` (avr-gcc's -mmcu name, in any
// case: atmega644 is the ATmega644). The one place a name is matched to a row.
bool part_answers_to(const AvrPart& part, std::string_view device);
