// POSIX side of file replacement. The name is written as what it is:
//  - a regular file (through any symbolic links) is replaced in one step: a new file
//    made with mkstemp in the folder of the file the links lead to, given the old
//    file's owner, group and mode, then rename(2)d over it; the links stay as they are;
//  - a regular file with more than one hard link would lose the others to a rename:
//    the new text is written in full under the temporary name as well, and then
//    copied into the file itself, which keeps its inode and so every link, owner and
//    mode; should that copy fail, the temporary file is kept and named;
//  - a file this process may not write is refused (EACCES), as the shell's > refuses
//    it, even where the folder would let a rename replace it;
//  - anything else (a FIFO, a terminal, /dev/null, the program's own standard output
//    or error, a file reached only through /proc) is written in place: there is no
//    old file to keep there, and a rename would put a regular file in its place.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "file_replace.h"
#include "interrupt.h"

namespace {

constexpr int MAX_LINK_HOPS = 40;  // the kernel's own limit for one name

// mkstemp makes the file 0600; an ordinary new file gets 0666 less the umask.
void give_usual_mode(int fd) {
  const mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(fd, static_cast<mode_t>(0666 & ~mask));
}

// The old file's owner where this process may give it (root, or a group of its own),
// then its mode: after the owner, since a change of owner clears set-id bits. A file
// that stays this process's own keeps no set-id bit meant for another owner.
void give_old_owner_and_mode(int fd, const struct stat& old) {
  const bool owner_kept = fchown(fd, old.st_uid, old.st_gid) == 0;
  if (!owner_kept && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
    // Not a group of this user's either: the new file keeps the folder's.
  }
  (void)fchmod(fd, old.st_mode & (owner_kept ? 07777 : 0777));
}

// Copies the finished temporary file into the file at `path`, in place.
bool copy_into(const std::string& from, const std::string& path) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = in < 0 ? -1 : open(path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
  bool ok = in >= 0 && out >= 0;
  char buffer[1 << 16];
  for (ssize_t n; ok && (n = read(in, buffer, sizeof buffer)) != 0;) {
    ok = n > 0 || errno == EINTR;
    for (ssize_t done = 0; ok && n > 0 && done < n;) {
      const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      ok = w > 0 || (w < 0 && errno == EINTR);
      if (w > 0) done += w;
    }
  }
  const int error = errno;
  if (out >= 0) ok = fsync(out) == 0 && close(out) == 0 && ok;
  if (in >= 0) close(in);
  errno = error;
  return ok;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name `path` comes to after its symbolic links, read hop by hop, each relative
// link taken from the folder of the link that holds it. False (errno ELOOP) for a
// chain that doesn't end.
bool follow_links(std::string& path) {
  for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return true;
    char text[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), text, sizeof text);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof text) {
      if (n >= 0) errno = ENAMETOOLONG;
      return false;
    }
    std::string target(text, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (target[0] != '/' && slash != std::string::npos) target = path.substr(0, slash + 1) + target;
    path = target;
  }
  errno = ELOOP;
  return false;
}

// Standard output or error when `file` is one of them, else null. Written through that
// stream, the upload comes in order with what the program prints, never over it.
std::FILE* standard_stream(const struct stat& file) {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && same_file(st, file)) return fd == STDOUT_FILENO ? stdout : stderr;
  }
  return nullptr;
}

bool borrowed(const std::FILE* file) { return file == stdout || file == stderr; }

bool open_in_place(ReplacementFile& r, int fd) {
  if (fd < 0) return false;
  r.file = fdopen(fd, "w");
  if (r.file == nullptr) {
    close(fd);
    return false;
  }
  r.in_place = true;
  return true;
}

}  // namespace

bool replacement_open(ReplacementFile& r, const char* path) {
  r.path = path;
  r.temp_path.clear();
  r.file = nullptr;
  r.in_place = false;
  r.copy_back = false;
  if (r.path.empty()) {
    errno = ENOENT;
    return false;
  }
  struct stat old {};
  const bool exists = stat(path, &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (exists) {
    if ((r.file = standard_stream(old)) != nullptr) {
      r.in_place = true;
      return true;
    }
    if (!S_ISREG(old.st_mode)) return open_in_place(r, open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC));
  }
  if (!follow_links(r.path)) return false;
  struct stat target {};
  if (exists && (lstat(r.path.c_str(), &target) != 0 || !same_file(target, old))) {
    // A name the links don't spell out (a /proc link to a deleted file): no folder to
    // put the new file in, so the file is rewritten where it is.
    r.path = path;
    return open_in_place(r, open(path, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
  }
  if (exists && faccessat(AT_FDCWD, r.path.c_str(), W_OK, AT_EACCESS) != 0) return false;
  r.copy_back = exists && old.st_nlink > 1;
  std::string pattern = r.path + ".new-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  if (exists)
    give_old_owner_and_mode(fd, old);
  else
    give_usual_mode(fd);
  r.file = fdopen(fd, "w");
  if (r.file == nullptr) {
    close(fd);
    unlink(name.data());
    return false;
  }
  r.temp_path = name.data();
  // A stop by Ctrl-C before the rename takes the temporary file with it.
  remove_on_interrupt(r.temp_path.c_str());
  return true;
}

bool replacement_commit(ReplacementFile& r) {
  if (r.file == nullptr) return false;
  bool ok = std::fflush(r.file) == 0 && std::ferror(r.file) == 0;
  if (r.in_place) {
    if (!borrowed(r.file)) ok = std::fclose(r.file) == 0 && ok;
    r.file = nullptr;
    return ok;
  }
  ok = fsync(fileno(r.file)) == 0 && ok;
  ok = std::fclose(r.file) == 0 && ok;
  r.file = nullptr;
  forget_on_interrupt();  // from here the temporary file holds the whole new text
  if (ok && r.copy_back) {
    if (copy_into(r.temp_path, r.path)) {
      unlink(r.temp_path.c_str());
      return true;
    }
    const int error = errno;
    std::fflush(stdout);
    std::fprintf(stderr, "%s: the new text is kept in %s\n", r.path.c_str(), r.temp_path.c_str());
    errno = error;
    return false;
  }
  if (ok) ok = std::rename(r.temp_path.c_str(), r.path.c_str()) == 0;
  if (!ok) unlink(r.temp_path.c_str());
  return ok;
}

void replacement_abandon(ReplacementFile& r) {
  if (r.file != nullptr && !borrowed(r.file)) std::fclose(r.file);
  r.file = nullptr;
  if (r.in_place) return;
  if (!r.temp_path.empty()) unlink(r.temp_path.c_str());
  forget_on_interrupt();
}
