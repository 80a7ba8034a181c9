// Value Change Dump writer for the simulated boards' pin traces.
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform.h"
#include "sim.h"

namespace io::sim {
namespace {

// VCD identifiers: one printable character per signal from '!' on.
std::string identifier(size_t signal) { return std::string(1, static_cast<char>('!' + signal)); }

}  // namespace

Trace::~Trace() {
  std::string ignored;
  close(ignored);
}

int Trace::add_signal(const std::string& name, int initial_level) {
  names_.push_back(name);
  levels_.push_back(initial_level ? 1 : 0);
  return static_cast<int>(names_.size() - 1);
}

bool Trace::start() {
  if (started_) return !failed_;
  started_ = true;
  temporary_ = temporary_name(path_);
  out_ = std::fopen(temporary_.c_str(), "w");
  if (!out_) {
    failed_ = true;
    return false;
  }
  std::fprintf(out_, "$version libio simulated board $end\n$timescale 1 us $end\n$scope module board $end\n");
  for (size_t i = 0; i < names_.size(); ++i)
    std::fprintf(out_, "$var wire 1 %s %s $end\n", identifier(i).c_str(), names_[i].c_str());
  std::fprintf(out_, "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n");
  for (size_t i = 0; i < names_.size(); ++i) std::fprintf(out_, "%d%s\n", levels_[i], identifier(i).c_str());
  std::fprintf(out_, "$end\n");
  return true;
}

void Trace::change(int signal, int level, double now_us) {
  if (closed_ || signal < 0 || static_cast<size_t>(signal) >= names_.size()) return;
  level = level ? 1 : 0;
  if (levels_[signal] == level) return;
  // The header's dump of initial levels must come before the first change lands.
  bool writing = start();
  levels_[signal] = level;
  if (!writing) return;
  uint64_t time = now_us <= 0 ? 0 : static_cast<uint64_t>(std::llround(now_us));
  if (time <= last_time_) time = last_time_ + 1;
  last_time_ = time;
  std::fprintf(out_, "#%llu\n%d%s\n", static_cast<unsigned long long>(time), level, identifier(signal).c_str());
}

bool Trace::close(std::string& message) {
  if (closed_) return true;
  closed_ = true;
  if (!start()) {
    message = "can't write trace " + path_ + ": " + std::strerror(errno);
    return false;
  }
  // A last time stamp marks the end of the session for viewers.
  std::fprintf(out_, "#%llu\n", static_cast<unsigned long long>(last_time_ + 1));
  bool written = std::fflush(out_) == 0 && !std::ferror(out_);
  written = std::fclose(out_) == 0 && written;
  out_ = nullptr;
  if (!written) {
    std::remove(temporary_.c_str());
    message = "can't write trace " + path_;
    return false;
  }
  return rename_over(temporary_, path_, message);
}

}  // namespace io::sim
