// The dynamic loader on Windows.
#include <windows.h>

#include "loader.h"

// The bare name: LoadLibrary adds ".dll" and searches the program's own folder
// first, then the system folders, the working folder and PATH. So an io.dll beside
// the programs is the one that drives the port, whichever of the two libraries the
// user placed there.
std::string library_file_name(const char* name) { return name; }

void* load_library(const std::string& file) {
  // No "can't find the DLL" dialog box: the first port call reports the failure.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(file.c_str());
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
