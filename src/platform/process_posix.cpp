// POSIX side of running another program: posix_spawn() into a process group
// of its own, one pipe for its standard input and one that its standard
// output and standard error share, read with poll() until it ends.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.hpp"

extern char** environ;

namespace velkrin::platform {
namespace {

// How long one wait lasts before the time limit and Ctrl-C are looked at.
constexpr int kPollSliceMs = 50;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kReadsPerSlice = 16;

std::string spawn_reason(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return "programme introuvable";
    case EACCES:
    case EPERM:
      return "permission refusee (le fichier n'est pas executable)";
    case ENOEXEC:
      return "ce n'est pas un programme executable";
    default:
      return errno_reason(error);
  }
}

bool is_executable_file(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// A pipe whose two ends are closed on destruction.
struct pipe_pair {
  int read_end = -1;
  int write_end = -1;
  ~pipe_pair() {
    close_read();
    close_write();
  }
  void close_read() {
    if (read_end >= 0) ::close(read_end);
    read_end = -1;
  }
  void close_write() {
    if (write_end >= 0) ::close(write_end);
    write_end = -1;
  }
};

int make_pipe(pipe_pair& pipe) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
  pipe.read_end = ends[0];
  pipe.write_end = ends[1];
  return 0;
}

// The environment of the child: this program's, with `changes` applied.
std::vector<std::string> child_environment(const std::vector<environment_change>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    bool changed = false;
    for (const environment_change& change : changes) {
      changed = changed || (text.size() > change.name.size() && text[change.name.size()] == '=' &&
                            text.substr(0, change.name.size()) == change.name);
    }
    if (!changed) entries.emplace_back(text);
  }
  for (const environment_change& change : changes) {
    if (change.value) entries.push_back(change.name + "=" + *change.value);
  }
  return entries;
}

// Keeps the last `limit` bytes of what is appended, dropping the front in
// large steps so that a long output costs linear time.
void keep_tail(std::string& output, std::size_t limit, bool& truncated) {
  if (output.size() <= 2 * limit) return;
  output.erase(0, output.size() - limit);
  truncated = true;
}

// SIGPIPE, which a write to a program that has closed its input would
// raise, stays blocked in this thread while the program runs; one raised
// meanwhile is taken back before the mask is restored.
class sigpipe_blocked {
 public:
  sigpipe_blocked() {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_only, &previous_);
  }
  ~sigpipe_blocked() {
    if (!sigismember(&previous_, SIGPIPE)) {
      sigset_t pipe_only;
      sigemptyset(&pipe_only);
      sigaddset(&pipe_only, SIGPIPE);
      const timespec no_wait{0, 0};
      while (::sigtimedwait(&pipe_only, nullptr, &no_wait) == SIGPIPE) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  sigpipe_blocked(const sigpipe_blocked&) = delete;
  sigpipe_blocked& operator=(const sigpipe_blocked&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace

status run_program(const program_request& request, program_result& result) {
  result = program_result();
  const std::size_t limit = request.output_limit > 0 ? request.output_limit : 1;
  pipe_pair input;
  pipe_pair output;
  if (int error = make_pipe(input); error != 0)
    return status::failure("lancement", errno_reason(error));
  if (int error = make_pipe(output); error != 0) {
    return status::failure("lancement", errno_reason(error));
  }

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, input.read_end, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.write_end, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output.write_end, STDERR_FILENO);
  // Its own process group, so that the time limit ends whatever it starts
  // too; signals as a program normally starts with them.
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(request.program.c_str()));
  for (const std::string& argument : request.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<std::string> environment = child_environment(request.environment);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const sigpipe_blocked no_sigpipe;
  pid_t child = -1;
  const bool search = request.program.find('/') == std::string::npos;
  const int spawned = search ? ::posix_spawnp(&child, request.program.c_str(), &actions,
                                              &attributes, argv.data(), envp.data())
                             : ::posix_spawn(&child, request.program.c_str(), &actions, &attributes,
                                             argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return status::failure("lancement", spawn_reason(spawned));
  input.close_read();
  output.close_write();
  ::fcntl(output.read_end, F_SETFL, ::fcntl(output.read_end, F_GETFL) | O_NONBLOCK);
  ::fcntl(input.write_end, F_SETFL, ::fcntl(input.write_end, F_GETFL) | O_NONBLOCK);

  std::size_t sent = 0;
  if (request.input.empty()) input.close_write();
  const auto start = std::chrono::steady_clock::now();
  int wait_status = 0;
  bool exited = false;
  std::vector<char> chunk(kReadChunk);
  for (;;) {
    // Read and write what the pipes allow, then see whether it has ended.
    pollfd fds[2];
    nfds_t count = 0;
    if (output.read_end >= 0) fds[count++] = pollfd{output.read_end, POLLIN, 0};
    if (input.write_end >= 0) fds[count++] = pollfd{input.write_end, POLLOUT, 0};
    if (count > 0) ::poll(fds, count, exited ? 0 : kPollSliceMs);
    // A bounded number of reads, so that the time limit is looked at even
    // while something floods the pipe.
    bool drained = output.read_end < 0;
    for (int reads = 0; reads < kReadsPerSlice && output.read_end >= 0; ++reads) {
      const ssize_t got = ::read(output.read_end, chunk.data(), chunk.size());
      if (got > 0) {
        result.output.append(chunk.data(), static_cast<std::size_t>(got));
        keep_tail(result.output, limit, result.output_truncated);
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) output.close_read();
      drained = true;
      break;
    }
    while (input.write_end >= 0 && sent < request.input.size()) {
      const ssize_t put =
          ::write(input.write_end, request.input.data() + sent, request.input.size() - sent);
      if (put > 0) {
        sent += static_cast<std::size_t>(put);
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      input.close_write();  // it closed its input: the rest is not wanted
    }
    if (input.write_end >= 0 && sent == request.input.size()) input.close_write();
    // Once it has ended, what it wrote is all in the pipe: read to the end
    // of what is there, even if something it started still holds the pipe.
    if (exited && drained) break;
    if (!exited) {
      const pid_t done = ::waitpid(child, &wait_status, WNOHANG);
      if (done == child) {
        exited = true;
        continue;
      }
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    const bool too_long = request.time_limit_ms > 0 && elapsed.count() >= request.time_limit_ms;
    if ((too_long || interrupt_requested()) && exited) {
      ::kill(-child, SIGKILL);  // what it started still writes: its own ending stands
      break;
    }
    if (too_long || interrupt_requested()) {
      ::kill(-child, SIGKILL);
      while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
      }
      result.timed_out = too_long;
      result.interrupted = !too_long;
      exited = true;
      output.close_read();
      break;
    }
    if (count == 0) {
      const timespec pause{0, kPollSliceMs * 1000000L};
      ::nanosleep(&pause, nullptr);
    }
  }
  if (result.output.size() > limit) {
    result.output.erase(0, result.output.size() - limit);
    result.output_truncated = true;
  }
  if (result.timed_out || result.interrupted) return status::success();
  if (WIFEXITED(wait_status)) result.exit_status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
  return status::success();
}

std::string find_program(const std::string& name, const std::vector<std::string>& candidates) {
  if (name.find('/') != std::string::npos) {
    if (is_executable_file(name)) return name;
  } else if (!name.empty()) {
    const char* path = std::getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t begin = 0;
    for (;;) {
      const std::size_t end = folders.find(':', begin);
      std::string folder = folders.substr(begin, end == std::string::npos ? end : end - begin);
      if (folder.empty()) folder = ".";
      const std::string candidate = folder + "/" + name;
      if (is_executable_file(candidate)) return candidate;
      if (end == std::string::npos) break;
      begin = end + 1;
    }
  }
  for (const std::string& candidate : candidates) {
    if (is_executable_file(candidate)) return candidate;
  }
  return std::string();
}

std::optional<std::string> environment_value(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace velkrin::platform
