// A file written in full under a temporary name in the folder of its target and then
// renamed over it, so a failed or interrupted write never destroys the old file. The
// target is what the name is: a link is followed (the link stays), the old file's
// mode (and owner and group, where the system lets this process give them) carry over,
// a file of several hard links keeps them, a file the process may not write is refused,
// and a name that is no regular file (a device, a FIFO, standard output) is written in
// place.
#pragma once
#include <cstdio>
#include <string>

struct ReplacementFile {
  std::FILE* file = nullptr;  // open for writing while the replacement is in progress
  std::string temp_path;
  std::string path;       // the file that is replaced, after the links
  bool in_place = false;  // written straight to the name: nothing to rename
  bool copy_back = false; // the finished text is copied into `path`, whose hard links stay
};

// Creates the temporary file beside the file `path` leads to, or opens a name that is
// no regular file for writing: true and `r.file` open, or false (errno says why; a
// folder is EISDIR).
bool replacement_open(ReplacementFile& r, const char* path);
// Flushes, closes and renames the temporary file over `path`. On any failure the
// temporary file is removed, `path` is left as it was, and the result is false.
bool replacement_commit(ReplacementFile& r);
// Closes and removes the temporary file; `path` is untouched.
void replacement_abandon(ReplacementFile& r);
