// Runs a built program in a temporary directory, as a user would, and returns what
// it printed and its exit status.
//
// Windows programs (the Windows build's own tests, or the Linux suites run against
// the .exe files with VARN_WINE_PROGRAMS=<Windows build folder>) write text in text
// mode, "\r\n" for every "\n": their output and TempDir::read give it back with "\n",
// so one expectation holds for both builds.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// A piece of standard input, sent after waiting `delay_ms` since the previous one,
// or, with `after_output`, `delay_ms` after standard output first holds that text
// (a key for a loop that must have begun, however slow the machine).
struct InputChunk {
  int delay_ms = 0;
  std::string bytes;
  std::string after_output;
};

struct RunOptions {
  std::vector<std::string> args;
  std::string input;                  // sent at once, then input ends
  std::vector<InputChunk> chunks;     // sent after `input`, each after its pause
  bool close_input = true;            // end standard input after the last chunk
  std::vector<std::pair<std::string, std::string>> env;  // LPT1 and the like
  std::optional<std::string> gcal = std::string("1");    // "gcal.txt"; nullopt: none
  double timeout_s = 120;
  // A signal sent once to the program (0: none): `signal_after_ms` after standard
  // output or standard error first holds `signal_when` (or after the start when empty).
  int signal_number = 0;
  std::string signal_when;
  int signal_after_ms = 0;
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
  bool timed_out = false;
  bool signalled = false;  // the signal of RunOptions was sent
};

// Path of a built program or library ("varnprog", "pavolt", "libio.so"; on Windows
// varnprog.exe, pavolt.exe and io.dll).
std::string built(const std::string& name);

RunResult run_program(const std::string& program, const RunOptions& options, const TempDir& dir);

// Key=value lines of a report file.
std::optional<std::string> report_value(const std::string& report, const std::string& key);
