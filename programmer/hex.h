// Intel HEX reader and writer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image.h"

struct AvrPart;

// The memory a download file is read for. A file is refused as soon as it sets a byte
// beyond `capacity` or holds more text than a HEX file for that memory ever needs, so
// a wrong file (a device, a huge log) stops at once, never after minutes of reading.
struct DownloadTarget {
  int capacity = IMAGE_SIZE;
  const char* memory = "image";   // "flash", "EEPROM"
  const AvrPart* part = nullptr;  // the identified part: none for ld
  bool forced = false;            // a '!' after the name: an ELF file built for another device goes on
};

// "data up to 0x... beyond the N-byte flash of the ATmega48", for data ending at `end`.
void beyond_reason(const DownloadTarget& target, uint64_t end, char* text, size_t size);

// Reads `in`, opened by the caller (who closes it), into load_image: the highest end
// of any data record (0 for a file of records without data), or -1 when the file is refused
// (one line printed, naming the file), a file without any record included.
int load_hex_file(std::FILE* in, const DownloadTarget& target = {});
// Writes readback_image[0, length) to `path`: 1, or -1 when it can't be written.
int write_hex_file(const char* path, int length);
