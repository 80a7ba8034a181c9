// Windows side of file replacement: a new file created exclusively beside the
// target, then MoveFileEx over it. (rename() refuses an existing target on Windows;
// MoveFileEx replaces it in one step on the same volume.) The file is written in
// text mode, so a HEX file gets the Windows line ends its other tools expect. A name
// that opens as no disk file (NUL, CON, a named pipe) is written in place.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "file_replace.h"
#include "interrupt.h"

namespace {

// An existing name that opens as a device or a pipe: true and `r.file` open on it.
bool opened_in_place(ReplacementFile& r, const char* path) {
  const int fd = _open(path, _O_WRONLY | _O_TEXT);
  if (fd < 0) return false;
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK) {
    _close(fd);
    return false;
  }
  r.file = _fdopen(fd, "w");
  if (r.file == nullptr) {
    _close(fd);
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
  if (r.path.empty()) return false;
  if (opened_in_place(r, path)) return true;
  const std::string stem = r.path + ".new-" + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem + std::to_string(attempt);
    int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    r.file = _fdopen(fd, "w");
    if (r.file == nullptr) {
      _close(fd);
      DeleteFileA(name.c_str());
      return false;
    }
    r.temp_path = name;
    // A stop by Ctrl-C before the rename takes the temporary file with it.
    remove_on_interrupt(r.temp_path.c_str());
    return true;
  }
  return false;
}

bool replacement_commit(ReplacementFile& r) {
  if (r.file == nullptr) return false;
  bool ok = std::fflush(r.file) == 0 && std::ferror(r.file) == 0;
  if (r.in_place) {
    ok = std::fclose(r.file) == 0 && ok;
    r.file = nullptr;
    return ok;
  }
  ok = _commit(_fileno(r.file)) == 0 && ok;
  ok = std::fclose(r.file) == 0 && ok;
  r.file = nullptr;
  if (ok) ok = MoveFileExA(r.temp_path.c_str(), r.path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) DeleteFileA(r.temp_path.c_str());
  forget_on_interrupt();
  return ok;
}

void replacement_abandon(ReplacementFile& r) {
  if (r.file != nullptr) std::fclose(r.file);
  r.file = nullptr;
  if (r.in_place) return;
  if (!r.temp_path.empty()) DeleteFileA(r.temp_path.c_str());
  forget_on_interrupt();
}
