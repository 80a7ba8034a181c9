// The dynamic loader on Windows.
#include <windows.h>

#include <initializer_list>

#include "loader.h"

namespace {

// The running program's folder, with its closing backslash; empty when Windows can't say.
std::string program_folder() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  std::string folder(path, n);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// The folder of the system's own DLLs (System32), likewise.
std::string system_folder() {
  char path[MAX_PATH];
  UINT n = GetSystemDirectoryA(path, sizeof path);
  return n == 0 || n >= sizeof path ? std::string() : std::string(path, n) + "\\";
}

}  // namespace

// The bare name: LoadLibraryEx adds ".dll".
std::string library_file_name(const char* name) { return name; }

// The library is looked for in the program's own folder, then in the system folder,
// and nowhere else: not in the working folder, which holds the user's HEX and
// command files, where a stray or planted io.dll would otherwise run with the
// program's rights whenever none sits beside the programs, and not along PATH. So the
// io.dll beside the programs drives the port, whichever of the two libraries the user
// placed there; a port driver's io.dll installed into System32 serves otherwise.
void* load_library(const std::string& file) {
  // No "can't find the DLL" dialog box: the first port call reports the failure.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module =
      LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A Windows 7 or older without its loader update knows neither flag: the same two
  // folders, by full path.
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    for (const std::string& folder : {program_folder(), system_folder()}) {
      if (folder.empty()) continue;
      module = LoadLibraryExA((folder + file + ".dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (module || GetLastError() != ERROR_MOD_NOT_FOUND) break;
    }
  }
  SetErrorMode(previous);
  return reinterpret_cast<void*>(module);
}

void* find_symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void unload_library(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

std::string last_loader_error() {
  DWORD code = GetLastError();
  char* text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message;
  if (length && text) {
    message.assign(text, length);
    // The system's texts end in ".\r\n": one line, without its line end.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
      message.pop_back();
  }
  if (text) LocalFree(text);
  if (message.empty()) message = "error " + std::to_string(code);
  return message;
}
