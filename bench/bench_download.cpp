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
//
// Then the same download on the strict board at real timing, run by the real varnprog: the automatic ISP clock
// against the standard timing, in one run of this program so the ratios share the
// machine's load.
//   - default fuses (a 20 MHz crystal): automatic over standard at most 0.25 with a
//     port that costs nothing (access_ns=0), at most 0.50 with a port whose every
//     access takes 1 us (access_ns=1000);
//   - factory fuses (the internal RC at 1 MHz): between 0.95 and 1.05, no faster than
//     the chip allows and no slower than before, with no timing violation.
// Every run must leave the simulated chip's flash (its state file) equal to the file.
// Times are the program's processor time (the waits are busy) and the wall clock.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "clock.h"
#include "delay.h"
#include "delay_hooks.h"
#include "flows.h"
#include "isp_clock.h"
#include "link.h"
#include "parts.h"
#include "port.h"
#include "settings.h"
#include "target.h"

namespace {

constexpr int FLASH_BYTES = 65536;

std::string hex_text(const std::vector<uint8_t>& data) {
  std::string text;
  char line[64];
  for (size_t address = 0; address < data.size(); address += 16) {
    unsigned sum = 0x10 + static_cast<unsigned>(((address >> 8) & 0xFF) + (address & 0xFF));
    int n = std::snprintf(line, sizeof line, ":10%04X00", static_cast<unsigned>(address & 0xFFFF));
    for (size_t k = 0; k < 16; ++k) {
      n += std::snprintf(line + n, sizeof line - n, "%02X", data[address + k]);
      sum += data[address + k];
    }
    std::snprintf(line + n, sizeof line - n, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  }
  return text + ":00000001FF\n";
}

std::vector<uint8_t> random_flash() {
  std::vector<uint8_t> data(FLASH_BYTES);
  std::mt19937 random(2);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random() % 0xFF);
  return data;
}

double processor_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
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

// The first measure: one download in this process, its time over its waits.
int waits_section() {
  const std::string text = hex_text(random_flash());
  std::FILE* out = std::fopen("full.hex", "w");
  if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size()) return 1;
  std::fclose(out);

  clock_start();
  setenv("LPT1", "sim:part=ATmega644,report=report.txt", 1);
  if (bind_port_library() != 0) {
    std::printf("can't bind the port library\n");
    return 1;
  }
  init_part_table();
  reset_settings();
  clock_setting = {ClockMode::STANDARD, 0};  // the waits of the standard timing, as measured before
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
  return run_failed ? 1 : 0;
}

namespace {

// The flash the state file keeps: lines "flash ADDRESS HEX" for every 32 bytes that
// are not all FF.
std::vector<uint8_t> state_flash(const std::string& path) {
  std::vector<uint8_t> flash(FLASH_BYTES, 0xFF);
  std::ifstream in(path);
  std::string word, address, bytes;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    if (!(fields >> word >> address >> bytes) || word != "flash") continue;
    const size_t at = std::stoul(address, nullptr, 16);
    for (size_t i = 0; i + 1 < bytes.size() && at + i / 2 < flash.size(); i += 2)
      flash[at + i / 2] = static_cast<uint8_t>(std::stoul(bytes.substr(i, 2), nullptr, 16));
  }
  return flash;
}

std::string report_value(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "?";
}

std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

struct Outcome {
  double processor_s = 0;
  double wall_s = 0;
  bool verified = false;
  bool kept = false;
  std::string violations;
};

// One run of varnprog with the clock word `clock` on a fresh chip.
Outcome download(const std::string& program, const std::string& clock, const std::string& board,
                 const std::vector<uint8_t>& data) {
  std::remove("chip.txt");
  const std::string lpt1 = "sim:part=ATmega644,strict=1,state=chip.txt,report=report.txt," + board;
  std::fflush(stdout);  // the child's stdout must not carry this program's buffer
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    setenv("LPT1", lpt1.c_str(), 1);
    if (!std::freopen("out.txt", "w", stdout) || !std::freopen("err.txt", "w", stderr)) _exit(127);
    execl(program.c_str(), program.c_str(), ("-sc" + clock).c_str(), "-dffull.hex", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Outcome o;
  o.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  o.processor_s = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  std::ifstream out("out.txt");
  const std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
  o.verified = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
               text.find("Target Flash matches full.hex") != std::string::npos;
  o.kept = state_flash("chip.txt") == data;
  o.violations = report_value("report.txt", "timing_violations");
  return o;
}

}  // namespace

// The second: the automatic ISP clock against the standard timing.
int clock_section() {
  const std::string program = std::string(VARN_BUILD_DIR) + "/varnprog";
  const std::vector<uint8_t> data = random_flash();
  std::ofstream("full.hex") << hex_text(data);
  // A fresh calibration, by one run that only prints its help.
  if (std::system((program + " -h >/dev/null 2>&1").c_str()) == -1) return 1;

  struct Case {
    const char* label;
    std::string board;
    double low, high;  // the bounds of automatic over standard
  } cases[] = {
      {"default fuses (20 MHz crystal), access_ns=0   ", "access_ns=0", 0, 0.25},
      {"default fuses (20 MHz crystal), access_ns=1000", "access_ns=1000", 0, 0.50},
      {"factory fuses (1 MHz RC),       access_ns=0   ", "fuses=factory", 0.95, 1.05},
  };
  std::printf("64 KiB flash download with verification, ATmega644, strict simulated board\n");
  std::printf("load average before: %s\n", load_average().c_str());
  bool all_held = true;
  for (const Case& c : cases) {
    const Outcome standard = download(program, "s", c.board, data);
    const Outcome automatic = download(program, "a", c.board, data);
    const double ratio = automatic.processor_s / standard.processor_s;
    const bool held = ratio >= c.low && ratio <= c.high && standard.verified && automatic.verified &&
                      standard.kept && automatic.kept;
    all_held = all_held && held;
    std::printf("%s: standard %.2f s (wall %.2f), automatic %.2f s (wall %.2f), ratio %.3f (wall %.3f), "
                "bounds %.2f-%.2f: %s\n",
                c.label, standard.processor_s, standard.wall_s, automatic.processor_s, automatic.wall_s, ratio,
                automatic.wall_s / standard.wall_s, c.low, c.high, held ? "held" : "MISSED");
    std::printf("    verified %s/%s, state file equals the file %s/%s, timing violations %s/%s\n",
                standard.verified ? "yes" : "NO", automatic.verified ? "yes" : "NO", standard.kept ? "yes" : "NO",
                automatic.kept ? "yes" : "NO", standard.violations.c_str(), automatic.violations.c_str());
  }
  std::printf("load average after: %s\n", load_average().c_str());
  for (const char* name : {"full.hex", "gcal.txt", "report.txt", "chip.txt", "out.txt", "err.txt"}) std::remove(name);
  return all_held ? 0 : 1;
}

int main() {
  char folder[] = "/tmp/bench-download-XXXXXX";
  if (!mkdtemp(folder) || chdir(folder) != 0) return 1;
  const int waits = waits_section();
  const int clock = clock_section();
  if (chdir("/") == 0) rmdir(folder);
  return waits | clock;
}
