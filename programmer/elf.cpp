// ELF executables as avr-gcc links them: 32-bit, little-endian, machine AVR.
//
// The toolchain gives each memory a region of one address space: flash from 0, SRAM
// from 0x800000, EEPROM from 0x810000, then the fuses (0x820000), the lock bits
// (0x830000) and the signature (0x840000). What goes into the chip is what the
// toolchain's own objcopy takes from the file: the sections .text and .data for
// flash, .eeprom for EEPROM, each at its load address, which the loadable segment
// holding the section gives (.data runs in SRAM but its initial values load into
// flash behind the code, and the start-up code copies them over). Fuses and lock
// bits are not written by a download: the fuse commands write fuses, so the file's
// own are only named.
//
// Every offset and size comes from the file, so each is checked against the bytes
// read, in 64-bit arithmetic, before it is used. A file is refused whole, before the
// caller erases or programs anything, when anything is malformed or cut short, when
// a section with contents lies in no loadable segment or disagrees with it, when an
// address wraps or leaves its memory, when a section would be left out, and when
// avr-gcc's device note names a device the identified part is not (unless forced).
#include "elf.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "hex.h"
#include "image.h"
#include "interrupt.h"
#include "parts.h"
#include "settings.h"

namespace {

constexpr uint32_t SRAM_BASE = 0x800000;  // where flash's region ends
constexpr uint32_t EEPROM_BASE = 0x810000;
constexpr uint32_t FUSE_BASE = 0x820000;
constexpr uint32_t LOCK_BASE = 0x830000;
constexpr uint32_t SIGNATURE_BASE = 0x840000;

// The 32-bit ELF header and program header fields read here, by offset.
constexpr size_t HEADER_BYTES = 52;
constexpr uint32_t SIGNATURE_END = 0x850000;
constexpr size_t CLASS = 4, DATA = 5, TYPE = 16, MACHINE = 18, SEGMENT_TABLE = 28, SECTION_TABLE = 32;
constexpr size_t SEGMENT_ENTRY_SIZE = 42, SEGMENT_COUNT = 44, SECTION_ENTRY_SIZE = 46, SECTION_COUNT = 48,
                 SECTION_NAMES = 50;
constexpr size_t SEGMENT_BYTES = 32, SECTION_BYTES = 40;
constexpr size_t SEGMENT_TYPE = 0, SEGMENT_OFFSET = 4, SEGMENT_ADDRESS = 8, SEGMENT_LOAD_ADDRESS = 12,
                 SEGMENT_FILE_SIZE = 16;
constexpr size_t SECTION_NAME = 0, SECTION_TYPE = 4, SECTION_FLAGS = 8, SECTION_ADDRESS = 12, SECTION_OFFSET = 16,
                 SECTION_SIZE = 20;
constexpr uint8_t CLASS_32 = 1, DATA_LITTLE_ENDIAN = 1;
constexpr unsigned TYPE_RELOCATABLE = 1, TYPE_EXECUTABLE = 2, MACHINE_AVR = 83, SEGMENT_LOADABLE = 1;
constexpr unsigned SECTION_NO_BITS = 8, FLAG_ALLOCATED = 2;
// avr-gcc's note of the device a program was built for: after the note's name "AVR",
// six words (flash, SRAM and EEPROM start and size), the length of a table of string
// offsets (itself included), the offset of the device name, then the strings.
constexpr std::string_view DEVICE_NOTE = ".note.gnu.avr.deviceinfo";
constexpr size_t NOTE_HEADER = 12, NOTE_TABLE_LENGTH = 24, NOTE_NAME_OFFSET = 28;

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
  // Room for a regular file at once: no copy of what was read as the buffer grows, so a
  // Ctrl-C waits for one chunk at most.
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(settings.download_file_name, error);
  if (!error && size <= MAX_FILE_BYTES) bytes.reserve(static_cast<size_t>(size) + CHUNK);
  size_t got = CHUNK;
  while (got == CHUNK && bytes.size() <= MAX_FILE_BYTES) {
    const size_t old = bytes.size();
    bytes.resize(old + CHUNK);
    got = std::fread(bytes.data() + old, 1, CHUNK, in);
    check_interrupt();  // a read of a FIFO returns early for Ctrl-C
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
  if (field16(f + SECTION_COUNT) == 0) return "no ELF section headers: nothing says what the segments hold";
  if (field16(f + SECTION_ENTRY_SIZE) < SECTION_BYTES) return "ELF section headers of the wrong size";
  const uint64_t sections_end = uint64_t{field32(f + SECTION_TABLE)} +
                                uint64_t{field16(f + SECTION_COUNT)} * field16(f + SECTION_ENTRY_SIZE);
  if (sections_end > file.size()) return "ELF section headers cut short by the end of the file";
  if (field16(f + SECTION_NAMES) >= field16(f + SECTION_COUNT)) return "no ELF section name table";
  return nullptr;
}

// Field access to one program or section header.
struct Entry {
  const uint8_t* at;
  uint32_t operator[](size_t field) const { return field32(at + field); }
};

Entry entry(const std::vector<uint8_t>& file, size_t table, size_t entry_size, unsigned k) {
  return {file.data() + field32(file.data() + table) + size_t{k} * field16(file.data() + entry_size)};
}

struct Section {
  std::string_view name;
  uint32_t offset, size;
  uint64_t load;  // the load address, from the segment that holds the section
};

// The section's name, or empty when it lies outside the name table.
std::string_view section_name(const std::vector<uint8_t>& file, uint32_t name) {
  const Entry names = entry(file, SECTION_TABLE, SECTION_ENTRY_SIZE, field16(file.data() + SECTION_NAMES));
  const uint64_t first = uint64_t{names[SECTION_OFFSET]} + name;
  const uint64_t end = std::min<uint64_t>(uint64_t{names[SECTION_OFFSET]} + names[SECTION_SIZE], file.size());
  if (first >= end) return {};
  const char* text = reinterpret_cast<const char*>(file.data() + first);
  return {text, strnlen(text, static_cast<size_t>(end - first))};
}

// Finds the section's load address in the loadable segment whose file bytes hold it.
// Returns the reason the file is refused, or nullptr.
const char* place_section(const std::vector<uint8_t>& file, Section& section, uint32_t address, char* buffer,
                          size_t size) {
  const char* name = section.name.data();
  const int width = static_cast<int>(section.name.size());
  if (uint64_t{section.offset} + section.size > file.size()) {
    std::snprintf(buffer, size, "section %.*s cut short by the end of the file", width, name);
    return buffer;
  }
  for (unsigned k = 0; k < field16(file.data() + SEGMENT_COUNT); ++k) {
    const Entry segment = entry(file, SEGMENT_TABLE, SEGMENT_ENTRY_SIZE, k);
    if (segment[SEGMENT_TYPE] != SEGMENT_LOADABLE || section.offset < segment[SEGMENT_OFFSET] ||
        uint64_t{section.offset} + section.size > uint64_t{segment[SEGMENT_OFFSET]} + segment[SEGMENT_FILE_SIZE])
      continue;
    const uint32_t into = section.offset - segment[SEGMENT_OFFSET];
    if (segment[SEGMENT_ADDRESS] + into != address) {
      std::snprintf(buffer, size, "section %.*s at 0x%x disagrees with its segment at 0x%x", width, name, address,
                    segment[SEGMENT_ADDRESS]);
      return buffer;
    }
    section.load = uint64_t{segment[SEGMENT_LOAD_ADDRESS]} + into;
    if (section.load + section.size > uint64_t{1} << 32) {
      std::snprintf(buffer, size, "section %.*s at 0x%llx wraps past the end of the address space", width, name,
                    static_cast<unsigned long long>(section.load));
      return buffer;
    }
    return nullptr;
  }
  std::snprintf(buffer, size, "section %.*s lies in no loadable segment", width, name);
  return buffer;
}

struct Region {
  ElfMemory memory;
  uint32_t base, limit;
  const char* name;
};
constexpr Region FLASH_REGION{ELF_FLASH, 0, SRAM_BASE, "flash"}, EEPROM_REGION{ELF_EEPROM, EEPROM_BASE, FUSE_BASE,
                                                                               "EEPROM"};

// The region a section of this name goes to, null for one no download writes.
const Region* region_of(std::string_view name) {
  if (name == ".text" || name == ".data") return &FLASH_REGION;
  if (name == ".eeprom") return &EEPROM_REGION;
  return nullptr;
}

struct Loaded {
  int64_t end = -1;  // of the highest byte set in the memory read, -1 for none
  bool fuses = false, locks = false;
  std::string_view device;  // from the device note, empty without one
};

// Reads avr-gcc's device note. Returns the reason the file is refused, or nullptr.
const char* read_device_note(const std::vector<uint8_t>& file, const Section& note, Loaded& loaded) {
  const uint8_t* n = file.data() + note.offset;
  if (note.size < NOTE_HEADER) return "its device note is cut short";
  const uint64_t desc = NOTE_HEADER + ((uint64_t{field32(n)} + 3) & ~uint64_t{3});
  const uint64_t end = desc + field32(n + 4);
  if (end > note.size || field32(n + 4) < NOTE_NAME_OFFSET + 4) return "its device note is cut short";
  const uint64_t strings = desc + NOTE_TABLE_LENGTH + field32(n + desc + NOTE_TABLE_LENGTH);
  const uint64_t device = strings + field32(n + desc + NOTE_NAME_OFFSET);
  if (device >= end) return "its device note names no device within it";
  const char* text = reinterpret_cast<const char*>(n + device);
  loaded.device = {text, strnlen(text, static_cast<size_t>(end - device))};
  return nullptr;
}

// Copies the sections of `memory` into load_image. Returns the reason the file is
// refused, or nullptr.
const char* load_sections(const std::vector<uint8_t>& file, ElfMemory memory, const DownloadTarget& target,
                          Loaded& loaded, char* buffer, size_t size) {
  for (unsigned k = 0; k < field16(file.data() + SECTION_COUNT); ++k) {
    const Entry header = entry(file, SECTION_TABLE, SECTION_ENTRY_SIZE, k);
    Section section{section_name(file, header[SECTION_NAME]), header[SECTION_OFFSET], header[SECTION_SIZE], 0};
    if (section.name == DEVICE_NOTE) {
      if (uint64_t{section.offset} + section.size > file.size()) return "its device note is cut short";
      if (const char* problem = read_device_note(file, section, loaded)) return problem;
    }
    if (!(header[SECTION_FLAGS] & FLAG_ALLOCATED) || header[SECTION_TYPE] == SECTION_NO_BITS || section.size == 0)
      continue;  // no bytes of the program: debugging, symbols, zeroed data
    if (section.name.empty()) return "a section's name lies outside the name table";
    if (const char* problem = place_section(file, section, header[SECTION_ADDRESS], buffer, size)) return problem;
    const Region* region = region_of(section.name);
    const int width = static_cast<int>(section.name.size());
    if (!region) {
      // The signature is the part's own; the fuses and lock bits are named.
      if (section.load < FUSE_BASE || section.load + section.size > SIGNATURE_END) {
        std::snprintf(buffer, size, "section %.*s at 0x%llx is not one a download programs", width,
                      section.name.data(), static_cast<unsigned long long>(section.load));
        return buffer;
      }
      loaded.fuses |= section.load < LOCK_BASE;
      loaded.locks |= section.load >= LOCK_BASE && section.load < SIGNATURE_BASE;
      continue;
    }
    if (section.load < region->base || section.load + section.size > region->limit) {
      std::snprintf(buffer, size, "section %.*s loads at 0x%llx, outside %s", width, section.name.data(),
                    static_cast<unsigned long long>(section.load), region->name);
      return buffer;
    }
    if (region->memory != memory) continue;
    const uint64_t first = section.load - region->base, end = first + section.size;
    if (end > static_cast<uint64_t>(std::min(target.capacity, IMAGE_SIZE))) {
      beyond_reason(target, end, buffer, size);
      return buffer;
    }
    std::memcpy(load_image + first, file.data() + section.offset, section.size);
    loaded.end = std::max(loaded.end, static_cast<int64_t>(end));
  }
  return nullptr;
}

// A device note that names another device than the identified part refuses the file;
// with `forced` it is programmed all the same, and standard error says so.
const char* device_problem(const Loaded& loaded, const DownloadTarget& target, char* buffer, size_t size) {
  if (!target.part || loaded.device.empty() || part_answers_to(*target.part, loaded.device)) return nullptr;
  const int width = static_cast<int>(loaded.device.size());
  if (!target.forced) {
    std::snprintf(buffer, size, "built for the %.*s, not the %s (a ! after the name forces it)", width,
                  loaded.device.data(), target.part->name);
    return buffer;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s: built for the %.*s, programmed into the %s as forced\n", settings.download_file_name,
               width, loaded.device.data(), target.part->name);
  return nullptr;
}

}  // namespace

int load_elf_file(std::FILE* in, ElfMemory memory, const DownloadTarget& target) {
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
  char buffer[160];
  const char* problem = header_problem(file, buffer, sizeof buffer);
  Loaded loaded;
  if (!problem) problem = load_sections(file, memory, target, loaded, buffer, sizeof buffer);
  if (!problem) problem = device_problem(loaded, target, buffer, sizeof buffer);
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
