// Settings of the simulated Varn board (its keys of LPT1=sim:...) and the state file
// that keeps its chip between runs.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "sim_varn.h"

namespace io::sim {
namespace {

bool parse_fault(const std::string& text, VarnSettings& s) {
  if (text.empty() || text == "none") s.fault = Fault::none;
  else if (text == "absent") s.fault = Fault::absent;
  else if (text == "silent") s.fault = Fault::silent;
  else if (text == "busy") s.fault = Fault::busy;
  else if (text == "locked") s.fault = Fault::locked;
  else if (text == "readonly") s.fault = Fault::readonly;
  else if (text.rfind("flip:", 0) == 0) {
    unsigned long n = 0;
    if (!parse_unsigned(text.substr(5), 1000000000UL, n) || n == 0) return false;
    s.fault = Fault::flip;
    s.flip_every = static_cast<uint32_t>(n);
  } else {
    return false;
  }
  return true;
}

std::string hex_bytes(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; i++) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 0x0F];
  }
  return text;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_hex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.empty() || text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi * 16 + lo));
  }
  return true;
}

bool parse_hex_byte(const std::string& text, uint8_t& value) {
  std::vector<uint8_t> bytes;
  if (!parse_hex(text, bytes) || bytes.size() != 1) return false;
  value = bytes[0];
  return true;
}

// Bytes per memory line of the state file; lines that hold only 0xFF are left out.
constexpr size_t STATE_LINE_BYTES = 32;
constexpr const char* STATE_HEADER = "varn-sim-state 1";

void memory_lines(std::string& text, const char* name, const std::vector<uint8_t>& memory) {
  for (size_t at = 0; at < memory.size(); at += STATE_LINE_BYTES) {
    size_t n = std::min(STATE_LINE_BYTES, memory.size() - at);
    bool erased = true;
    for (size_t i = 0; i < n; i++) erased = erased && memory[at + i] == 0xFF;
    if (erased) continue;
    char address[24];
    std::snprintf(address, sizeof address, "%06zx", at);
    text += std::string(name) + " " + address + " " + hex_bytes(&memory[at], n) + "\n";
  }
}

}  // namespace

bool take_varn_settings(Options& options, VarnSettings& s, std::string& message) {
  std::string part = options.take("part");
  if (!part.empty()) {
    s.part = find_sim_part(part);
    if (!s.part) {
      message = "LPT1=sim: part=" + part + " is not on the varn board's list (" + sim_part_names() + ")";
      return false;
    }
  }
  std::string fuses = options.take("fuses", "table");
  if (fuses != "table" && fuses != "factory") {
    message = "LPT1=sim: fuses=" + fuses + " is neither table nor factory";
    return false;
  }
  s.factory_fuses = fuses == "factory";
  std::string clock = options.take("clock");
  if (!clock.empty()) {
    char* end = nullptr;
    s.clock_mhz = std::strtod(clock.c_str(), &end);
    if (end == clock.c_str() || *end != '\0' || !(s.clock_mhz > 0 && s.clock_mhz <= 100)) {
      message = "LPT1=sim: clock=" + clock + " is not a clock in MHz (above 0, at most 100)";
      return false;
    }
  }
  std::string strict = options.take("strict", "0");
  if (strict != "0" && strict != "1") {
    message = "LPT1=sim: strict=" + strict + " is neither 0 nor 1";
    return false;
  }
  s.strict = strict == "1";
  std::string timing = options.take("timing", "real");
  if (timing != "real" && timing != "fast") {
    message = "LPT1=sim: timing=" + timing + " is neither real nor fast";
    return false;
  }
  s.fast = timing == "fast";
  s.state_path = options.take("state");
  if (options.has("state") && s.state_path.empty()) {
    message = "LPT1=sim: state= needs a file name";
    return false;
  }
  std::string fault = options.take("fault");
  if (!parse_fault(fault, s)) {
    message = "LPT1=sim: fault=" + fault + " is not one of absent, silent, busy, flip:N, locked, readonly";
    return false;
  }
  return true;
}

std::string chip_state_text(const Chip& chip) {
  char line[64];
  std::string text = std::string(STATE_HEADER) + "\npart " + chip.part->name() + "\n";
  std::snprintf(line, sizeof line, "fuses %02x %02x %02x\nlock %02x\n", chip.fuses[0], chip.fuses[1], chip.fuses[2],
                chip.lock);
  text += line;
  memory_lines(text, "flash", chip.flash);
  memory_lines(text, "eeprom", chip.eeprom);
  return text;
}

bool load_chip_state(const std::string& path, const SimPart* wanted, bool factory_fuses, Chip& chip, bool& found,
                     std::string& message) {
  found = false;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) {
    if (errno == ENOENT) return true;  // a new chip; the file is written at exit
    message = "LPT1=sim: can't read state file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  bool read_failed = std::ferror(file) != 0;
  std::fclose(file);
  if (read_failed) {
    message = "LPT1=sim: can't read state file " + path;
    return false;
  }

  std::istringstream lines(text);
  std::string line;
  int number = 0;
  bool have_part = false;
  auto fail = [&](const std::string& what) {
    message = "LPT1=sim: state file " + path + " line " + std::to_string(number) + ": " + what;
    return false;
  };
  while (std::getline(lines, line)) {
    number++;
    if (number == 1) {
      if (line != STATE_HEADER) return fail("not a varn board state file");
      continue;
    }
    std::istringstream words(line);
    std::string key, a, b, c, extra;
    words >> key >> a >> b >> c >> extra;
    if (key.empty()) continue;
    if (key == "part") {
      const SimPart* part = find_sim_part(a);
      if (!part || !b.empty()) return fail("unknown part " + a);
      if (wanted && wanted != part)
        return fail("the chip is an " + std::string(part->name()) + ", not an " + wanted->name());
      chip_init(chip, *part, factory_fuses);
      have_part = true;
      continue;
    }
    if (!have_part) return fail("part must come first");
    if (key == "fuses") {
      std::array<uint8_t, 3> fuses{};
      if (!parse_hex_byte(a, fuses[0]) || !parse_hex_byte(b, fuses[1]) || !parse_hex_byte(c, fuses[2]) ||
          !extra.empty())
        return fail("fuses need three hex bytes");
      chip.fuses = fuses;
      chip.fuses[FUSE_EXTENDED] = chip_extended_fuse(chip, fuses[FUSE_EXTENDED]);
    } else if (key == "lock") {
      if (!parse_hex_byte(a, chip.lock) || !b.empty()) return fail("lock needs one hex byte");
    } else if (key == "flash" || key == "eeprom") {
      std::vector<uint8_t>& memory = key == "flash" ? chip.flash : chip.eeprom;
      std::vector<uint8_t> data;
      char* end = nullptr;
      unsigned long at = std::strtoul(a.c_str(), &end, 16);
      if (a.empty() || *end != '\0' || !parse_hex(b, data) || !c.empty())
        return fail(key + " needs an address and hex bytes");
      if (at > memory.size() || data.size() > memory.size() - at) return fail(key + " line beyond the memory");
      std::copy(data.begin(), data.end(), memory.begin() + static_cast<long>(at));
    } else {
      return fail("unknown key " + key);
    }
  }
  if (!have_part) {
    number = 0;
    return fail("no part line");
  }
  found = true;
  return true;
}

}  // namespace io::sim
