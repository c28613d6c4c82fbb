#include "support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <sstream>
#include <stdexcept>

namespace velkrin::testing {
namespace {

// In a forked child: runs `command` in `folder`, never returning.
[[noreturn]] void exec_in(const std::string& folder, const std::vector<std::string>& command) {
  if (::chdir(folder.c_str()) != 0) ::_exit(126);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

}  // namespace

std::vector<std::string> program_command(const std::string& default_program) {
  return program_command(default_program, "VELKRIN_PROGRAM", {});
}

std::vector<std::string> program_command(const std::string& default_program, const char* variable,
                                         const std::vector<std::string>& args) {
  std::vector<std::string> command;
  if (const char* launcher = std::getenv("VELKRIN_LAUNCHER")) {
    std::istringstream words(launcher);
    for (std::string word; words >> word;) command.push_back(word);
  }
  const char* program = std::getenv(variable);
  command.push_back(program != nullptr && *program != '\0' ? program : default_program);
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

program_run run_program(const std::vector<std::string>& command, const std::string& folder,
                        const std::string& input) {
  int in_pipe[2];
  int out_pipe[2];
  int err_pipe[2];
  // Close-on-exec, so that a program started at the same time from another
  // thread does not inherit these pipes and hold them open.
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0 ||
      ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::dup2(in_pipe[0], STDIN_FILENO);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      ::close(fd);
    }
    exec_in(folder, command);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ::signal(SIGPIPE, SIG_IGN);

  program_run run;
  std::size_t sent = 0;
  int to_child = in_pipe[1];
  if (input.empty()) {
    ::close(to_child);
    to_child = -1;
  } else {
    ::fcntl(to_child, F_SETFL, O_NONBLOCK);
  }
  int open_outputs = 2;
  while (open_outputs > 0) {
    pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}, {to_child, POLLOUT, 0}};
    if (::poll(fds, to_child >= 0 ? 3 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        (i == 0 ? out_pipe[0] : err_pipe[0]) = -1;
        --open_outputs;
      }
    }
    if (to_child >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = ::write(to_child, input.data() + sent, input.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) sent = input.size();
      if (sent == input.size()) {
        ::close(to_child);
        to_child = -1;
      }
    }
  }
  if (to_child >= 0) ::close(to_child);
  int wait_status = 0;
  while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  run.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  return run;
}

stalled_program::stalled_program(const std::vector<std::string>& command, const std::string& folder,
                                 stream stalled) {
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  ::fcntl(pipe_ends[1], F_SETPIPE_SZ, 4096);  // quick to fill
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int nothing = ::open("/dev/null", O_RDWR);
    ::dup2(nothing, STDIN_FILENO);
    const bool errors = stalled == stream::errors;
    ::dup2(errors ? nothing : pipe_ends[1], STDOUT_FILENO);
    ::dup2(errors ? pipe_ends[1] : nothing, STDERR_FILENO);
    exec_in(folder, command);
  }
  ::close(pipe_ends[1]);
  pid_ = child;
  output_ = pipe_ends[0];
}

bool stalled_program::wait_until_stalled() {
  constexpr int kStillChecks = 10;  // 10 ms apart
  int held = -1;
  int still = 0;
  for (int check = 0; check < 6000 && pid_ > 0; ++check) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    int now = 0;
    ::ioctl(output_, FIONREAD, &now);
    still = now > 0 && now == held ? still + 1 : 0;
    if (still == kStillChecks) return true;
    held = now;
    ::usleep(10000);
  }
  return false;
}

void stalled_program::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  if (output_ >= 0) ::close(output_);
  output_ = -1;
}

run_beside_stalled run_beside(stalled_program& stalled, const std::vector<std::string>& command,
                              const std::string& folder, const std::string& input) {
  auto running =
      std::async(std::launch::async, [&] { return run_program(command, folder, input); });
  run_beside_stalled result;
  if (running.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    stalled.stop();
    result.kept_waiting = true;
  }
  result.run = running.get();
  return result;
}

}  // namespace velkrin::testing
