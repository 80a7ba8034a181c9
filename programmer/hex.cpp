// Intel HEX reader and writer.
//
// The reader is lenient in what it has always accepted (any text between records,
// record types it doesn't know, records after the end record, wrong checksums) and
// strict only where going on would corrupt memory or program garbage: a field that
// isn't hexadecimal, a record cut short by the end of the file, data that would land
// outside the load image, or a file without a single record (a binary or a text file
// given by mistake, which would otherwise erase the chip for nothing) refuses the
// whole file before anything is programmed.
//
// The result is the highest end of any data record, not the end of the last one: a
// boot section placed before its application in one file is programmed with it.
#include "hex.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "file_replace.h"
#include "image.h"
#include "interrupt.h"
#include "parts.h"
#include "settings.h"


namespace {

constexpr int RECORD_DATA = 0x00;
constexpr int RECORD_END = 0x01;
constexpr int RECORD_SEGMENT = 0x02;
constexpr int RECORD_LINEAR = 0x04;

// Digit values, -1 for anything that isn't a hexadecimal digit (either case).
constexpr std::array<int8_t, 256> digit_values = [] {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<int8_t>(c - 'A' + 10);
  return t;
}();

constexpr char lower_digits[] = "0123456789abcdef";

// Buffered reading of the download file; a 1 MiB file goes through in 16 refills.
unsigned char input_buffer[1 << 16];

// The most text a HEX file needs for a memory of `capacity` bytes: a record of one
// byte, line end included, takes 15 characters; 64 KiB more leave room for comments.
uint64_t text_limit(int capacity) { return uint64_t{16} * static_cast<uint64_t>(capacity) + (64 << 10); }

struct Source {
  std::FILE* file;
  size_t pos = 0;
  size_t end = 0;
  uint64_t before = 0;  // characters of the refills before the current one
  int line = 1;  // line of the character read last

  int next() {
    if (pos == end) {
      before += end;
      end = std::fread(input_buffer, 1, sizeof input_buffer, file);
      check_interrupt();  // a read of a FIFO or terminal returns early for Ctrl-C
      pos = 0;
      if (end == 0) return EOF;
    }
    return input_buffer[pos++];
  }
  uint64_t read() const { return before + pos; }
};

enum FieldResult { FIELD_OK, FIELD_NOT_HEX, FIELD_CUT_SHORT };

// Reads exactly `digits` characters as one hexadecimal number.
FieldResult read_field(Source& in, int digits, unsigned& value) {
  value = 0;
  for (int k = 0; k < digits; ++k) {
    const int c = in.next();
    if (c == EOF) return FIELD_CUT_SHORT;
    const int d = digit_values[static_cast<unsigned char>(c)];
    if (d < 0) return FIELD_NOT_HEX;
    value = value << 4 | static_cast<unsigned>(d);
  }
  return FIELD_OK;
}

int refuse(int line, const char* reason) {
  std::printf("%s line %d: %s - download refused\n", settings.download_file_name, line, reason);
  return -1;
}

const char* field_problem(FieldResult r) {
  return r == FIELD_CUT_SHORT ? "record cut short by the end of the file"
                              : "not a hexadecimal field";
}

// Checks the sum of a record's bytes, checksum included, and warns when it is off:
// the data still loads, as it always has, but a damaged file doesn't pass unnoticed.
void check_sum(int line, unsigned sum, unsigned checksum) {
  if (((sum + checksum) & 0xFF) == 0) return;
  std::printf("%s line %d: checksum %02x should be %02x - loaded anyway\n",
              settings.download_file_name, line, checksum & 0xFF, (0x100 - (sum & 0xFF)) & 0xFF);
}

unsigned address_sum(unsigned address) { return (address >> 8) + (address & 0xFF); }

// One record after its ':'. Returns 1 to go on, -1 when the file is refused.
int read_record(Source& in, const DownloadTarget& target, uint64_t& base, int64_t& result) {
  const int line = in.line;
  unsigned count = 0, address = 0, type = 0;
  FieldResult r = read_field(in, 2, count);
  if (r == FIELD_OK) r = read_field(in, 4, address);
  if (r == FIELD_OK) r = read_field(in, 2, type);
  if (r != FIELD_OK) return refuse(line, field_problem(r));
  if (result < 0) result = 0;  // the file holds a record

  const unsigned header_sum = count + address_sum(address) + type;
  unsigned checksum = 0;
  switch (type) {
    case RECORD_DATA: {
      std::array<uint8_t, 255> data;
      unsigned sum = header_sum;
      for (unsigned k = 0; k < count; ++k) {
        unsigned byte = 0;
        if ((r = read_field(in, 2, byte)) != FIELD_OK) return refuse(line, field_problem(r));
        data[k] = static_cast<uint8_t>(byte);
        sum += byte;
      }
      if ((r = read_field(in, 2, checksum)) != FIELD_OK) return refuse(line, field_problem(r));
      if (count == 0) {  // sets no byte, so it neither ends the data nor leaves the image
        check_sum(line, sum, checksum);
        return 1;
      }
      // Offsets run on linearly from the base, past 0xFFFF within one record too.
      const uint64_t first = base + address;
      const uint64_t end = first + count;
      if (end > static_cast<uint64_t>(std::min(target.capacity, IMAGE_SIZE))) {
        char reason[112];
        beyond_reason(target, end, reason, sizeof reason);
        return refuse(line, reason);
      }
      check_sum(line, sum, checksum);
      for (unsigned k = 0; k < count; ++k) load_image[first + k] = data[k];
      result = std::max(result, static_cast<int64_t>(end));
      return 1;
    }
    case RECORD_SEGMENT:
    case RECORD_LINEAR: {
      // The byte count isn't consulted: the base is always four digits.
      unsigned value = 0;
      r = read_field(in, 4, value);
      if (r == FIELD_OK) r = read_field(in, 2, checksum);
      if (r != FIELD_OK) return refuse(line, field_problem(r));
      check_sum(line, header_sum + address_sum(value), checksum);
      base = type == RECORD_SEGMENT ? uint64_t{value} * 16 : uint64_t{value} * 65536;
      return 1;
    }
    case RECORD_END:
      // Not the end of reading: records after it are read like any other.
      if ((r = read_field(in, 2, checksum)) != FIELD_OK) return refuse(line, field_problem(r));
      check_sum(line, header_sum, checksum);
      return 1;
    default:
      return 1;  // unknown type: the rest of the record is skipped as text
  }
}

// A record's text: ':', the bytes in lower-case digits, the checksum, the line end.
struct RecordText {
  char text[1 + 2 * (4 + 16 + 1) + 1];
  int size = 0;
  unsigned sum = 0;

  void start() { text[0] = ':'; size = 1; sum = 0; }
  void byte(unsigned value) {
    value &= 0xFF;
    text[size++] = lower_digits[value >> 4];
    text[size++] = lower_digits[value & 0xF];
    sum += value;
  }
  void finish() {
    byte((0x100 - (sum & 0xFF)) & 0xFF);
    text[size++] = '\n';
  }
};

void write_record(std::FILE* out, unsigned address, unsigned type, const uint8_t* data, int count) {
  RecordText r;
  r.start();
  r.byte(static_cast<unsigned>(count));
  r.byte(address >> 8);
  r.byte(address & 0xFF);
  r.byte(type);
  for (int k = 0; k < count; ++k) r.byte(data[k]);
  r.finish();
  std::fwrite(r.text, 1, static_cast<size_t>(r.size), out);
}

// A folder can't take the file's place: the rename at the end would fail after the
// whole file was written and announced, so it is refused as a file that can't be
// created.
bool open_output(ReplacementFile& out, const char* path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    errno = EISDIR;
    return false;
  }
  return replacement_open(out, path);
}

}  // namespace

namespace {

// "the 4096-byte flash of the ATmega48", or "the 364000-byte image" without a part.
std::string memory_text(const DownloadTarget& target) {
  std::string text = "the " + std::to_string(target.capacity) + "-byte " + target.memory;
  return target.part ? text + " of the " + target.part->name : text;
}

}  // namespace

void beyond_reason(const DownloadTarget& target, uint64_t end, char* text, size_t size) {
  std::snprintf(text, size, "data up to 0x%llx beyond %s", static_cast<unsigned long long>(end),
                memory_text(target).c_str());
}

int load_hex_file(std::FILE* file, const DownloadTarget& target) {
  if (file == nullptr) return -1;
  fill_load_image(settings.fill_char);
  Source in{file};
  const uint64_t limit = text_limit(target.capacity);
  uint64_t base = 0;
  int64_t result = -1;  // -1 until the first record
  int status = 1;
  for (int c; status == 1 && (c = in.next()) != EOF;) {
    if (c == '\n') ++in.line;
    else if (c == ':') status = read_record(in, target, base, result);
    if (status == 1 && in.read() > limit) {
      std::printf("%s: over %llu bytes, more than a HEX file for %s needs - download refused\n",
                  settings.download_file_name, static_cast<unsigned long long>(limit), memory_text(target).c_str());
      status = -1;
    }
  }
  if (status == 1 && std::ferror(file)) {
    const int error = errno;  // a folder opens for reading and fails at the first read
    report_file_failure(settings.download_file_name, error, "%s: read error - download refused\n",
                        settings.download_file_name);
    status = -1;
  }
  if (status == 1 && result < 0) {
    std::printf("%s holds no Intel HEX records - download refused\n", settings.download_file_name);
    status = -1;
  }
  return status == 1 ? static_cast<int>(result) : -1;
}

int write_hex_file(const char* path, int length) {
  ReplacementFile out;
  if (!open_output(out, path)) {
    const int error = errno;
    report_file_failure(path, error, "Can't open output file %s\n", path);
    return -1;
  }
  std::printf("Write Flash/EEPROM data to %s\n", path);
  if (length > IMAGE_SIZE) length = IMAGE_SIZE;
  int segment = 0;  // 64 KiB segment of the last extended-address record
  for (int b = 0; b < length;) {
    int n = 16;
    const int s = (b + 16) / 65536;
    const bool extended_due = s > segment;
    if (extended_due) n = 65536 - (b - segment * 65536);  // what is left of the segment
    const int m = std::min(n, length - b);
    write_record(out.file, static_cast<unsigned>(b - segment * 65536), RECORD_DATA,
                 readback_image + b, m);
    b += n;
    if (extended_due) {
      const bool linear = settings.hex_extended_record_type == 4;
      const unsigned value = linear ? static_cast<unsigned>(s) : static_cast<unsigned>(s) * 4096;
      const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
      write_record(out.file, 0, linear ? RECORD_LINEAR : RECORD_SEGMENT, bytes, 2);
      segment = s;
    }
  }
  std::fputs(":00000001FF\n", out.file);
  if (!replacement_commit(out)) {
    const int error = errno;
    report_file_failure(path, error, "Can't write output file %s - left as it was\n", path);
    return -1;
  }
  return 1;
}
