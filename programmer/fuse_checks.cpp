// The checks around fuse writes, driven by the part's fuse bits in hardware.h.
#include "fuse_checks.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "hardware.h"
#include "isp.h"
#include "settings.h"
#include "target.h"

namespace {

// Fuse number n (1 low, 2 high, 3 extended) sits at fuse_bytes[3 - n].
constexpr int FUSE_NUMBERS = 3;
size_t slot(int n) { return static_cast<size_t>(FUSE_NUMBERS - n); }

// The fuse bits of the identified part (rows follow the part table), null without one.
const PartFuseBits* identified_bits() {
  if (!identified_part() || current_part >= KNOWN_PART_COUNT) return nullptr;
  return &PART_FUSE_BITS[static_cast<size_t>(current_part)];
}

// Bits of fuse n that have `role` on `part`.
uint8_t bits_of(const PartFuseBits& part, int n, FuseRole role) {
  uint8_t mask = 0;
  for (const FuseBit& b : part.bits)
    if (b.name && b.fuse == n && b.role == role) mask = static_cast<uint8_t>(mask | b.mask);
  return mask;
}

// The names of the lock-out bits that `value` programs (writes as 0) in fuse n.
std::string lock_out_names(const PartFuseBits& part, int n, uint8_t value) {
  std::string names;
  for (const FuseBit& b : part.bits) {
    if (!b.name || b.fuse != n || b.role != FuseRole::LOCKS_OUT || (value & b.mask) != 0) continue;
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
  const PartFuseBits* part = identified_bits();
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
  const PartFuseBits* part = identified_bits();
  if (!part) return;
  isp_read_fuses();
  for (int n = 1; n <= FUSE_NUMBERS; ++n) {
    if (!w.written[slot(n)]) continue;
    uint8_t changeable =
        static_cast<uint8_t>(~(bits_of(*part, n, FuseRole::KEPT) | bits_of(*part, n, FuseRole::UNUSED)));
    uint8_t read = fuse_bytes[slot(n)];
    if (((read ^ w.value[slot(n)]) & changeable) == 0) continue;
    std::printf("Fuse byte %d reads %x after writing %x\n", n, read, w.value[slot(n)]);
    note_failure();
  }
}
