#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "varn-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& text) const {
  std::ofstream out(file(name), std::ios::binary);
  out << text;
}

namespace {

// With VARN_WINE_PROGRAMS naming a Windows build folder, the suites run the .exe
// programs of that folder under wine instead of the Linux ones: one set of
// end-to-end suites for both builds.
const char* wine_programs() {
  const char* folder = std::getenv("VARN_WINE_PROGRAMS");
  return folder && *folder ? folder : nullptr;
}

// A Windows program writes its text in text mode: every "\n" becomes "\r\n".
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

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return wine_programs() ? undo_text_mode(text.str()) : text.str();
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string built(const std::string& name) {
  if (const char* folder = wine_programs()) {
    std::string file = name == "libio.so" ? "io.dll" : name;
    if (file.find('.') == std::string::npos) file += ".exe";
    return std::string(folder) + "/" + file;
  }
  return std::string(VARN_BUILD_DIR) + "/" + name;
}

namespace {

std::vector<std::string> child_environment(const RunOptions& options) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    // The port, and the user that a test suite run through sudo would hand the
    // programs their files to, are each case's own.
    bool replaced = entry.rfind("LPT1=", 0) == 0 || entry.rfind("SUDO_UID=", 0) == 0 ||
                    entry.rfind("SUDO_GID=", 0) == 0;
    for (const auto& [key, value] : options.env)
      if (entry.rfind(key + "=", 0) == 0) replaced = true;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [key, value] : options.env) env.push_back(key + "=" + value);
  return env;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

RunResult run_program(const std::string& program, const RunOptions& options, const TempDir& dir) {
  if (options.gcal) dir.write("gcal.txt", *options.gcal);
  std::string path = program.find('/') == std::string::npos ? built(program) : program;

  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) throw std::runtime_error("pipe failed");
  std::vector<std::string> env = child_environment(options);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args{path};
  if (wine_programs()) args.insert(args.begin(), "wine");
  args.insert(args.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  signal(SIGPIPE, SIG_IGN);
  fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);

  RunResult result;
  std::vector<InputChunk> pending;
  pending.push_back({0, options.input, ""});
  pending.insert(pending.end(), options.chunks.begin(), options.chunks.end());
  size_t chunk = 0, sent = 0;
  int in_fd = in_pipe[1];
  auto start = std::chrono::steady_clock::now();
  auto chunk_due = start;
  bool text_seen = false;  // the awaited text of the next chunk has appeared, at seen_at
  auto seen_at = start;
  bool out_open = true, err_open = true;
  std::optional<std::chrono::steady_clock::time_point> signal_due;
  while (out_open || err_open) {
    if (options.signal_number != 0 && !result.signalled) {
      if (!signal_due && (options.signal_when.empty() ||
                          result.out.find(options.signal_when) != std::string::npos ||
                          result.err.find(options.signal_when) != std::string::npos))
        signal_due = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.signal_after_ms);
      if (signal_due && std::chrono::steady_clock::now() >= *signal_due) {
        kill(pid, options.signal_number);
        result.signalled = true;
      }
    }
    if (seconds_since(start) > options.timeout_s) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    auto now = std::chrono::steady_clock::now();
    bool want_write = false;
    if (in_fd >= 0 && chunk < pending.size()) {
      const InputChunk& next = pending[chunk];
      if (sent == 0 && !next.after_output.empty()) {
        // The pause runs from the moment the awaited text has appeared.
        if (!text_seen && result.out.find(next.after_output) != std::string::npos) {
          text_seen = true;
          seen_at = now;
        }
        want_write = text_seen && now >= seen_at + std::chrono::milliseconds(next.delay_ms);
      } else {
        want_write = !(sent == 0 && chunk > 0 && now < chunk_due + std::chrono::milliseconds(next.delay_ms));
      }
    } else if (in_fd >= 0 && options.close_input) {
      close(in_fd);
      in_fd = -1;
    }
    pollfd fds[3] = {{out_open ? out_pipe[0] : -1, POLLIN, 0},
                     {err_open ? err_pipe[0] : -1, POLLIN, 0},
                     {want_write ? in_fd : -1, POLLOUT, 0}};
    poll(fds, 3, 10);
    char buffer[65536];
    if (fds[0].revents) {
      ssize_t n = read(out_pipe[0], buffer, sizeof buffer);
      if (n > 0) result.out.append(buffer, size_t(n)); else out_open = false;
    }
    if (fds[1].revents) {
      ssize_t n = read(err_pipe[0], buffer, sizeof buffer);
      if (n > 0) result.err.append(buffer, size_t(n)); else err_open = false;
    }
    if (want_write && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const std::string& bytes = pending[chunk].bytes;
      ssize_t n = bytes.size() > sent ? write(in_fd, bytes.data() + sent, bytes.size() - sent) : 0;
      if (n < 0 && errno != EAGAIN) {
        close(in_fd);
        in_fd = -1;
      } else if (n > 0) {
        sent += size_t(n);
      }
      if (in_fd >= 0 && sent >= bytes.size()) {
        ++chunk;
        sent = 0;
        chunk_due = std::chrono::steady_clock::now();
        text_seen = false;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  if (wine_programs()) {
    result.out = undo_text_mode(result.out);
    result.err = undo_text_mode(result.err);
  }
  return result;
}

std::optional<std::string> report_value(const std::string& report, const std::string& key) {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return std::nullopt;
}
