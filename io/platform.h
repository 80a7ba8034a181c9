// What the port library needs from the operating system, apart from the port itself.
#pragma once
#include <string>

namespace io {
// Short name of the running program ("varnprog", "pavolt").
std::string program_name();
// Microseconds on a monotonic clock.
double monotonic_microseconds();
// Renames `from` over `to` in one step, so `to` is either the old file or the new one.
bool rename_over(const std::string& from, const std::string& to, std::string& message);
// A temporary name beside `path`, unique to this process.
std::string temporary_name(const std::string& path);
// True in a program installed set-user-id or set-group-id and run by someone the id is
// not: its environment is the user's, its rights are not.
bool running_set_id();
}  // namespace io
