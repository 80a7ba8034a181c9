// The ISP clock of a verified download: the standard timing, a rate the user gives,
// or one chosen per target (automatic, the default).
#pragma once
#include <cstdint>

struct AvrPart;

enum class ClockMode : uint8_t { STANDARD, GIVEN, AUTOMATIC };

struct ClockSetting {
  ClockMode mode;
  int64_t given_phase_ns;  // GIVEN: each SCK phase, from the rate in kHz
};
// Set by the sc word; it holds for the rest of the run.
extern ClockSetting clock_setting;

// The sc word: "a" automatic, "s" the standard timing, or an SCK rate in kHz. Prints
// the setting on standard output; a refused argument fails the run and changes nothing.
void clock_command(const char* arg);

// Called with the target identified, in programming mode and ready, before a
// download's programming: sets the waits for the identified `part` by the setting.
// Everything it reads to decide is read at the standard timing first; a probe that
// reads wrong leaves the chip re-entered into programming mode at that timing. True
// when the clock is now shorter than the standard timing.
bool shorten_isp_clock(const AvrPart& part);
// The standard timing again; true when the clock was shorter.
bool restore_standard_clock();
bool isp_clock_shortened();
