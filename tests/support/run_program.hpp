// Runs a built program as a child process, in a given folder, with given
// standard input bytes, and collects its standard output, standard error and
// exit status.
#pragma once

#include <string>
#include <vector>

namespace velkrin::testing {

struct program_run {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or -1 when the program did not exit
  int signal = 0;   // the signal that ended it, if one did
};

// The command that starts the program under test: VELKRIN_LAUNCHER's words
// (if set), then VELKRIN_PROGRAM, or the given default.
std::vector<std::string> program_command(const std::string& default_program);

program_run run_program(const std::vector<std::string>& command, const std::string& folder,
                        const std::string& input);

}  // namespace velkrin::testing
