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
#include <cstring>

#include "hardware.h"

#include "elf.h"
#include "hex.h"
#include "image.h"
#include "interrupt.h"
#include "isp.h"
#include "isp_clock.h"
#include "link.h"
#include "parts.h"
#include "settings.h"
#include "target.h"
#include "terminal.h"

namespace {

void store_name(char* field, const char* name) {
  std::snprintf(field, FILE_NAME_CAPACITY, "%s", name);
}

// A download's file name; a '!' after it forces an ELF file built for another device
// onto the identified part, as it forces a fuse write past the lock-out guard.
bool download_forced = false;
void store_download_name(const char* name) {
  store_name(settings.download_file_name, name);
  const size_t length = std::strlen(settings.download_file_name);
  download_forced = length > 0 && settings.download_file_name[length - 1] == '!';
  if (download_forced) settings.download_file_name[length - 1] = '\0';
}

// The identified part's row; without one, "Target not recognised - `what` refused",
// the run's failure, and the settings reset, and null.
const AvrPart* known_target(const char* what) {
  if (const AvrPart* part = identified_part()) return part;
  report_failure(Stream::out, "Target not recognised - %s refused\n", what);
  reset_settings();
  return nullptr;
}

// In binary mode: on Windows a text-mode read would drop an ELF file's carriage
// returns and end at its first 0x1a byte. The HEX reader skips carriage returns.
std::FILE* open_download() {
  std::FILE* file = std::fopen(settings.download_file_name, "rb");
  if (file != nullptr) return file;
  const int error = errno;
  check_interrupt();  // the open of a FIFO without a writer waits until Ctrl-C
  report_file_failure(settings.download_file_name, error, "Can't open download file\n");
  return nullptr;
}

// Reads the download file into the load image and closes it: the reader's result, or
// -1 when the reader refused the file. The first byte tells an ELF file from an Intel
// HEX file; an ELF file gives the bytes of `memory`. The file is bounded by that memory
// of `part`, or by the image without one (ld).
int load_download(std::FILE* file, ElfMemory memory, const AvrPart* part) {
  DownloadTarget target;
  target.forced = download_forced;
  if (part) {
    target.part = part;
    target.capacity = memory == ELF_FLASH ? part->flash_bytes : part->eeprom_bytes;
    target.memory = memory == ELF_FLASH ? "flash" : "EEPROM";
  }
  const int first = std::fgetc(file);
  check_interrupt();
  if (first != EOF) std::ungetc(first, file);
  const int length = first == ELF_FIRST_BYTE ? load_elf_file(file, memory, target) : load_hex_file(file, target);
  std::fclose(file);
  if (length < 0) note_failure();
  return length;
}

// A chip erase that took leaves the lock open and every flash word ffff. The lock byte
// and the first word of each page are read back, so a chip that ignored the erase never
// gets the file laid over its old program, nor passes verification with old bytes left
// beyond the file. Two instructions a page at some 0.27 ms each: 40 ms on the ATmega48
// (64 pages), 280 ms on the ATmega128 (512), a few per cent of a download of 8 KiB.
// Null when the erase took, else what was found.
const char* erase_left(const AvrPart& part, char* text, size_t size) {
  const uint8_t lock = isp_read_lock();
  if (lock_mode(lock).mode != 1) {
    std::snprintf(text, size, "the lock byte reads %x", lock);
    return text;
  }
  unsigned word = 0, value = 0;
  if (!first_word_not_erased(part.flash_bytes / 2, part.page_words, &word, &value)) return nullptr;
  std::snprintf(text, size, "flash word 0x%04x reads %04x", word, value);
  return text;
}

bool erase_chip(const AvrPart& part) {
  isp_chip_erase();
  std::printf("Erase chip\n");
  char text[64];
  const char* left = nullptr;
  const bool ready = isp_wait_ready() == 0;
  if (ready && (left = erase_left(part, text, sizeof text)) == nullptr) return true;
  // A chip that answered in time but kept its lock or its program did not time out.
  report_failure(Stream::out, ready ? "Error - Erase chip failed\n" : "Error - Erase chip timeout\n");
  if (left) report_failure(Stream::err, "The chip erase did not take: %s - nothing programmed\n", left);
  return false;
}

// Flash takes whole words: an odd length's last word carries a pad byte, written and
// so verified with the rest.
int whole_words(int length) { return length + (length & 1); }

bool verifying() { return settings.verify_mode == 'v'; }

// Standard output while a job is repeated at the standard timing: held, so the run
// prints what one job prints, with the repeat's verdict (-1: not held).
int held_output = -1;

void release_output() {
  restore_output(held_output);
  held_output = -1;
}

// False for a mismatch at a shortened ISP clock, which is left unreported: the
// caller repeats the job at the standard timing, whose verdict counts.
bool verdict(int length, const char* match_format, const char* mismatch_format) {
  if (isp_clock_shortened() && count_mismatches(length) != 0) return false;
  release_output();
  if (compare_images(length)) {
    std::printf(match_format, settings.download_file_name);
  } else {
    report_failure(Stream::out, mismatch_format, settings.download_file_name);
  }
  return true;
}

// Runs `job` (programming and verification; false for a mismatch at a shortened
// clock) at the clock chosen for `part`, then at the standard timing once more after
// `prepare` (the chip erase again, where the job needs one) if the first run read
// back wrong. Only a verified job runs at a shortened clock. The repeat prints
// nothing on standard output until its verdict: the output is one job's, as at the
// standard timing; the repeat is told on standard error.
template <typename Job, typename Prepare>
void at_chosen_clock(const AvrPart& part, Job job, Prepare prepare) {
  if (verifying()) shorten_isp_clock(part);
  const bool done = job();
  if (!restore_standard_clock() || done) return;
  std::fflush(stdout);
  std::fprintf(stderr, "Verification failed at a shortened ISP clock - repeating at the standard timing\n");
  held_output = silence_output();
  if (prepare()) job();
  if (held_output < 0) return;
  release_output();
  // What stopped it (the erase) has failed the run already.
  std::fprintf(stderr, "The repeat at the standard timing failed before its verification\n");
}

// A locked chip ignores every write, and in lock mode 2 still reads back what it held:
// a file that happens to match it would pass. Only a chip erase opens the lock.
bool programming_allowed(const char* memory) {
  const uint8_t lock = isp_read_lock();
  if (lock_mode(lock).programming) return true;
  report_failure(Stream::out,
                 "Target is locked (lock byte %x) - %s download refused: only a chip erase clears "
                 "the lock, and it costs the flash (and the EEPROM, unless EESAVE is programmed)\n",
                 lock, memory);
  return false;
}

// Reads the identified part's whole flash or EEPROM and writes it, without its
// trailing 0xFF bytes, to the upload file.
void upload(const char* name, bool flash) {
  store_name(settings.upload_file_name, name);
  if (target_released == 1) identify_target();
  const AvrPart* part = known_target("upload");
  if (!part) return;
  if (!lock_mode(isp_read_lock()).reading) {
    // A file of FF bytes would pass for the chip's contents.
    report_failure(Stream::out, "Target is locked - its memories read as ff, upload refused\n");
  } else {
    const int size = flash ? part->flash_bytes : part->eeprom_bytes;
    if (flash) {
      read_flash(size);
      std::printf("\n");  // end the progress line before the file message
    } else {
      read_eeprom(size);
    }
    if (write_hex_file(settings.upload_file_name, trimmed_length(size)) < 0) note_failure();
  }
  reset_settings();
}

// da and de read back the whole memory and compare up to its last programmed byte,
// so old contents beyond the file count; and at least the `loaded` bytes the file
// set, so a chip that kept nothing (read back as all 0xFF, trimmed to nothing), or
// lost the file's last byte, never compares as a match.
bool verify_whole_memory(bool flash, int size, int loaded) {
  std::printf("Read back target to verify\n");
  if (flash)
    read_flash(size);
  else
    read_eeprom(size);
  return verdict(std::max(trimmed_length(size), loaded), "Target matches %s\n",
                 "ERROR - Target does not match %s\n");
}

bool eeprom_programming_allowed(const AvrPart&) { return programming_allowed("EEPROM"); }

int write_eeprom_of(const AvrPart&, int length) { return write_eeprom(length); }
// After the chip erase, pages the erase already left blank are skipped.
int write_erased_flash(const AvrPart& part, int length) { return write_flash(part, length, true); }

// df reads back what it wrote; da and de the whole memory.
bool verify_written_flash(const AvrPart&, int, int written) {
  std::printf("Read back target to verify\n");
  read_flash(written);
  return verdict(whole_words(written), "\nTarget Flash matches %s\n", "\nERROR - Target does not match %s\n");
}
bool verify_all_flash(const AvrPart& part, int length, int) {
  return verify_whole_memory(true, part.flash_bytes, whole_words(length));
}
bool verify_all_eeprom(const AvrPart& part, int length, int) {
  return verify_whole_memory(false, part.eeprom_bytes, length);
}

// What sets the three downloads apart: the memory (the readers refuse a file beyond
// the part's size of it, before anything is erased), what readies the chip
// (flash: a chip erase; EEPROM: none, it erases each byte as it writes it, but the lock
// must allow writes), how the count is announced and how the result is verified.
struct Download {
  ElfMemory memory;
  bool announce_length;  // "load file length = N"
  bool (*prepare)(const AvrPart&);
  int (*write)(const AvrPart&, int length);
  const char* written_format;
  bool (*verify)(const AvrPart&, int length, int written);  // false: a mismatch
};

constexpr Download FLASH{ELF_FLASH, false, erase_chip, write_erased_flash,
                         "Bytes written to target %d  \n", verify_written_flash};
constexpr Download ALL_PROCESSORS{ELF_FLASH, true, erase_chip, write_erased_flash,
                                  "%d bytes written to target\n", verify_all_flash};
constexpr Download EEPROM{ELF_EEPROM, true, eeprom_programming_allowed,
                          write_eeprom_of, "Bytes written to target %d\n", verify_all_eeprom};

// The download file into the identified `part`. A file that can't be opened keeps the
// settings, so the command can be repeated; otherwise they are reset.
void download(const Download& d, const AvrPart& part) {
  std::FILE* file = open_download();
  if (!file) return;
  const int length = load_download(file, d.memory, &part);
  if (length >= 0 && d.announce_length) std::printf("load file length = %d\n", length);
  if (length >= 0 && d.prepare(part)) {
    at_chosen_clock(part, [&] {
      std::printf("Programming\n");
      const int written = d.write(part, length);
      std::printf(d.written_format, written);
      return !verifying() || d.verify(part, length, written);
    }, [&] { return d.prepare(part); });
  }
  reset_settings();
}

// A download into the target the cable reaches now, identified first if it was let run.
void download_here(const Download& d, const char* name) {
  store_download_name(name);
  if (target_released == 1) identify_target();
  if (const AvrPart* part = known_target("download")) download(d, *part);
}

}  // namespace

void download_flash(const char* name) { download_here(FLASH, name); }

// Processor 1 is not included. Nothing on the cable tells the positions apart, so
// each pass programs whichever target the cable reaches; a setting made before da
// holds for the first pass only.
void download_all(const char* name) {
  for (int p = 2; p <= 5; ++p) {
    release_target();
    std::printf("Reset %d: ", p);
    check_target();
    store_download_name(name);
    if (const AvrPart* part = known_target("download")) download(ALL_PROCESSORS, *part);
  }
}

void download_eeprom(const char* name) { download_here(EEPROM, name); }

// Fills the load image only. With verification off the settings stay as they are,
// 'n' included.
void load_only(const char* name) {
  store_download_name(name);
  std::FILE* file = open_download();
  if (!file) return;
  load_download(file, ELF_FLASH, nullptr);
  if (verifying()) reset_settings();
}

void upload_eeprom(const char* name) { upload(name, false); }

void upload_flash(const char* name) { upload(name, true); }
