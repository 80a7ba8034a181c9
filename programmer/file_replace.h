// A file written in full under a temporary name in the folder of its target and then
// renamed over it, so a failed or interrupted write never destroys the old file.
#pragma once
#include <cstdio>
#include <string>

struct ReplacementFile {
  std::FILE* file = nullptr;  // open for writing while the replacement is in progress
  std::string temp_path;
  std::string path;
};

// Creates the temporary file beside `path`: true and `r.file` open, or false.
bool replacement_open(ReplacementFile& r, const char* path);
// Flushes, closes and renames the temporary file over `path`. On any failure the
// temporary file is removed, `path` is left as it was, and the result is false.
bool replacement_commit(ReplacementFile& r);
// Closes and removes the temporary file; `path` is untouched.
void replacement_abandon(ReplacementFile& r);
