// The dynamic loader on Linux and other POSIX systems.
#include <dlfcn.h>

#include "loader.h"

std::string library_file_name(const char* name) { return std::string("lib") + name + ".so"; }

// A bare file name makes dlopen search the program's run path ($ORIGIN, then
// $ORIGIN/../lib after install) before the system's folders.
void* load_library(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* find_symbol(void* handle, const char* name) { return dlsym(handle, name); }

void unload_library(void* handle) { dlclose(handle); }

std::string last_loader_error() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}
