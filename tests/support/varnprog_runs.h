// Runs build/varnprog against the simulated Varn board in its fast mode.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "run_program.h"

inline const std::string BANNER =
    "Varn Programming Utility V1.01\n"
    "In-system programmer for the Varn board - provided as is, without warranty\n";
inline const std::string COMMAND_LINE = BANNER + "Command line mode\n";
inline const std::string INTERACTIVE = BANNER + "Interactive mode - Type 'e' to exit,'h' for help\n";
inline const std::string BOARD_CHECK = "\nChecking for Varn processor:\n Processor X1 is ";
inline const std::string FINISHED = "\nProgram finished - hit any key to exit!";

// `keys` are extra settings of the simulated board, e.g. "part=ATmega32,fuses=factory".
inline RunResult varnprog(const TempDir& dir, const std::vector<std::string>& args,
                          const std::string& keys = "", const std::string& input = "") {
  RunOptions options;
  options.args = args;
  options.input = input;
  options.env = {{"LPT1", "sim:timing=fast" + (keys.empty() ? "" : "," + keys)}};
  options.timeout_s = 60;
  return run_program("varnprog", options, dir);
}

// Output after the command-line banner; empty when the banner is not there.
inline std::string after_banner(const RunResult& r) {
  if (r.out.rfind(COMMAND_LINE, 0) != 0) return "<no command-line banner>" + r.out;
  return r.out.substr(COMMAND_LINE.size());
}

// The same with a report file, "report.txt", for report_of to read.
inline RunResult varnprog_reported(const TempDir& dir, const std::vector<std::string>& args,
                                   const std::string& keys = "") {
  RunOptions options;
  options.args = args;
  options.env = {{"LPT1", "sim:timing=fast,report=report.txt" + (keys.empty() ? "" : "," + keys)}};
  return run_program("varnprog", options, dir);
}

inline std::string report_of(const TempDir& dir, const std::string& key, const std::string& file = "report.txt") {
  return report_value(dir.read(file), key).value_or("(no " + key + ")");
}

inline size_t count_of(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

inline std::set<std::string> files_in(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.insert(entry.path().filename().string());
  return names;
}

// HEX files written here independently of the programmer's own writer.
using Bytes = std::vector<uint8_t>;

// One record of `type` at `address` holding the bytes spelt by `data_hex`.
inline std::string hex_record(unsigned address, const std::string& data_hex, unsigned type = 0) {
  const unsigned count = static_cast<unsigned>(data_hex.size() / 2);
  unsigned sum = count + ((address >> 8) & 0xFF) + (address & 0xFF) + type;
  for (size_t i = 0; i < data_hex.size(); i += 2) sum += static_cast<unsigned>(std::stoul(data_hex.substr(i, 2), nullptr, 16));
  char head[16], tail[8];
  std::snprintf(head, sizeof head, ":%02X%04X%02X", count, address & 0xFFFF, type);
  std::snprintf(tail, sizeof tail, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  return head + data_hex + tail;
}

// `data` from address 0, 16 bytes a record, with type 04 records past 64 KiB.
inline std::string hex_text(const Bytes& data) {
  std::string text;
  for (size_t b = 0; b < data.size(); b += 16) {
    char digits[40];
    if (b % 65536 == 0 && b != 0) {
      std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(b >> 16));
      text += hex_record(0, digits, 4);
    }
    std::string data_hex;
    for (size_t k = b; k < data.size() && k < b + 16; ++k) {
      std::snprintf(digits, sizeof digits, "%02X", data[k]);
      data_hex += digits;
    }
    text += hex_record(static_cast<unsigned>(b & 0xFFFF), data_hex);
  }
  return text + ":00000001FF\n";
}

inline Bytes random_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes data(size);
  for (auto& b : data) b = static_cast<uint8_t>(random() % 0xFF);  // never 0xFF
  return data;
}

// Bytes of a HEX file by address (types 00, 02 and 04).
inline std::map<uint32_t, uint8_t> hex_bytes(const std::string& text) {
  std::map<uint32_t, uint8_t> bytes;
  uint32_t base = 0;
  size_t at = 0;
  while ((at = text.find(':', at)) != std::string::npos) {
    auto field = [&](size_t offset, size_t digits) {
      return static_cast<uint32_t>(std::stoul(text.substr(at + 1 + offset, digits), nullptr, 16));
    };
    const uint32_t count = field(0, 2), address = field(2, 4), type = field(6, 2);
    if (type == 0)
      for (uint32_t k = 0; k < count; ++k) bytes[base + address + k] = static_cast<uint8_t>(field(8 + 2 * k, 2));
    if (type == 2) base = field(8, 4) * 16;
    if (type == 4) base = field(8, 4) << 16;
    ++at;
  }
  return bytes;
}
