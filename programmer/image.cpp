// The load and read-back images and the operations that program and read them.
//
// Flash goes out a page at a time: the words of a page are loaded into the chip's
// page buffer (low byte first) and committed with one page write and one ready-wait,
// so a 64 KiB part costs 256 waits instead of 65536. EEPROM has no page mode in use
// here and waits after every byte.
//
// Word addresses go out in 16 bits. Flash above 64 K words (128 KiB) is reached
// through the Load Extended Address byte, which the chip keeps and puts in front of
// the address of every page write and flash read until the next one: each pass sends
// it with 0 first, and again whenever it crosses into another 64 K-word segment. A page
// never straddles two segments (pages are powers of two, at most 128 words).
#include "image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "isp.h"
#include "parts.h"
#include "progress.h"
#include "settings.h"
#include "terminal.h"

uint8_t load_image[IMAGE_SIZE];
uint8_t readback_image[IMAGE_SIZE];

namespace {

// Lengths come from the flows, which keep them within the part's memory; clamping
// here keeps a stray caller from walking off the static arrays.
int clamp_length(int length) { return std::clamp(length, 0, IMAGE_SIZE); }

// The bytes of the whole words that hold `length` bytes: the flash loops' last count.
int whole_words_of(int length) { return length + (length & 1); }

bool page_size_known(int page_words) {
  return page_words == 32 || page_words == 64 || page_words == 128;
}

// The extended address byte the chip holds during one pass over its flash.
class FlashSegment {
 public:
  FlashSegment() { isp_load_extended_address(0); }
  // Before the page write or read at word address `word`.
  void reach(unsigned word) {
    if ((word >> 16) == segment_) return;
    segment_ = word >> 16;
    isp_load_extended_address(segment_);
  }

 private:
  unsigned segment_ = 0;
};

bool all_erased(int from, int to) {
  return std::all_of(load_image + from, load_image + to, [](uint8_t b) { return b == 0xFF; });
}

// The flash jobs' counters ("Bytes written to target: 292  \r"): every step where a
// person watches the line rewrite itself; to a pipe or a file only the last value,
// once, instead of a piece for every word (65536 of them for 128 KiB).
struct Counter {
  const char* label;
  int last;
  bool every = output_is_terminal();
};
void print_counter(const Counter& c, int count) {
  if (count == c.last || c.every) std::printf("%s%ld  \r", c.label, static_cast<long>(count));
}

}  // namespace

void fill_load_image(uint8_t value) { std::memset(load_image, value, sizeof load_image); }

void fill_readback_image(uint8_t value) {
  std::memset(readback_image, value, sizeof readback_image);
}

int write_flash(const AvrPart& part, int length, bool erased) {
  length = clamp_length(length);
  const int page_words = part.page_words;
  const bool load_bytes = page_size_known(page_words);
  int pending = 0;       // words loaded into the page buffer since the last page write
  unsigned page = 0;     // word address of the page being filled
  bool blank = false;    // the page being filled holds only 0xFF and is skipped

  FlashSegment segment;
  progress_begin("Bytes written to target: ", length, true);
  const Counter counter{"Bytes written to target: ", whole_words_of(length)};
  for (int i = 0; i < length; i += 2) {
    const unsigned offset = static_cast<unsigned>((i / 2) % page_words);
    if (offset == 0) blank = erased && all_erased(i, std::min(i + 2 * page_words, whole_words_of(length)));
    if (load_bytes && !blank) {
      // An odd length takes its last high byte from load_image[length], the fill byte.
      isp_load_page_low(offset, load_image[i]);
      isp_load_page_high(offset, load_image[i + 1]);
    }
    print_counter(counter, i + 2);
    progress_update(i + 2);
    if (++pending == page_words) {
      pending = 0;
      if (!blank) {
        segment.reach(page);
        isp_write_page(page);
      }
      if (!blank && isp_wait_ready() == -1) {
        progress_clear();
        report_failure(Stream::out, "Error - Flash write timeout    \n");
      }
      page += static_cast<unsigned>(page_words);
    }
  }
  if (pending != 0 && !blank) {
    segment.reach(page);
    isp_write_page(page);
    if (isp_wait_ready() == -1) {
      progress_clear();
      report_failure(Stream::out, "Error - Flash write timeout\n");
    }
  }
  progress_end();
  return length;
}

int write_eeprom(int length) {
  length = clamp_length(length);
  progress_begin("EEPROM bytes written: ", length, false);
  for (int i = 0; i < length; ++i) {
    isp_write_eeprom(static_cast<unsigned>(i), load_image[i]);
    if (isp_wait_ready() == -1) {
      progress_clear();
      report_failure(Stream::out, "Error - EEPROM write timeout\n");
    }
    progress_update(i + 1);
  }
  progress_end();
  return length;
}

void read_flash(int length) {
  length = clamp_length(length);
  fill_readback_image(0);
  FlashSegment segment;
  // Whole words: an odd length reads one byte more than asked (still inside the image,
  // whose size is even).
  progress_begin("Flash bytes read: ", length, true);
  const Counter counter{"Flash bytes read: ", whole_words_of(length)};
  for (int i = 0; i < length; i += 2) {
    const unsigned word = static_cast<unsigned>(i / 2);
    segment.reach(word);
    readback_image[i] = isp_read_flash_low(word);
    readback_image[i + 1] = isp_read_flash_high(word);
    print_counter(counter, i + 2);
    progress_update(i + 2);
  }
  progress_end();
}

void read_eeprom(int length) {
  length = clamp_length(length);
  fill_readback_image(0);
  std::printf("Read %d target EEPROM bytes\n", length);
  progress_begin("EEPROM bytes read: ", length, false);
  for (int i = 0; i < length; ++i) {
    readback_image[i] = isp_read_eeprom(static_cast<unsigned>(i));
    progress_update(i + 1);
  }
  progress_end();
}

int first_word_not_erased(int words, int page_words, unsigned* word, unsigned* value) {
  if (page_words <= 0) return 0;
  FlashSegment segment;
  for (int w = 0; w < words; w += page_words) {
    const unsigned address = static_cast<unsigned>(w);
    segment.reach(address);
    const unsigned low = isp_read_flash_low(address);
    const unsigned read = low | unsigned{isp_read_flash_high(address)} << 8;
    if (read != 0xFFFF) {
      *word = address;
      *value = read;
      return 1;
    }
  }
  return 0;
}

// Every byte is examined, the last one too: a chip whose last byte differs from the
// erased state must take part in the comparison, or a file that leaves it alone
// would pass over an old byte there.
int trimmed_length(int length) {
  length = clamp_length(length);
  while (length > 0 && readback_image[length - 1] == 0xFF) --length;
  return length;
}

int count_mismatches(int length) {
  length = clamp_length(length);
  int mismatched = 0;
  for (int i = 0; i < length; ++i)
    if (load_image[i] != readback_image[i]) ++mismatched;
  return mismatched;
}

int compare_images(int length) {
  const int mismatched = count_mismatches(length);
  if (mismatched != 0) std::printf("\n%d bytes mismatched\n", mismatched);
  return mismatched == 0 ? 1 : 0;
}
