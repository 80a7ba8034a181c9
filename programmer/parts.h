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

constexpr int PART_TABLE_CAPACITY = 30;
constexpr int PART_ATMEGA32 = 1;  // the one row with two fuse bytes

extern AvrPart part_table[PART_TABLE_CAPACITY];
extern int part_count;

void init_part_table();
int find_part_by_signature();  // row index, -1 when no row matches
// Whether `part` is the device a file names `device` (avr-gcc's -mmcu name, in any
// case: atmega644 is the ATmega644). The one place a name is matched to a row.
bool part_answers_to(const AvrPart& part, std::string_view device);
