// POSIX side of file replacement: mkstemp in the target's folder, then rename(2),
// which replaces the old file in one step on the same file system.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "file_replace.h"

namespace {

// mkstemp makes the file 0600; an ordinary new file gets 0666 less the umask.
void give_usual_mode(int fd) {
  const mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(fd, static_cast<mode_t>(0666 & ~mask));
}

}  // namespace

bool replacement_open(ReplacementFile& r, const char* path) {
  r.path = path;
  r.temp_path.clear();
  r.file = nullptr;
  if (r.path.empty()) return false;
  std::string pattern = r.path + ".new-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  give_usual_mode(fd);
  r.file = fdopen(fd, "w");
  if (r.file == nullptr) {
    close(fd);
    unlink(name.data());
    return false;
  }
  r.temp_path = name.data();
  return true;
}

bool replacement_commit(ReplacementFile& r) {
  if (r.file == nullptr) return false;
  bool ok = std::fflush(r.file) == 0 && std::ferror(r.file) == 0;
  ok = fsync(fileno(r.file)) == 0 && ok;
  ok = std::fclose(r.file) == 0 && ok;
  r.file = nullptr;
  if (ok) ok = std::rename(r.temp_path.c_str(), r.path.c_str()) == 0;
  if (!ok) unlink(r.temp_path.c_str());
  return ok;
}

void replacement_abandon(ReplacementFile& r) {
  if (r.file != nullptr) std::fclose(r.file);
  r.file = nullptr;
  if (!r.temp_path.empty()) unlink(r.temp_path.c_str());
}
