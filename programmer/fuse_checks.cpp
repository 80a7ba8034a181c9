// The checks around fuse writes, driven by the fuse bits of the part's facts.
#include "fuse_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "hardware.h"
#include "isp.h"
#include "part_facts.h"
#include "parts.h"
#include "settings.h"
#include "target.h"

namespace {

// Fuse number n (1 low, 2 high, 3 extended) sits at fuse_bytes[3 - n].
constexpr int FUSE_NUMBERS = 3;
size_t slot(int n) { return static_cast<size_t>(FUSE_NUMBERS - n); }

// The facts of the identified part, null without one.
const avr::Part* identified_facts() {
  const AvrPart* part = identified_part();
  return part ? avr::find_part(part->signature[0], part->signature[1], part->signature[2]) : nullptr;
}

// Bits of fuse n that the serial interface can't change: SPIEN and the bits with no
// fuse behind them.
uint8_t fixed_bits(const avr::Part& part, int n) {
  uint8_t mask = part.unused_bits[slot(n)];
  if (part.spien.fuse == static_cast<int>(slot(n))) mask = static_cast<uint8_t>(mask | part.spien.mask);
  return mask;
}

// The names of the lock-out bits that `value` programs (writes as 0) in fuse n.
std::string lock_out_names(const avr::Part& part, int n, uint8_t value) {
  const struct {
    const char* name;
    avr::FuseBitAt bit;
  } lock_outs[] = {{"RSTDISBL", part.rstdisbl}, {"DWEN", part.dwen}};
  std::string names;
  for (const auto& b : lock_outs) {
    if (b.bit.fuse != static_cast<int>(slot(n)) || (value & b.bit.mask) != 0) continue;
    if (!names.empty()) names += " and ";
    names += b.name;
  }
  return names;
}

}  // namespace

FuseArgument fuse_argument(const char* arg) {
  FuseArgument a{};
  std::snprintf(a.text, sizeof a.text, "%s", arg);
  size_t length = std::strlen(a.text);
  a.forced = length > 0 && a.text[length - 1] == '!';
  if (a.forced) a.text[length - 1] = '\0';
  return a;
}

int fuse_write_allowed(const char* what, const FuseWrite& w, bool forced) {
  const avr::Part* part = identified_facts();
  if (!part) return 1;  // the fuse commands refuse an unknown part first
  for (int n = 1; n <= FUSE_NUMBERS; ++n) {
    if (!w.written[slot(n)]) continue;
    std::string names = lock_out_names(*part, n, w.value[slot(n)]);
    if (names.empty()) continue;
    std::printf("%s %s - %x programs %s: the RESET pin stops answering this programmer\n", what,
                forced ? "written as forced" : "not written", w.value[slot(n)], names.c_str());
    if (forced) return 1;
    note_failure();
    return 0;
  }
  return 1;
}

void check_fuse_write(const FuseWrite& w) {
  const avr::Part* part = identified_facts();
  if (!part) return;
  isp_read_fuses();
  for (int n = 1; n <= FUSE_NUMBERS; ++n) {
    if (!w.written[slot(n)]) continue;
    uint8_t changeable = static_cast<uint8_t>(~fixed_bits(*part, n));
    uint8_t read = fuse_bytes[slot(n)];
    if (((read ^ w.value[slot(n)]) & changeable) == 0) continue;
    report_failure(Stream::out, "Fuse byte %d reads %x after writing %x\n", n, read, w.value[slot(n)]);
  }
}

int fuse_write_wait_us() {
  const avr::Part* part = identified_facts();
  return std::max(FUSE_WRITE_WAIT_US, part ? static_cast<int>(part->fuse_write_us) : 0);
}
