// Runs build/varnprog against the simulated Varn board in its fast mode.
#pragma once
#include <string>
#include <vector>

#include "run_program.h"

inline const std::string BANNER =
    "Varn Programming Utility V1.01\n"
    "In-system programmer for the Varn board - provided as is, without warranty\n";
inline const std::string COMMAND_LINE = BANNER + "Command line mode\n";
inline const std::string INTERACTIVE = BANNER + "Interactive mode - Type 'e' to exit,'h' for help\n";
inline const std::string BOARD_CHECK = "\nChecking for Varn processor:\n Processor X1 is ";
inline const std::string FINISHED = "\nProgram finished - hit any key to exit!";

// `keys` are extra settings of the simulated board, e.g. "part=ATmega32,fuses=factory".
inline RunResult varnprog(const TempDir& dir, const std::vector<std::string>& args,
                          const std::string& keys = "", const std::string& input = "") {
  RunOptions options;
  options.args = args;
  options.input = input;
  options.env = {{"LPT1", "sim:timing=fast" + (keys.empty() ? "" : "," + keys)}};
  options.timeout_s = 60;
  return run_program("varnprog", options, dir);
}

// Output after the command-line banner; empty when the banner is not there.
inline std::string after_banner(const RunResult& r) {
  if (r.out.rfind(COMMAND_LINE, 0) != 0) return "<no command-line banner>" + r.out;
  return r.out.substr(COMMAND_LINE.size());
}
