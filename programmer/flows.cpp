// The download and upload commands: a HEX or ELF file into flash or EEPROM with
// read-back verification, and a target memory back out to a HEX file.
//
// None of them touches a target whose signature matched no row of the device table:
// the page size and memory sizes would come from no row, and erasing or programming
// an unknown chip with them could destroy it. Downloads that don't fit the part are
// refused before the chip is erased, so a bad file never costs the old program.
#include "flows.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "hardware.h"

#include "elf.h"
#include "hex.h"
#include "image.h"
#include "isp.h"
#include "link.h"
#include "parts.h"
#include "settings.h"
#include "target.h"

namespace {

void store_name(char* field, const char* name) {
  std::snprintf(field, FILE_NAME_CAPACITY, "%s", name);
}

bool target_known() { return current_part >= 0 && current_part < part_count; }

void refuse_unknown_target(const char* what) {
  std::printf("Target not recognised - %s refused\n", what);
  note_failure();
}

// In binary mode: on Windows a text-mode read would drop an ELF file's carriage
// returns and end at its first 0x1a byte. The HEX reader skips carriage returns.
bool open_download() {
  download_stream = std::fopen(settings.download_file_name, "rb");
  if (download_stream != nullptr) return true;
  const int error = errno;
  std::printf("Can't open download file\n");
  note_file_failure(settings.download_file_name, error);
  return false;
}

// The reader's result, or -1 when the reader refused the file. The first byte tells
// an ELF file from an Intel HEX file; an ELF file gives the bytes of `memory`.
int load_download(ElfMemory memory) {
  const int first = std::fgetc(download_stream);
  if (first != EOF) std::ungetc(first, download_stream);
  const int length = first == ELF_FIRST_BYTE ? load_elf_file(memory) : load_hex_file();
  if (length < 0) note_failure();
  return length;
}

// Refuses a download whose end lies beyond the `memory` of the identified part.
bool fits_part(int length, int capacity, const char* memory) {
  if (length <= capacity) return true;
  std::printf("%s: %d bytes do not fit the %d-byte %s of the %s - download refused\n",
              settings.download_file_name, length, capacity, memory,
              part_table[current_part].name);
  note_failure();
  return false;
}

bool erase_chip() {
  isp_chip_erase();
  std::printf("Erase chip\n");
  if (isp_wait_ready() == 0) return true;
  std::printf("Error - Erase chip timeout\n");
  note_failure();
  return false;
}

bool verifying() { return settings.verify_mode == 'v'; }

void verdict(int length, const char* match_format, const char* mismatch_format) {
  if (compare_images(length)) {
    std::printf(match_format, settings.download_file_name);
  } else {
    std::printf(mismatch_format, settings.download_file_name);
    note_failure();
  }
}

// Reads the identified part's whole flash or EEPROM and writes it, without its
// trailing 0xFF bytes, to the upload file.
void upload(const char* name, bool flash) {
  store_name(settings.upload_file_name, name);
  if (target_released == 1) identify_target();
  if (!target_known()) {
    refuse_unknown_target("upload");
  } else if (read_back_locked(isp_read_lock())) {
    // A file of FF bytes would pass for the chip's contents.
    std::printf("Target is locked - its memories read as ff, upload refused\n");
    note_failure();
  } else {
    const AvrPart& part = part_table[current_part];
    const int size = flash ? part.flash_bytes : part.eeprom_bytes;
    if (flash) {
      read_flash(size);
      std::printf("\n");  // end the progress line before the file message
    } else {
      read_eeprom(size);
    }
    // Verification trims by trimmed_length, whose scan never looks at the last byte;
    // an upload trimmed that way would drop the memory's last byte from the file, or
    // every byte when only the last one holds data. An upload keeps every data byte.
    if (write_hex_file(settings.upload_file_name, data_length(size)) < 0) note_failure();
  }
  reset_settings();
}

// da and de read back the whole memory and compare up to its last programmed byte,
// so old contents beyond the file count; and at least the `loaded` bytes the file
// set, so a chip that kept nothing (read back as all 0xFF, trimmed to nothing), or
// lost the file's last byte, never compares as a match.
void verify_whole_memory(bool flash, int size, int loaded) {
  std::printf("Read back target to verify\n");
  if (flash)
    read_flash(size);
  else
    read_eeprom(size);
  verdict(std::max(trimmed_length(size), loaded), "Target matches %s\n",
          "ERROR - Target does not match %s\n");
}

}  // namespace

void download_flash(const char* name) {
  store_name(settings.download_file_name, name);
  if (target_released == 1) identify_target();
  if (!target_known()) {
    refuse_unknown_target("download");
    reset_settings();
    return;
  }
  if (!open_download()) return;  // settings kept, so the command can be repeated
  const int length = load_download(ELF_FLASH);
  if (length >= 0 && fits_part(length, part_table[current_part].flash_bytes, "flash") &&
      erase_chip()) {
    std::printf("Programming\n");
    const int written = write_flash(current_part, length);
    std::printf("Bytes written to target %ld  \n", static_cast<long>(written));
    if (verifying()) {
      std::printf("Read back target to verify\n");
      read_flash(written);
      verdict(written, "\nTarget Flash matches %s\n", "\nERROR - Target does not match %s\n");
    }
  }
  reset_settings();
}

// Processor 1 is not included. Nothing on the cable tells the positions apart, so
// each pass programs whichever target the cable reaches; a setting made before da
// holds for the first pass only.
void download_all(const char* name) {
  for (int p = 2; p <= 5; ++p) {
    release_target();
    std::printf("Reset %d: ", p);
    check_target();
    store_name(settings.download_file_name, name);
    if (!target_known()) {
      refuse_unknown_target("download");
      reset_settings();
      continue;
    }
    if (!open_download()) continue;
    const int length = load_download(ELF_FLASH);
    if (length >= 0) std::printf("load file length = %d\n", length);
    const AvrPart& part = part_table[current_part];
    if (length >= 0 && fits_part(length, part.flash_bytes, "flash") && erase_chip()) {
      std::printf("Programming\n");
      const int written = write_flash(current_part, length);
      std::printf("%d bytes written to target\n", written);
      if (verifying()) verify_whole_memory(true, part.flash_bytes, length);
    }
    reset_settings();
  }
}

void download_eeprom(const char* name) {
  store_name(settings.download_file_name, name);
  if (target_released == 1) identify_target();
  if (!target_known()) {
    refuse_unknown_target("download");
    reset_settings();
    return;
  }
  if (!open_download()) return;
  const int length = load_download(ELF_EEPROM);
  if (length >= 0) std::printf("load file length = %d\n", length);
  const AvrPart& part = part_table[current_part];
  // No chip erase: the EEPROM erases each byte as it writes it.
  if (length >= 0 && fits_part(length, part.eeprom_bytes, "EEPROM")) {
    std::printf("Programming\n");
    const int written = write_eeprom(length);
    std::printf("Bytes written to target %d\n", written);
    if (verifying()) verify_whole_memory(false, part.eeprom_bytes, length);
  }
  reset_settings();
}

// Fills the load image only. With verification off the settings stay as they are,
// 'n' included.
void load_only(const char* name) {
  store_name(settings.download_file_name, name);
  if (!open_download()) return;
  load_download(ELF_FLASH);
  if (verifying()) reset_settings();
}

void upload_eeprom(const char* name) { upload(name, false); }

void upload_flash(const char* name) { upload(name, true); }
