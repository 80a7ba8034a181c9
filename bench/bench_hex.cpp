// links: programmer_core common
// Throughput of the Intel HEX reader on a 1 MiB file, in MB/s (target: above 50).
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <unistd.h>

#include "hex.h"
#include "image.h"
#include "settings.h"

namespace {

// A 1 MiB HEX file of 16-byte records that cycles over the first five segments of the
// image (the image holds less than 1 MiB of data), with a type 04 record per segment.
std::string make_file() {
  std::string text;
  std::mt19937 random(1);
  char line[64];
  unsigned address = 0;
  while (text.size() < (1u << 20)) {
    if (address % 0x10000 == 0) {
      const unsigned segment = (address >> 16) % 5;
      std::snprintf(line, sizeof line, ":02000004%04X%02X\n", segment,
                    (0x100 - ((6 + segment) & 0xFF)) & 0xFF);
      text += line;
    }
    unsigned sum = 0x10 + ((address >> 8) & 0xFF) + (address & 0xFF);
    int n = std::snprintf(line, sizeof line, ":10%04X00", address & 0xFFFF);
    for (int k = 0; k < 16; ++k) {
      const unsigned b = static_cast<unsigned>(random() & 0xFF);
      n += std::snprintf(line + n, sizeof line - n, "%02X", b);
      sum += b;
    }
    std::snprintf(line + n, sizeof line - n, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
    address += 16;
  }
  return text + ":00000001FF\n";
}

}  // namespace

int main() {
  char folder[] = "/tmp/bench-hex-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string path = std::string(folder) + "/big.hex";
  const std::string text = make_file();
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size()) return 1;
  std::fclose(out);

  reset_settings();
  std::snprintf(settings.download_file_name, FILE_NAME_CAPACITY, "%s", path.c_str());
  double best = 1e9;
  int result = 0;
  for (int run = 0; run < 20; ++run) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return 1;
    const auto start = std::chrono::steady_clock::now();
    result = load_hex_file(file);
    std::fclose(file);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best) best = seconds;
  }
  std::remove(path.c_str());
  rmdir(folder);
  if (result <= 0) {
    std::printf("reader refused the file (%d)\n", result);
    return 1;
  }
  const double mb = static_cast<double>(text.size()) / 1e6;
  std::printf("HEX reader: %.2f MB in %.3f ms, %.0f MB/s (target above 50)\n", mb, best * 1e3,
              mb / best);
  return 0;
}
