// The utility as a user meets it: banner, help texts, the one-word command set,
// command files, and the two ways of running (command line or prompt).
#pragma once

// The title's own numbers, as users and their scripts know the banner; the release
// is VARN_VERSION, the project's version.
constexpr int TITLE_VERSION_MAJOR = 0;
constexpr int TITLE_VERSION_MINOR = 97;
constexpr int DRIVER_CHARACTER_GAP_UNITS = 20;  // pause after each byte sent to a driver

void print_banner();
// One line: the program's name and version.
void print_version();
void print_help();
void print_g_code_help();
// "d" command: waits the word's number of milliseconds.
void wait_command(const char* word);
// "c" command: the word's third and later characters go to the driver its second names.
void send_command(const char* word);
// Runs one command word; a word that matches no command is named on standard error
// and fails the run. Returns 1.
int dispatch_command(const char* word);
// The prompt's "f" command: runs the words of a file as if typed.
void run_command_file(const char* name);
// Runs every argument that begins with '-', then ends the program.
[[noreturn]] void run_command_line(int argc, char** argv);
// The prompt loop; ends through "e" or the end of standard input.
[[noreturn]] void run_interactive();
