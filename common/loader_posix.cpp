// The dynamic loader on Linux and other POSIX systems.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <initializer_list>
#include <utility>

#include "loader.h"

namespace {

std::string loader_error;  // the first failure of a load that fell back

// Folder of the running program, from the kernel's link to it.
std::string program_folder() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string folder(path, static_cast<size_t>(n));
  return folder.substr(0, folder.rfind('/'));
}

}  // namespace

std::string library_file_name(const char* name) { return std::string("lib") + name + ".so"; }

// A bare file name makes dlopen search the program's run path ($ORIGIN in the build
// tree, $ORIGIN/../lib/varn-tools after install) before the system's folders. Where
// a wrapper around dlopen (a sanitizer's) hides the program's run path, the same two
// folders are tried by hand.
void* load_library(const std::string& file) {
  if (void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
  std::string error = last_loader_error();
  if (file.find('/') == std::string::npos) {
    std::string folder = program_folder();
    for (const char* place : {"/", "/../" VARN_LIBRARY_DIR "/"}) {
      if (void* handle = dlopen((folder + place + file).c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    }
  }
  loader_error = error;
  return nullptr;
}

void* find_symbol(void* handle, const char* name) { return dlsym(handle, name); }

void unload_library(void* handle) { dlclose(handle); }

std::string last_loader_error() {
  if (!loader_error.empty()) return std::exchange(loader_error, std::string());
  const char* text = dlerror();
  return text ? text : "unknown error";
}
