// links: programmer_core common
// A full 64 KiB flash download with verification into the simulated ATmega644 at
// real timing, as measured time over the sum of the waits the download prescribes
// (every delay_us of identification, erase, page loads and writes, ready polls,
// read-back and release). The waits are the limit: every microsecond beyond them is
// the port calls, the clock's reads and the program's own work. Target: processor
// time at most 1.05 times the waits. What the machine itself takes from a busy core
// (interrupts; on a virtual machine, its host) is measured before and after the run
// and printed beside the ratio, as part of the ratio that no program can win back.
//
// The download is a busy loop, so the ratio is given in processor time: it stays
// meaningful on a loaded machine, where the wall-clock figure also counts the time
// other programs held the processor (and waits, which end on the wall clock, then
// cost less processor time than they last).
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "delay.h"
#include "delay_hooks.h"
#include "flows.h"
#include "link.h"
#include "parts.h"
#include "port.h"
#include "settings.h"
#include "target.h"

namespace {

double processor_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string hex_file(int size) {
  std::string text;
  std::mt19937 random(2);
  char line[64];
  for (int address = 0; address < size; address += 16) {
    if (address % 0x10000 == 0 && address != 0) {
      const unsigned segment = static_cast<unsigned>(address >> 16);
      std::snprintf(line, sizeof line, ":02000004%04X%02X\n", segment, (0x100 - ((6 + segment) & 0xFF)) & 0xFF);
      text += line;
    }
    unsigned sum = 0x10 + ((address >> 8) & 0xFF) + (address & 0xFF);
    int n = std::snprintf(line, sizeof line, ":10%04X00", address & 0xFFFF);
    for (int k = 0; k < 16; ++k) {
      const unsigned b = static_cast<unsigned>(random() % 0xFF);
      n += std::snprintf(line + n, sizeof line - n, "%02X", b);
      sum += b;
    }
    std::snprintf(line + n, sizeof line - n, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  }
  return text + ":00000001FF\n";
}

// The share of a busy core that the machine takes from any program: a loop that does
// nothing but read the clock, timed for `seconds`, counts every step between two reads
// longer than 200 ns, some eight reads (an interrupt, or a virtual machine's processor
// held by its host). No download can run below 1 plus this share of its waits.
double machine_share(double seconds) {
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  const auto end = start + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
  clock::duration taken{};
  for (auto last = start, now = start; now < end; last = now) {
    now = clock::now();
    if (now - last > std::chrono::nanoseconds(200)) taken += now - last;
  }
  return std::chrono::duration<double>(taken).count() / seconds;
}

}  // namespace

int main() {
  char folder[] = "/tmp/bench-download-XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) return 1;
  const std::string text = hex_file(65536);
  std::FILE* out = std::fopen("full.hex", "w");
  if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size()) return 1;
  std::fclose(out);

  setenv("LPT1", "sim:part=ATmega644,report=report.txt", 1);
  if (bind_port_library() != 0) {
    std::printf("can't bind the port library\n");
    return 1;
  }
  init_part_table();
  reset_settings();
  settings.hex_extended_record_type = 4;
  raise_reset_line();
  target_released = 1;
  calibrate_delay();  // no gcal.txt in the fresh folder: a real measurement

  const double taken_before = machine_share(2);

  // The programmer's progress lines go to /dev/null; the result to the real output.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);

  const uint64_t asked_before = asked_ns;
  const auto start = std::chrono::steady_clock::now();
  const double processor_start = processor_seconds();
  identify_target();
  download_flash("full.hex");
  release_target();
  std::fflush(stdout);
  const double processor_s = processor_seconds() - processor_start;
  const double measured_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double waits_s = static_cast<double>(asked_ns - asked_before) / 1e9;

  dup2(saved, 1);
  close(null);
  close(saved);
  release_port_library();
  const double taken_after = machine_share(2);

  std::printf("\nfull-flash df with verification, ATmega644, 64 KiB: %s\n",
              run_failed ? "FAILED (see report.txt)" : "verified");
  std::printf("prescribed waits %.3f s\n", waits_s);
  std::printf("processor time %.3f s, ratio %.3f (target at most 1.05)\n", processor_s, processor_s / waits_s);
  std::printf("wall clock     %.3f s, ratio %.3f (includes time other programs ran)\n", measured_s,
              measured_s / waits_s);
  std::printf("the machine took %.1f %% and %.1f %% of a busy core in 2 s before and after the run\n",
              100 * taken_before, 100 * taken_after);
  std::printf("loops_per_us %d, fresh\n", static_cast<int>(loops_per_us));
  for (const char* name : {"full.hex", "gcal.txt", "report.txt"}) std::remove(name);
  if (chdir("/") == 0) rmdir(folder);
  return run_failed ? 1 : 0;
}
