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
// The same for another program, named by the environment variable
// `variable`, followed by `args`.
std::vector<std::string> program_command(const std::string& default_program, const char* variable,
                                         const std::vector<std::string>& args);

program_run run_program(const std::vector<std::string>& command, const std::string& folder,
                        const std::string& input);

// A program left waiting on its output, as one whose output goes to a pager
// that nobody reads: its standard output (or, with `stalled` errors, its
// standard error) is a pipe (of one page) that this never reads; its other
// streams are /dev/null. Killed when destroyed, or by stop().
class stalled_program {
 public:
  enum class stream { output, errors };
  stalled_program(const std::vector<std::string>& command, const std::string& folder,
                  stream stalled = stream::output);
  ~stalled_program() { stop(); }
  stalled_program(const stalled_program&) = delete;
  stalled_program& operator=(const stalled_program&) = delete;

  // True once the pipe holds output and has stopped filling: the program
  // waits to write more. False when it ended first, or after a minute.
  bool wait_until_stalled();
  void stop();

 private:
  int pid_ = -1;
  int output_ = -1;
};

// Runs `command` while `stalled` waits on its output. Should the run wait
// for `stalled` (for 30 s), `stalled` is stopped, so that the run ends and a
// test fails instead of hanging, and `kept_waiting` is set.
struct run_beside_stalled {
  program_run run;
  bool kept_waiting = false;
};
run_beside_stalled run_beside(stalled_program& stalled, const std::vector<std::string>& command,
                              const std::string& folder, const std::string& input);

}  // namespace velkrin::testing
