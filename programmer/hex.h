// Intel HEX reader and writer.
#pragma once
#include <cstdio>

// Reads `in`, opened by the caller (who closes it), into load_image: the highest end
// of any data record (0 for a file of records without data), or -1 when the file is refused
// (one line printed, naming the file), a file without any record included.
int load_hex_file(std::FILE* in);
// Writes readback_image[0, length) to `path`: 1, or -1 when it can't be written.
int write_hex_file(const char* path, int length);
