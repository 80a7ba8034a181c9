// The ISP clock of a verified download, chosen per target.
//
// The standard timing (link.h) suits a chip at 1 MHz. A faster chip takes a faster
// SCK: the data sheets ask only that each SCK phase last more than 2 of the chip's
// clock cycles (3 from 12 MHz up). Where the low fuse names the clock (the internal RC
// oscillator, divided by 8 or not), the rule gives the phase directly; where it doesn't
// (a crystal or an external clock), a probe finds the fastest clock at which the chip
// reads right, and the download takes a margin below it. Only a download that is
// verified runs faster, so any mistake is caught: the flows repeat it at the standard
// timing. Everything else (identification, fuses, uploads) keeps the standard timing.
#include "isp_clock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "isp.h"
#include "link.h"
#include "part_facts.h"
#include "parts.h"
#include "port.h"
#include "settings.h"
#include "target.h"

ClockSetting clock_setting = {ClockMode::AUTOMATIC, 0};

namespace {

// The margin kept below the rule: a phase 1.5 times the rule's least covers an RC
// oscillator running 50 % fast. The factory calibration holds it within 10 % of its
// name over voltage and temperature, and in programming mode the chip is held in reset,
// where OSCCAL holds the factory value whatever the program writes there.
constexpr double RULE_MARGIN = 1.5;
// A probe's candidate phases fall by this factor from PROBE_FIRST_NS, and stop at
// PROBE_LAST_NS; the download takes PROBE_MARGIN times the fastest that read right.
constexpr double PROBE_STEP = 0.8;
constexpr double PROBE_FIRST_NS = 1600;
constexpr double PROBE_LAST_NS = 100;
constexpr double PROBE_MARGIN = 1.5;
// Each candidate reads the signature, fuses, lock and calibration bytes this many
// times over, all of which must agree with the reading at the standard timing.
constexpr int PROBE_ROUNDS = 4;
// An SCK rate of the sc word, kHz.
constexpr long GIVEN_KHZ_MIN = 1;
constexpr long GIVEN_KHZ_MAX = 10000;

bool shortened = false;

// The clock the low fuse names on the identified part, 0 where it names none.
double named_clock_mhz(const AvrPart& part, uint8_t low) {
  const avr::Part* facts = avr::find_part(part.signature[0], part.signature[1], part.signature[2]);
  return facts ? avr::named_clock_mhz(facts->clock_source, low) : 0;
}

// The shortest phase of the standard timing: SCK high in a send (it stays low for
// two waits).
int64_t standard_phase_ns() { return STANDARD_TIMING.send_high_ns; }

// Each SCK phase at least this long for a chip at `mhz`, by the data sheets' rule
// (more than 2 clock cycles, 3 from 12 MHz up) with RULE_MARGIN; the standard timing
// at most, which every chip from 1 MHz takes.
int64_t rule_phase_ns(double mhz) {
  const double cycles = mhz >= 12 ? 3 : 2;
  return std::min(static_cast<int64_t>(std::ceil(cycles * 1000 / mhz * RULE_MARGIN)), standard_phase_ns());
}

// What the probe compares: every byte the chip answers that no program changes.
struct Identity {
  uint8_t signature[3];
  uint8_t fuses[3];
  uint8_t lock;
  uint8_t calibration;
  bool operator==(const Identity&) const = default;
};

// Reads the identity at the clock in use; the reports' copies of the signature and
// fuses are left as they were.
Identity read_identity() {
  uint8_t signature[3], fuses[3];
  std::memcpy(signature, target_signature, sizeof signature);
  std::memcpy(fuses, fuse_bytes, sizeof fuses);
  Identity id{};
  isp_read_signature();
  isp_read_fuses();
  id.lock = isp_read_lock();
  id.calibration = isp_read_calibration();
  std::memcpy(id.signature, target_signature, sizeof id.signature);
  std::memcpy(id.fuses, fuse_bytes, sizeof id.fuses);
  std::memcpy(target_signature, signature, sizeof signature);
  std::memcpy(fuse_bytes, fuses, sizeof fuses);
  return id;
}

bool reads_right_at(int64_t phase_ns, const Identity& reference) {
  isp_timing = timing_for_phase(phase_ns);
  bool right = true;
  for (int round = 0; round < PROBE_ROUNDS && right; ++round) right = read_identity() == reference;
  isp_timing = STANDARD_TIMING;
  return right;
}

// Candidates from slow to fast; the first that reads wrong ends the probe, so the
// chip's limit is crossed once at most. A chip that read wrong may have lost count of
// the bits of an instruction: a RESET pulse and Programming Enable at the standard
// timing bring it back in step before anything else is sent. 0 when none read right.
int64_t fastest_right(const Identity& reference) {
  int64_t fastest = 0;
  for (double phase = PROBE_FIRST_NS; phase >= PROBE_LAST_NS; phase *= PROBE_STEP) {
    const auto candidate = static_cast<int64_t>(phase);
    if (!reads_right_at(candidate, reference)) {
      enter_programming_mode();
      isp_programming_enable();
      break;
    }
    fastest = candidate;
  }
  return fastest;
}

}  // namespace

bool shorten_isp_clock(const AvrPart& part) {
  restore_standard_clock();
  // A board that checks no timing lets the waits run on the loop figure alone: no
  // clock there means anything, and none is probed.
  if (clock_setting.mode == ClockMode::STANDARD || port_allows_short_waits()) return false;
  const Identity reference = read_identity();
  if (!std::equal(reference.signature, reference.signature + 3, part.signature)) return false;
  const double named_mhz = named_clock_mhz(part, reference.fuses[2]);
  const int64_t floor_ns = named_mhz > 0 ? rule_phase_ns(named_mhz) : 0;
  int64_t phase = 0;
  if (clock_setting.mode == ClockMode::GIVEN) {
    phase = std::max(clock_setting.given_phase_ns, floor_ns);
  } else if (named_mhz > 0) {
    phase = floor_ns;
  } else {
    const int64_t fastest = fastest_right(reference);
    if (fastest > 0) phase = static_cast<int64_t>(std::ceil(static_cast<double>(fastest) * PROBE_MARGIN));
  }
  if (phase <= 0 || (clock_setting.mode == ClockMode::AUTOMATIC && phase >= standard_phase_ns())) return false;
  isp_timing = timing_for_phase(phase);
  shortened = true;
  return true;
}

bool restore_standard_clock() {
  isp_timing = STANDARD_TIMING;
  const bool was = shortened;
  shortened = false;
  return was;
}

bool isp_clock_shortened() { return shortened; }

void clock_command(const char* arg) {
  std::string_view text(arg);
  if (text == "a" || text == "A") {
    clock_setting = {ClockMode::AUTOMATIC, 0};
    std::printf("ISP clock: automatic\n");
    return;
  }
  if (text == "s" || text == "S") {
    clock_setting = {ClockMode::STANDARD, 0};
    std::printf("ISP clock: standard\n");
    return;
  }
  char* end = nullptr;
  const long khz = std::strtol(arg, &end, 10);
  if (text.empty() || end == arg || *end != '\0' || text[0] < '0' || text[0] > '9' || khz < GIVEN_KHZ_MIN ||
      khz > GIVEN_KHZ_MAX) {
    report_failure(Stream::out,
                   "ISP clock not changed - '%s' is not a (automatic), s (standard) or an SCK rate in kHz, %ld to %ld\n",
                   arg, GIVEN_KHZ_MIN, GIVEN_KHZ_MAX);
    return;
  }
  // Each phase half the period, rounded up: never faster than asked.
  clock_setting = {ClockMode::GIVEN, (500000 + khz - 1) / khz};
  std::printf("ISP clock: %ld kHz\n", khz);
}
