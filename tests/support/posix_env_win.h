// setenv and unsetenv for the tests of the Windows build, over the C runtime's
// _putenv_s: the environment getenv reads, the one the port library consults.
#pragma once
#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name)) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
