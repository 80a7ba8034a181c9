// ELF executables as the AVR toolchain links them, read as download files.
#pragma once
#include <cstdio>

// The first byte of every ELF file. No Intel HEX file holds it: its text is ':',
// hexadecimal digits and line ends.
constexpr int ELF_FIRST_BYTE = 0x7F;

#include "hex.h"

enum ElfMemory { ELF_FLASH, ELF_EEPROM };

// Reads `in`, an ELF file opened by the caller (who closes it), into load_image
// (filled with the fill byte first): the end of the highest byte of `memory` that the file sets,
// or -1 when the file is refused (one line printed, naming the file and the reason),
// a file that sets no byte of `memory` included.
int load_elf_file(std::FILE* in, ElfMemory memory, const DownloadTarget& target = {});
