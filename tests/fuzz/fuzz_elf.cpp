// links: programmer_core
// The ELF reader fed any bytes as a download file, for flash and for EEPROM. It always
// closes its file, and it either refuses the file or returns an end within the image
// past which the load image holds nothing but the fill byte.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "elf.h"
#include "hex.h"
#include "image.h"
#include "settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
  static std::vector<uint8_t> fill(IMAGE_SIZE);
  (void)quiet;
  static unsigned runs = 0;
  ++runs;
  for (ElfMemory memory : {ELF_FLASH, ELF_EEPROM}) {
    reset_settings();
    settings.fill_char = static_cast<uint8_t>(runs);
    std::snprintf(settings.download_file_name, FILE_NAME_CAPACITY, "fuzz.elf");
    std::vector<uint8_t> bytes(data, data + size);
    bytes.push_back(0);  // fmemopen refuses an empty buffer
    std::FILE* file = fmemopen(bytes.data(), size == 0 ? 1 : size, "r");
    if (!file) return 0;
    const int end = load_elf_file(file, memory);
    std::fclose(file);
    if (end < -1 || end > IMAGE_SIZE) __builtin_trap();
    if (end < 0) continue;
    std::memset(fill.data(), settings.fill_char, IMAGE_SIZE);
    if (std::memcmp(load_image + end, fill.data(), static_cast<size_t>(IMAGE_SIZE - end)) != 0) __builtin_trap();
  }
  return 0;
}
