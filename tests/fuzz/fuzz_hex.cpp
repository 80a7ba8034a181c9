// links: programmer_core
// The Intel HEX reader fed any bytes as a download file. A file it accepts must come
// back unchanged through the writer: what load_image holds up to the returned end is
// written out (alternating type 02 and type 04 address records), read in again and
// compared byte for byte.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hex.h"
#include "image.h"
#include "settings.h"

namespace {

std::string round_trip_path;
std::vector<uint8_t> first_load;

bool set_up() {
  std::FILE* out = std::freopen("/dev/null", "w", stdout);
  (void)out;
  // A memory-backed folder when there is one: the writer syncs every file it writes.
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ".";
  round_trip_path = std::string(folder) + "/fuzz-hex-" + std::to_string(getpid()) + ".hex";
  first_load.resize(IMAGE_SIZE);
  return true;
}

// The reader's result; the stream is closed as the download commands close it.
int load(std::FILE* stream) {
  const int end = load_hex_file(stream);
  if (stream) std::fclose(stream);
  return end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = set_up();
  (void)ready;
  static unsigned runs = 0;
  ++runs;
  reset_settings();
  settings.fill_char = static_cast<uint8_t>(runs);
  settings.hex_extended_record_type = (runs & 1) ? 4 : 2;
  std::snprintf(settings.download_file_name, FILE_NAME_CAPACITY, "fuzz.hex");

  std::vector<uint8_t> bytes(data, data + size);
  bytes.push_back(0);  // fmemopen refuses an empty buffer
  std::FILE* file = fmemopen(bytes.data(), size == 0 ? 1 : size, "r");
  if (!file) return 0;
  const int end = load(file);
  if (end < -1 || end > IMAGE_SIZE) __builtin_trap();
  if (end <= 0) return 0;

  std::memcpy(first_load.data(), load_image, IMAGE_SIZE);
  std::memcpy(readback_image, load_image, static_cast<size_t>(end));
  if (write_hex_file(round_trip_path.c_str(), end) != 1) __builtin_trap();
  settings.fill_char = static_cast<uint8_t>(~settings.fill_char);
  const int again = load(std::fopen(round_trip_path.c_str(), "r"));
  std::remove(round_trip_path.c_str());
  if (again != end) __builtin_trap();
  if (std::memcmp(first_load.data(), load_image, static_cast<size_t>(end)) != 0) __builtin_trap();
  return 0;
}
