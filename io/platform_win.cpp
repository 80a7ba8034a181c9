// Operating-system services of the port library on Windows.
#include <windows.h>

#include <cstdio>

#include "platform.h"

namespace io {

// Base name of the program's file without its extension: "pavolt" for
// C:\tools\pavolt.exe.
std::string program_name() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  std::string name(path, n);
  size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

double monotonic_microseconds() {
  static const double ticks_per_us = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1e6;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticks_per_us;
}

// std::rename refuses to replace an existing file on Windows; MoveFileEx replaces
// it in one step on the same volume (the temporary always sits beside its target).
bool rename_over(const std::string& from, const std::string& to, std::string& message) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DWORD code = GetLastError();
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
    reason.pop_back();
  if (reason.empty()) reason = "error " + std::to_string(code);
  message = "can't replace " + to + ": " + reason;
  DeleteFileA(from.c_str());
  return false;
}

std::string temporary_name(const std::string& path) {
  return path + ".tmp" + std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
}

bool running_set_id() { return false; }  // Windows has no set-id programs

}  // namespace io
