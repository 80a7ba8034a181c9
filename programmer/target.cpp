// Identification of the target, the default-fuse check and the reports built on them.
#include "target.h"

#include <algorithm>
#include <cstdio>

#include "clock_fuses.h"
#include "isp.h"
#include "link.h"
#include "parts.h"
#include "settings.h"

int current_part = 0;
int clock_mhz = 0;

const AvrPart* identified_part() {
  if (current_part < 0 || current_part >= part_count || current_part >= PART_TABLE_CAPACITY)
    return nullptr;
  return &part_table[current_part];
}

namespace {

bool no_target_hint_given = false;

// A target that doesn't answer Programming Enable fails the run. The reports keep
// their own wording on standard output; the hint of what to look at goes to standard
// error once a run, however many commands meet the silent cable.
void note_no_target() {
  if (no_target_hint_given) return note_failure();
  no_target_hint_given = true;
  report_failure(Stream::err,
                 "No target answered Programming Enable - check the cable, the board's power and "
                 "that a chip sits in the socket\n");
}

}  // namespace

void identify_target() {
  enter_programming_mode();
  if (isp_programming_enable() != ENABLE_ECHO) note_no_target();
  isp_read_signature();
  current_part = find_part_by_signature();
}

namespace {

// Reset, enable, signature, part and fuse check, all before anything is judged.
struct Probe {
  uint8_t answer;
  uint8_t fuses;
};

Probe probe_target() {
  enter_programming_mode();
  Probe p{};
  p.answer = isp_programming_enable();
  isp_read_signature();
  current_part = find_part_by_signature();
  p.fuses = check_default_fuses();
  return p;
}

}  // namespace

uint8_t check_default_fuses() {
  clock_mhz = DEFAULT_CLOCK_MHZ;
  isp_read_fuses();
  uint8_t result = FUSES_DEFAULT;
  if (const AvrPart* part = identified_part()) {
    const int first = first_compared_fuse(current_part);
    const int count = std::min(part->fuse_count, 3 - first);  // fuse_bytes holds three
    for (int i = first; i < first + count; ++i)
      if (part->default_fuses[i] != fuse_bytes[i]) result = FUSES_DIFFER;
  }
  clock_mhz = clock_from_low_fuse(fuse_bytes[2]);
  return result;
}

void check_target() {
  Probe p = probe_target();
  if (p.answer != ENABLE_ECHO) {
    std::printf("Target not responding to Enable Serial Programming command\n");
    note_no_target();
    return;
  }
  const AvrPart* part = identified_part();
  if (!part) {
    report_failure(Stream::out, "Target Processor Unrecognized but responding ");  // a chip this programmer can't serve
  } else
    std::printf("Target %s responding ", part->name);
  if (p.fuses == FUSES_DEFAULT) {
    std::printf("- default fuses set\n");
  } else if (clock_mhz > 1) {
    std::printf("- default fuses set - %dMHz clock\n", clock_mhz);
  } else {
    std::printf("- default fuses not set\n");
    // Only a recognised part can differ from its defaults.
    std::printf("   Default fuses: %x %x %x    Target fuses: %x %x %x\n", part->default_fuses[0],
                part->default_fuses[1], part->default_fuses[2], fuse_bytes[0], fuse_bytes[1],
                fuse_bytes[2]);
  }
}

// Only position X1 is checked: the cable reaches one target whatever the position.
void check_board() {
  release_target();
  std::printf("\nChecking for Varn processor:\n");
  const int position = 1;
  Probe p = probe_target();
  std::printf(" Processor X%d is ", position);
  const AvrPart* part = identified_part();
  if (p.answer == ENABLE_ECHO && part) {
    if (clock_mhz > 1)
      std::printf(" %s - default fuses set - %dMHz clock\n", part->name, clock_mhz);
    else
      std::printf(" %s - OK\n", part->name);
  } else {
    std::printf("not responding - either faulty or not installed\n");
  }
}

int print_target_statistics() {
  isp_read_signature();
  int part = find_part_by_signature();
  uint8_t lock = isp_read_lock();
  isp_read_fuses();
  uint8_t calibration = isp_read_calibration();
  if (part < 0)
    std::printf("Processor: Unrecognized signature\n");
  else
    std::printf("Processor: %s\n", part_table[part].name);
  std::printf(" Lock byte = %x", lock);
  if (lock == 0xFF)
    std::printf("    No locks bits activated\n");
  else
    std::printf("\n");
  std::printf(" Signature = %x %x %x\n", target_signature[0], target_signature[1], target_signature[2]);
  std::printf(" Fuse bytes = %x %x %x\n", fuse_bytes[0], fuse_bytes[1], fuse_bytes[2]);
  std::printf(" Calibration byte =  %x\n", calibration);
  return part;
}
