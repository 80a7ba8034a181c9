// ELF executables as the AVR toolchain links them, read as download files.
#pragma once

// The first byte of every ELF file. No Intel HEX file holds it: its text is ':',
// hexadecimal digits and line ends.
constexpr int ELF_FIRST_BYTE = 0x7F;

#include "hex.h"

enum ElfMemory { ELF_FLASH, ELF_EEPROM };

// Reads download_stream, an ELF file, into load_image (filled with the fill byte
// first) and closes it: the end of the highest byte of `memory` that the file sets,
// or -1 when the file is refused (one line printed, naming the file and the reason),
// a file that sets no byte of `memory` included.
int load_elf_file(ElfMemory memory, const DownloadTarget& target = {});
