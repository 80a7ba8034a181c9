// The dynamic loader on Windows.
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>

#include "loader.h"

namespace {

std::string last_file;  // the library the last load looked for

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

// The processor a Windows library is built for (the machine field of its PE header),
// 0 when the file can't be read as one.
WORD machine_of(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  unsigned char dos[0x40] = {};
  if (!file.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
  uint32_t pe = dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 | static_cast<uint32_t>(dos[0x3F]) << 24;
  unsigned char header[6] = {};
  if (!file.seekg(pe) || !file.read(reinterpret_cast<char*>(header), sizeof header)) return 0;
  if (header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0) return 0;
  return static_cast<WORD>(header[4] | header[5] << 8);
}

std::string word_size(WORD machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_I386: return "32-bit";
    case IMAGE_FILE_MACHINE_AMD64: return "64-bit";
    default: return "other-processor";
  }
}

// Windows reports a library built for the other word size (a 64-bit io.dll beside the
// 32-bit programs, or the reverse) only as a bad executable format: the library the
// loader would have taken is read to say so plainly. Empty when that isn't the cause.
std::string word_size_mismatch() {
  constexpr WORD own = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
  for (const std::string& folder : {program_folder(), system_folder()}) {
    std::string path = folder + last_file + ".dll";
    WORD machine = machine_of(path);
    if (machine != 0 && machine != own)
      return path + " is a " + word_size(machine) + " library; this program is " + word_size(own) +
             " and needs a " + word_size(own) + " " + last_file + ".dll";
    if (machine != 0) break;
  }
  return {};
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
  last_file = file;
  // No "can't find the DLL" dialog box: the first port call reports the failure.
  UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module =
      LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A Windows 7 or older without its loader update knows neither flag: the same two
  // folders, by full path. The working folder is first taken out of the search for the
  // library's own dependencies, which would otherwise look there too.
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    SetDllDirectoryA("");
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
  if (code == ERROR_BAD_EXE_FORMAT) {
    std::string mismatch = word_size_mismatch();
    if (!mismatch.empty()) return mismatch;
  }
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
