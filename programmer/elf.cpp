// ELF executables as avr-gcc links them: 32-bit, little-endian, machine AVR.
//
// The toolchain gives each memory a region of one address space: flash from 0, SRAM
// from 0x800000, EEPROM from 0x810000, then the fuses (0x820000), the lock bits
// (0x830000) and the signature (0x840000). What goes into the chip is read from the
// loadable segments by their physical (load) address: .text and the initial values
// of .data, which the start-up code copies from flash into SRAM, both lie in flash;
// .eeprom is a segment of its own at 0x810000. Fuses and lock bits are not written
// by a download: the fuse commands write fuses, so the file's own are only named.
//
// Every offset and size comes from the file, so each is checked against the bytes
// read, in 64-bit arithmetic, before it is used; anything malformed or cut short
// refuses the whole file before the caller erases or programs anything.
#include "elf.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hex.h"
#include "image.h"
#include "settings.h"

namespace {

constexpr uint32_t SRAM_BASE = 0x800000;  // where flash's region ends
constexpr uint32_t EEPROM_BASE = 0x810000;
constexpr uint32_t FUSE_BASE = 0x820000;
constexpr uint32_t LOCK_BASE = 0x830000;
constexpr uint32_t SIGNATURE_BASE = 0x840000;

// The 32-bit ELF header and program header fields read here, by offset.
constexpr size_t HEADER_BYTES = 52;
constexpr size_t CLASS = 4, DATA = 5, TYPE = 16, MACHINE = 18, SEGMENT_TABLE = 28;
constexpr size_t SEGMENT_ENTRY_SIZE = 42, SEGMENT_COUNT = 44;
constexpr size_t SEGMENT_BYTES = 32;
constexpr size_t SEGMENT_TYPE = 0, SEGMENT_OFFSET = 4, SEGMENT_LOAD_ADDRESS = 12, SEGMENT_FILE_SIZE = 16;
constexpr uint8_t CLASS_32 = 1, DATA_LITTLE_ENDIAN = 1;
constexpr unsigned TYPE_RELOCATABLE = 1, TYPE_EXECUTABLE = 2, MACHINE_AVR = 83, SEGMENT_LOADABLE = 1;

// Far beyond any AVR program with its debugging sections: a larger file is something
// else, and isn't read into memory whole.
constexpr size_t MAX_FILE_BYTES = size_t{64} << 20;

unsigned field16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t field32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int refuse(const char* reason) {
  std::printf("%s: %s - download refused\n", settings.download_file_name, reason);
  return -1;
}

// Reads the whole stream; false on a read error.
bool read_whole(std::FILE* in, std::vector<uint8_t>& bytes) {
  constexpr size_t CHUNK = 1 << 16;
  size_t got = CHUNK;
  while (got == CHUNK && bytes.size() <= MAX_FILE_BYTES) {
    const size_t old = bytes.size();
    bytes.resize(old + CHUNK);
    got = std::fread(bytes.data() + old, 1, CHUNK, in);
    bytes.resize(old + got);
  }
  return std::ferror(in) == 0;
}

// The reason the header refuses the file, or nullptr.
const char* header_problem(const std::vector<uint8_t>& file, char* buffer, size_t size) {
  const uint8_t* f = file.data();
  if (file.size() < 4 || std::memcmp(f, "\x7f" "ELF", 4) != 0) return "begins with byte 7f but is not an ELF file";
  // A 64-bit header is longer: its class says what it is before its length does.
  if (file.size() > CLASS && f[CLASS] != CLASS_32) return "not a 32-bit ELF file";
  if (file.size() > DATA && f[DATA] != DATA_LITTLE_ENDIAN) return "not a little-endian ELF file";
  if (file.size() < HEADER_BYTES) return "ELF header cut short by the end of the file";
  if (field16(f + MACHINE) != MACHINE_AVR) {
    std::snprintf(buffer, size, "ELF file for machine %u, not for the AVR (%u)", field16(f + MACHINE), MACHINE_AVR);
    return buffer;
  }
  if (field16(f + TYPE) == TYPE_RELOCATABLE) return "an object file, not a linked ELF executable";
  if (field16(f + TYPE) != TYPE_EXECUTABLE) return "not an ELF executable";
  if (field16(f + SEGMENT_ENTRY_SIZE) < SEGMENT_BYTES) return "ELF program headers of the wrong size";
  const uint64_t table_end =
      uint64_t{field32(f + SEGMENT_TABLE)} + uint64_t{field16(f + SEGMENT_COUNT)} * field16(f + SEGMENT_ENTRY_SIZE);
  if (table_end > file.size()) return "ELF program headers cut short by the end of the file";
  return nullptr;
}

struct Region {
  ElfMemory memory;
  uint32_t base, limit;
};
constexpr Region REGIONS[] = {{ELF_FLASH, 0, SRAM_BASE}, {ELF_EEPROM, EEPROM_BASE, FUSE_BASE}};

struct Loaded {
  int64_t end = -1;  // of the highest byte set in the memory read, -1 for none
  bool fuses = false, locks = false;
};

// Copies the loadable segments of `memory` into load_image. Returns the reason the
// file is refused, or nullptr.
const char* load_segments(const std::vector<uint8_t>& file, ElfMemory memory, Loaded& loaded, char* buffer,
                          size_t size) {
  const uint8_t* f = file.data();
  const uint32_t table = field32(f + SEGMENT_TABLE);
  const unsigned entry_size = field16(f + SEGMENT_ENTRY_SIZE);
  for (unsigned k = 0; k < field16(f + SEGMENT_COUNT); ++k) {
    const uint8_t* entry = f + table + size_t{k} * entry_size;
    const uint32_t offset = field32(entry + SEGMENT_OFFSET);
    const uint32_t address = field32(entry + SEGMENT_LOAD_ADDRESS);
    const uint32_t bytes = field32(entry + SEGMENT_FILE_SIZE);
    if (field32(entry + SEGMENT_TYPE) != SEGMENT_LOADABLE || bytes == 0) continue;
    if (uint64_t{offset} + bytes > file.size()) {
      std::snprintf(buffer, size, "segment at 0x%x cut short by the end of the file", address);
      return buffer;
    }
    const Region* region = nullptr;
    for (const Region& r : REGIONS)
      if (address >= r.base && address < r.limit) region = &r;
    if (!region) {
      // SRAM has nothing to program; the signature is the part's own.
      loaded.fuses |= address >= FUSE_BASE && address < LOCK_BASE;
      loaded.locks |= address >= LOCK_BASE && address < SIGNATURE_BASE;
      continue;
    }
    const uint64_t end = uint64_t{address} + bytes;
    if (end > region->limit) {
      std::snprintf(buffer, size, "segment at 0x%x runs past its memory's end at 0x%x", address, region->limit);
      return buffer;
    }
    if (region->memory != memory) continue;
    const uint64_t first = address - region->base;
    if (first + bytes > static_cast<uint64_t>(IMAGE_SIZE)) {
      std::snprintf(buffer, size, "data up to 0x%llx beyond the %d-byte image",
                    static_cast<unsigned long long>(first + bytes), IMAGE_SIZE);
      return buffer;
    }
    std::memcpy(load_image + first, f + offset, bytes);
    loaded.end = std::max(loaded.end, static_cast<int64_t>(first + bytes));
  }
  return nullptr;
}

}  // namespace

int load_elf_file(std::FILE* in, ElfMemory memory) {
  if (in == nullptr) return -1;
  fill_load_image(settings.fill_char);
  std::vector<uint8_t> file;
  const bool read = read_whole(in, file);
  const int error = errno;
  if (!read) {
    report_file_failure(settings.download_file_name, error, "%s: read error - download refused\n",
                        settings.download_file_name);
    return -1;
  }
  if (file.size() > MAX_FILE_BYTES) return refuse("over 64 MiB, too large for an AVR program");
  char buffer[112];
  const char* problem = header_problem(file, buffer, sizeof buffer);
  Loaded loaded;
  if (!problem) problem = load_segments(file, memory, loaded, buffer, sizeof buffer);
  if (problem) return refuse(problem);
  if (loaded.end < 0)
    return refuse(memory == ELF_FLASH ? "no flash data in the ELF file" : "no EEPROM data in the ELF file");
  if (memory == ELF_FLASH && (loaded.fuses || loaded.locks)) {
    std::fflush(stdout);
    if (loaded.fuses)
      std::fprintf(stderr, "%s: its fuse bytes are not programmed - pfa and pf1 to pf3 write fuses\n",
                   settings.download_file_name);
    if (loaded.locks) std::fprintf(stderr, "%s: its lock bits are not programmed\n", settings.download_file_name);
  }
  return static_cast<int>(loaded.end);
}
