// Runs a built program on Windows (or under wine): the same contract as the POSIX
// runner, with CreateProcess, anonymous pipes and one thread per pipe.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "run_program.h"

namespace {

// Files and standard output of a Windows program are in text mode: every "\n" became "\r\n".
// Dropping the "\r" before each "\n" undoes exactly that and keeps every "\r" the
// program wrote itself.
std::string undo_text_mode(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
  return plain;
}

}  // namespace

TempDir::TempDir() {
  std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random(seed() ^ static_cast<uint64_t>(GetCurrentProcessId()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate = base / ("varn-test-" + std::to_string(random() % 1000000000));
    if (CreateDirectoryA(candidate.string().c_str(), nullptr)) {
      path_ = candidate.generic_string();
      return;
    }
  }
  throw std::runtime_error("can't create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& text) const {
  std::ofstream out(file(name), std::ios::binary);
  out << text;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return undo_text_mode(text.str());
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

// The programs are .exe files and the port library is io.dll; tests name them as
// on Linux.
std::string built(const std::string& name) {
  std::string file = name == "libio.so" ? "io.dll" : name;
  if (file.find('.') == std::string::npos) file += ".exe";
  return std::string(VARN_BUILD_DIR) + "/" + file;
}

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string quote_argument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

std::string environment_block(const RunOptions& options) {
  std::string block;
  char* all = GetEnvironmentStringsA();
  for (const char* e = all; *e; e += std::strlen(e) + 1) {
    std::string entry = e;
    bool replaced = entry.rfind("LPT1=", 0) == 0;
    for (const auto& [key, value] : options.env)
      if (entry.rfind(key + "=", 0) == 0) replaced = true;
    if (!replaced) block += entry + '\0';
  }
  FreeEnvironmentStringsA(all);
  for (const auto& [key, value] : options.env) block += key + "=" + value + '\0';
  return block + '\0';
}

struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
};

// The child's end is inherited; ours is not.
Pipe make_pipe(bool child_reads) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Pipe p;
  if (!CreatePipe(&p.read, &p.write, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(child_reads ? p.write : p.read, HANDLE_FLAG_INHERIT, 0);
  return p;
}

// Reads `from` to its end into `into`, holding `lock` while the text grows.
void drain(HANDLE from, std::string& into, std::mutex& lock) {
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    std::lock_guard<std::mutex> hold(lock);
    into.append(buffer, got);
  }
}

}  // namespace

RunResult run_program(const std::string& program, const RunOptions& options, const TempDir& dir) {
  if (options.gcal) dir.write("gcal.txt", *options.gcal);
  std::string path = program.find_first_of("/\\") == std::string::npos ? built(program) : program;
  std::string command = quote_argument(path);
  for (const auto& arg : options.args) {
    command += ' ';
    command += quote_argument(arg);
  }
  std::string env = environment_block(options);

  Pipe in = make_pipe(true), out = make_pipe(false), err = make_pipe(false);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.read;
  startup.hStdOutput = out.write;
  startup.hStdError = err.write;
  PROCESS_INFORMATION child{};
  std::string native_dir = std::filesystem::path(dir.path()).make_preferred().string();
  if (!CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, TRUE, 0, env.data(), native_dir.c_str(),
                      &startup, &child))
    throw std::runtime_error("can't start " + path);
  CloseHandle(in.read);
  CloseHandle(out.write);
  CloseHandle(err.write);

  RunResult result;
  std::atomic<bool> stop_input{false};
  std::mutex out_lock, err_lock;  // the writer looks into the output while it is read
  std::thread out_reader(drain, out.read, std::ref(result.out), std::ref(out_lock));
  std::thread err_reader(drain, err.read, std::ref(result.err), std::ref(err_lock));
  // The writer ends the input after the last piece (when asked to), or when the
  // child has gone: a write to a pipe whose reader has ended fails at once.
  std::thread writer([&] {
    std::vector<InputChunk> pieces{{0, options.input, ""}};
    pieces.insert(pieces.end(), options.chunks.begin(), options.chunks.end());
    for (const InputChunk& piece : pieces) {
      auto shown = [&] {
        std::lock_guard<std::mutex> hold(out_lock);
        return result.out.find(piece.after_output) != std::string::npos;
      };
      if (!piece.after_output.empty())
        while (!stop_input && !shown()) Sleep(5);
      for (int waited = 0; waited < piece.delay_ms && !stop_input; waited += 5) Sleep(5);
      if (stop_input) break;
      DWORD sent = 0;
      if (!piece.bytes.empty() &&
          !WriteFile(in.write, piece.bytes.data(), static_cast<DWORD>(piece.bytes.size()), &sent, nullptr))
        break;
    }
    if (options.close_input) {
      CloseHandle(in.write);
      in.write = nullptr;
    }
  });

  DWORD budget = static_cast<DWORD>(options.timeout_s * 1000);
  if (WaitForSingleObject(child.hProcess, budget) == WAIT_TIMEOUT) {
    result.timed_out = true;
    TerminateProcess(child.hProcess, 137);
    WaitForSingleObject(child.hProcess, INFINITE);
  }
  stop_input = true;
  writer.join();
  if (in.write) CloseHandle(in.write);
  out_reader.join();
  err_reader.join();
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  result.status = static_cast<int>(code);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  CloseHandle(out.read);
  CloseHandle(err.read);
  result.out = undo_text_mode(result.out);
  result.err = undo_text_mode(result.err);
  return result;
}

std::optional<std::string> report_value(const std::string& report, const std::string& key) {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return std::nullopt;
}
