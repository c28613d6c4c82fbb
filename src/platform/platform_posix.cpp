// POSIX side of the platform layer.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ostream>
#include <vector>

#include "platform/platform.hpp"
#include "platform/temporary_names.hpp"

namespace velkrin::platform {
namespace {

constexpr std::string_view kClearSequence = "\x1b[H\x1b[2J\x1b[3J";
constexpr int kMaxLinkHops = 40;
constexpr int kMaxReopenTries = 100;

status failure(std::string_view what, int error) {
  return status::failure(std::string(what), errno_reason(error));
}

int as_fd(std::intptr_t handle) { return static_cast<int>(handle); }

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// What wait_for_lock() returns when Ctrl-C ended the wait.
constexpr int kInterruptedWait = -1;

// Takes the lock `operation` (LOCK_EX or LOCK_SH) on `fd`: 0 once it is
// held, else the errno of the failure or kInterruptedWait. While another
// instance holds it, tries again every few milliseconds rather than blocking
// in flock(), so that Ctrl-C caught by catch_interrupt() ends the wait, and
// calls `notice` (when given) once the wait has lasted kLongWaitMillis. A
// free lock, the common case, costs one call.
int wait_for_lock(int fd, int operation, const std::function<void()>& notice) {
  constexpr auto kRetryPause = std::chrono::milliseconds(5);
  const auto start = std::chrono::steady_clock::now();
  bool told = false;
  for (;;) {
    if (::flock(fd, operation | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK && errno != EINTR) return errno;
    if (interrupt_requested()) return kInterruptedWait;
    if (!told &&
        std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(kLongWaitMillis)) {
      told = true;
      if (notice) notice();
    }
    const timespec pause{0, std::chrono::nanoseconds(kRetryPause).count()};
    ::nanosleep(&pause, nullptr);  // a signal ends it early: looked at above
  }
}

status lock_failure(int error) {
  if (error == kInterruptedWait) {
    return status::failure(std::string(kInterruptedWaitStep), std::string(kInterruptedWaitCause));
  }
  return failure("verrouillage", error);
}

// True when `path` names the file open as `fd`, described by `held`. On a
// network folder a cache may still name a replaced file: it then has no link
// left, and is taken as replaced too.
bool still_named(const std::string& path, const struct stat& held) {
  struct stat named {};
  return held.st_nlink > 0 && ::stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
         named.st_ino == held.st_ino;
}

status write_all(int fd, std::string_view data, std::string_view what) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return failure(what, errno);
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return status::success();
}

status sync_folder(const std::string& file_path) {
  const int folder = ::open(folder_of(file_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return failure("ecriture sur le disque", errno);
  const int synced = ::fsync(folder);
  const int error = errno;
  ::close(folder);
  if (synced != 0 && error != EINVAL) return failure("ecriture sur le disque", error);
  return status::success();
}

// Gives the new file `fd` what the system allows of the owner, group and
// permission bits of the file `like` that it replaces. Only root may give a
// file away, so for anyone else changing owner and group in one call fails
// as a whole: the group alone is then asked for, which a member of that group
// may set. The bits come last, since a change of owner clears set-id bits.
status take_the_place_of(int fd, const struct stat& like) {
  if (::fchown(fd, like.st_uid, like.st_gid) != 0)
    (void)::fchown(fd, static_cast<uid_t>(-1), like.st_gid);
  if (::fchmod(fd, like.st_mode & 07777) != 0) return failure("permissions", errno);
  return status::success();
}

// The common end of the commits of a replacement file (`handle` and
// `temporary`): owner, group and permission bits of `like` (if any), flush,
// close, rename over `target` (or, with `no_replace`, refuse when `target`
// exists: EEXIST). `like` is nullptr when nothing is replaced.
status rename_over(std::intptr_t& handle, std::string& temporary, const std::string& target,
                   const struct stat* like, bool no_replace = false);

}  // namespace

// ---------------------------------------------------------------------------
// Temporary files: their names, their locks, and the signal handlers that
// remove the live ones.
namespace {

constexpr int kMaxTemporaryNameTries = 100;
constexpr int kSignalsToClean[] = {SIGINT, SIGTERM, SIGHUP};

// The paths of the live temporary files, for the signal handlers; a slot is
// empty (nullptr) or points into a replacement_file's path, which does not
// change while it is recorded.
constexpr int kLiveSlots = 8;
std::atomic<const char*> live_temporaries[kLiveSlots];

// Set by catch_interrupt(): a signal then only raises interrupt_flag.
std::atomic<bool> interrupts_caught{false};
volatile std::sig_atomic_t interrupt_flag = 0;

// The one handler of the cleaning signals, for the whole program.
extern "C" void on_cleaning_signal(int signal_number) {
  if (interrupts_caught.load()) {
    interrupt_flag = 1;
    return;
  }
  for (auto& slot : live_temporaries) {
    if (const char* path = slot.load()) ::unlink(path);
  }
  // Back to the default action; the signal is blocked until this handler
  // returns, and then ends the program.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// With `take_ignored_interrupts`, SIGINT and SIGTERM are caught even when
// the program started with them ignored (a background job of a script):
// catch_interrupt() is how the listener is told to stop.
void install_signal_handlers(bool take_ignored_interrupts) {
  static bool installed = false;
  static bool took_ignored = false;
  if (installed && (took_ignored || !take_ignored_interrupts)) return;
  installed = true;
  took_ignored = take_ignored_interrupts;
  struct sigaction action {};
  action.sa_handler = on_cleaning_signal;
  // No SA_RESTART: once interrupts are caught, a wait in poll() or for a
  // lock must end with EINTR for the flag to be seen. Before that the
  // handler ends the program and nothing is resumed.
  action.sa_flags = 0;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kSignalsToClean) sigaddset(&action.sa_mask, signal_number);
  for (int signal_number : kSignalsToClean) {
    struct sigaction previous {};
    if (::sigaction(signal_number, nullptr, &previous) != 0) continue;
    const bool interrupt = signal_number == SIGINT || signal_number == SIGTERM;
    // nohup, say: SIGHUP stays ignored.
    if (previous.sa_handler == SIG_IGN && !(interrupt && take_ignored_interrupts)) continue;
    ::sigaction(signal_number, &action, nullptr);
  }
}

void install_signal_handlers_once() { install_signal_handlers(false); }

int record_live(const char* path) {
  for (int slot = 0; slot < kLiveSlots; ++slot) {
    const char* empty = nullptr;
    if (live_temporaries[slot].compare_exchange_strong(empty, path)) return slot;
  }
  return -1;  // more live files than slots: a signal would leave this one
}

void forget_live(int& slot) {
  if (slot >= 0) live_temporaries[slot].store(nullptr);
  slot = -1;
}

// Blocks the cleaning signals for its lifetime: a temporary file is created
// and recorded, or removed and forgotten, as one step for the handlers.
class signals_held {
 public:
  signals_held() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : kSignalsToClean) sigaddset(&held, signal_number);
    ::sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~signals_held() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  signals_held(const signals_held&) = delete;
  signals_held& operator=(const signals_held&) = delete;

 private:
  sigset_t previous_;
};

std::string file_name_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder part of `path` with its final slash ("" for a bare name).
std::string folder_prefix_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void remove_leftover_temporaries(const std::string& target) {
  const std::string folder = folder_prefix_of(target);
  const std::string target_name = file_name_of(target);
  DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    if (!is_temporary_name_for(entry->d_name, target_name)) continue;
    const std::string path = folder + entry->d_name;
    // Its maker holds a lock on it while it lives: a file that can be locked
    // was left by a run that ended without removing it. Open without
    // following a link, so that only a file of that name is touched.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        ::lstat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
        named.st_dev == held.st_dev) {
      ::unlink(path.c_str());
    }
    ::close(fd);
  }
  ::closedir(listing);
}

namespace {

status rename_over(std::intptr_t& handle, std::string& temporary, const std::string& target,
                   const struct stat* like, bool no_replace) {
  const int fd = as_fd(handle);
  if (like != nullptr) {
    if (status s = take_the_place_of(fd, *like); !s.ok()) return s;
  }
  if (::fsync(fd) != 0) return failure("ecriture sur le disque", errno);
  if (no_replace) {
    // The name appears holding the whole file, or not at all; never over a
    // file that another program made meanwhile.
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno != EINVAL && errno != ENOSYS) return failure("remplacement", errno);
      // A file system without that rename: a second link, then the
      // temporary name goes (a kill between leaves a leftover, removed by a
      // later run).
      if (::link(temporary.c_str(), target.c_str()) != 0) return failure("remplacement", errno);
      (void)::unlink(temporary.c_str());
    }
  } else if (::rename(temporary.c_str(), target.c_str()) != 0) {
    return failure("remplacement", errno);
  }
  // The temporary name is gone, and so is its lock: released before the
  // close, so that the program can open the new file again even when the
  // close fails.
  temporary.clear();
  handle = -1;
  ::flock(fd, LOCK_UN);
  ::close(fd);
  // The new contents are in place from here on: a failure to make the
  // rename itself durable (flushing the folder) is not reported as a
  // failed write, since the file is there and whole.
  (void)sync_folder(target);
  return status::success();
}

}  // namespace

void prepare_console() {}

void set_binary_output() {}

hidden_typing::hidden_typing() {
  termios mode{};
  if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &mode) != 0) return;
  saved_ = mode.c_lflag;
  mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
}

hidden_typing::~hidden_typing() {
  termios mode{};
  if (!active_ || tcgetattr(STDIN_FILENO, &mode) != 0) return;
  mode.c_lflag = static_cast<tcflag_t>(saved_);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode);
}

void clear_console(std::ostream& out) {
  // In the same stream as the screens: it reaches the terminal after them.
  out << kClearSequence;
}

std::string_view new_file_line_end() { return "\n"; }

bool can_open_for_reading(const std::string& path) {
  // The system's own answer to "could it be opened for reading", in one call
  // and without opening it (a named pipe in the logbook's place cannot hang
  // the program).
  return ::access(path.c_str(), R_OK) == 0;
}

status resolve_links(const std::string& path, std::string& target) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      target = current;
      return status::success();
    }
    std::vector<char> buffer(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
    const ssize_t length = ::readlink(current.c_str(), buffer.data(), buffer.size());
    if (length < 0) return failure("lecture du lien", errno);
    std::string next(buffer.data(), static_cast<std::size_t>(length));
    if (next.empty() || next.front() != '/') {
      const std::string folder = folder_of(current);
      if (current.find('/') != std::string::npos) next = folder + "/" + next;
    }
    current = std::move(next);
  }
  return failure("lecture du lien", ELOOP);
}

std::string program_folder() {
  // Linux names the running program here; other systems give nothing, and
  // the caller looks elsewhere.
  std::string target;
  if (!resolve_links("/proc/self/exe", target).ok() || target == "/proc/self/exe") return {};
  const std::size_t slash = target.rfind('/');
  return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

locked_file::~locked_file() {
  if (handle_ >= 0) ::close(as_fd(handle_));
}

status locked_file::open(const std::string& path) {
  bool missing = false;
  return open_locked(path, true, missing);
}

status locked_file::open_existing(const std::string& path, bool& missing) {
  return open_locked(path, false, missing);
}

status locked_file::open_locked(const std::string& path, bool create, bool& missing) {
  missing = false;
  for (int attempt = 0; attempt < kMaxReopenTries; ++attempt) {
    bool created = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && !create) {
      missing = true;
      return status::success();
    }
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) return failure("ouverture", errno);
    if (const int error = wait_for_lock(fd, LOCK_EX, wait_notice_); error != 0) {
      ::close(fd);
      return lock_failure(error);
    }
    // Another instance may have renamed a new file over the path, or the
    // user may have removed it, while we waited for the lock.
    struct stat held {};
    if (::fstat(fd, &held) != 0) {
      const int error = errno;
      ::close(fd);
      return failure("ouverture", error);
    }
    if (!S_ISREG(held.st_mode) && !S_ISCHR(held.st_mode)) {
      ::close(fd);
      return failure("ouverture", ENXIO);
    }
    if (still_named(path, held)) {
      path_ = path;
      handle_ = fd;
      created_ = created;
      regular_ = S_ISREG(held.st_mode);
      size_when_locked_ = regular_ ? static_cast<std::uint64_t>(held.st_size) : 0;
      identity_ = {static_cast<std::uint64_t>(held.st_dev),
                   static_cast<std::uint64_t>(held.st_ino)};
      return status::success();
    }
    ::close(fd);
    if (!create && ::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
      missing = true;
      return status::success();
    }
  }
  return failure("ouverture", EBUSY);
}

status locked_file::size(std::uint64_t& bytes) {
  struct stat info {};
  if (::fstat(as_fd(handle_), &info) != 0) return failure("lecture", errno);
  bytes = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
  return status::success();
}

namespace {

// Up to `count` bytes of `fd` at `offset`, for both kinds of file.
status read_fd_at(int fd, std::uint64_t offset, char* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return status::success();
    }
    if (errno != EINTR) return failure("lecture", errno);
  }
}

}  // namespace

status locked_file::read_at(std::uint64_t offset, char* buffer, std::size_t count,
                            std::size_t& got) {
  return read_fd_at(as_fd(handle_), offset, buffer, count, got);
}

status locked_file::write_at(std::uint64_t offset, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n =
        ::pwrite(as_fd(handle_), data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return failure("ecriture", errno);
    }
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
    if (regular_ && offset > size_when_locked_) size_when_locked_ = offset;
  }
  return status::success();
}

status locked_file::append(std::string_view data) {
  // A device has no end to seek to: written as it comes.
  if (!regular_) return write_all(as_fd(handle_), data, "ecriture");
  // Under the lock no other instance writes: the end is the size found when
  // the lock was taken, moved by this handle's own writes.
  return write_at(size_when_locked_, data);
}

status locked_file::truncate(std::uint64_t bytes) {
  if (::ftruncate(as_fd(handle_), static_cast<off_t>(bytes)) != 0)
    return failure("ecriture", errno);
  if (regular_) size_when_locked_ = bytes;
  return status::success();
}

status locked_file::sync() {
  if (::fsync(as_fd(handle_)) != 0 && errno != EINVAL)
    return failure("ecriture sur le disque", errno);
  if (created_) return sync_folder(path_);  // its name, too
  return status::success();
}

status locked_file::close() {
  if (handle_ < 0) return status::success();
  const int fd = as_fd(handle_);
  handle_ = -1;
  ::flock(fd, LOCK_UN);  // even if the close fails
  if (::close(fd) != 0) return failure("fermeture", errno);
  return status::success();
}

void locked_file::remove_if_created() {
  if (created_ && !path_.empty()) ::unlink(path_.c_str());
  created_ = false;
}

replacement_file::~replacement_file() { discard(); }

void replacement_file::discard() {
  if (path_.empty() && handle_ < 0) return;
  const signals_held held;
  if (!path_.empty()) ::unlink(path_.c_str());
  forget_live(live_slot_);
  path_.clear();
  if (handle_ >= 0) ::close(as_fd(handle_));
  handle_ = -1;
}

status replacement_file::create_beside(const locked_file& original) {
  if (!original.regular_) return failure("remplacement", EPERM);
  return create_named_after(original.path_, true);
}

status replacement_file::create_beside(const std::string& target) {
  // Private while it is written when it is to replace a file, whose bits it
  // takes at commit; a new file is created with the bits any new file gets.
  return create_named_after(target, ::access(target.c_str(), F_OK) == 0);
}

status replacement_file::create_named_after(const std::string& target, bool private_until_commit) {
  discard();
  refused_existing_ = false;
  remove_leftover_temporaries(target);
  install_signal_handlers_once();
  const std::string stem = folder_prefix_of(target) + temporary_name_stem(file_name_of(target));
  for (int attempt = 0; attempt < kMaxTemporaryNameTries; ++attempt) {
    std::string name = stem + temporary_name_suffix();
    const signals_held held;
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                          private_until_commit ? 0600 : 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return failure("creation du fichier temporaire", errno);
    path_ = std::move(name);
    handle_ = fd;
    live_slot_ = record_live(path_.c_str());
    // The lock says "alive" to remove_leftover_temporaries. A run that found
    // the file before the lock was taken may have removed it: then start
    // again under another name.
    struct stat held_info {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held_info) == 0 &&
        ::lstat(path_.c_str(), &named) == 0 && named.st_ino == held_info.st_ino &&
        named.st_dev == held_info.st_dev) {
      return status::success();
    }
    forget_live(live_slot_);
    path_.clear();
    ::close(fd);
    handle_ = -1;
  }
  return failure("creation du fichier temporaire", EEXIST);
}

status replacement_file::write(std::string_view data) {
  return write_all(as_fd(handle_), data, "ecriture du fichier temporaire");
}

status replacement_file::commit(locked_file& original) {
  struct stat info {};
  if (::fstat(as_fd(original.handle_), &info) != 0) return failure("lecture", errno);
  status s = rename_over(handle_, path_, original.path_, &info);
  if (path_.empty()) forget_live(live_slot_);
  if (!s.ok()) return s;
  original.created_ = false;  // the path now names the replacement
  return status::success();
}

status replacement_file::commit_over(const std::string& target) {
  struct stat info {};
  const bool replaces_a_file = ::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  status s = rename_over(handle_, path_, target, replaces_a_file ? &info : nullptr);
  if (path_.empty()) forget_live(live_slot_);
  return s;
}

status replacement_file::commit_new(const std::string& target) {
  status s = rename_over(handle_, path_, target, nullptr, true);
  if (path_.empty()) forget_live(live_slot_);
  if (!s.ok() && s.cause() == errno_reason(EEXIST)) refused_existing_ = true;
  return s;
}

output_file::~output_file() {
  if (in_place_ >= 0) ::close(as_fd(in_place_));
}

status output_file::open(const std::string& path, bool replace) {
  replace_ = replace;
  refused_existing_ = false;
  if (status s = resolve_links(path, target_); !s.ok()) return s;
  struct stat info {};
  if (::stat(target_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return failure("ouverture", EISDIR);
    if (!S_ISREG(info.st_mode)) {
      // A named pipe waits here for its reader, as a pipe should.
      const int fd = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) return failure("ouverture", errno);
      in_place_ = fd;
      return status::success();
    }
  }
  // A link whose target does not exist counts as an existing name too.
  struct stat link_info {};
  const bool taken = ::lstat(path.c_str(), &link_info) == 0;
  if (taken && !replace) {
    refused_existing_ = true;
    return failure("creation", EEXIST);
  }
  return replacement_.create_beside(target_);
}

status output_file::write(std::string_view data) {
  if (in_place_ >= 0) return write_all(as_fd(in_place_), data, "ecriture");
  return replacement_.write(data);
}

status output_file::commit() {
  if (in_place_ >= 0) {
    const int fd = as_fd(in_place_);
    in_place_ = -1;
    // A pipe or a terminal has nothing to flush (EINVAL).
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
      const int error = errno;
      ::close(fd);
      return failure("ecriture sur le disque", error);
    }
    if (::close(fd) != 0) return failure("fermeture", errno);
    return status::success();
  }
  if (replace_) return replacement_.commit_over(target_);
  return replacement_.commit_new(target_);
}

void wait_before_closing_own_window(std::ostream&) {}

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

// ---------------------------------------------------------------------------
// Reading a file that another instance may be writing.

shared_file::~shared_file() { close(); }

status shared_file::open(const std::string& path) {
  close();
  for (int attempt = 0; attempt < kMaxReopenTries; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failure("ouverture", errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
      ::close(fd);
      return failure("ouverture", error);
    }
    handle_ = fd;
    regular_ = S_ISREG(info.st_mode);
    // A pipe or a device is read as it comes, without lock or size.
    if (!regular_) return status::success();
    const int error = wait_for_lock(fd, LOCK_SH, nullptr);
    locked_ = error == 0;
    // A file system without locks (some network shares) is still read.
    if (error != 0 && error != ENOLCK && error != EOPNOTSUPP && error != EINVAL) {
      close();
      return lock_failure(error);
    }
    // The size after the lock: another instance may have appended, or
    // renamed a new file over the path, while we waited.
    if (::fstat(fd, &info) != 0) {
      const int error = errno;
      close();
      return failure("ouverture", error);
    }
    if (still_named(path, info)) {
      size_when_locked_ = static_cast<std::uint64_t>(info.st_size);
      return status::success();
    }
    close();
  }
  return failure("ouverture", EBUSY);
}

void shared_file::unlock() {
  if (!locked_) return;
  ::flock(as_fd(handle_), LOCK_UN);
  locked_ = false;
}

status shared_file::read(char* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t done = ::read(as_fd(handle_), buffer, count);
    if (done >= 0) {
      got = static_cast<std::size_t>(done);
      return status::success();
    }
    if (errno != EINTR) return failure("lecture", errno);
  }
}

status shared_file::read_at(std::uint64_t offset, char* buffer, std::size_t count,
                            std::size_t& got) {
  return read_fd_at(as_fd(handle_), offset, buffer, count, got);
}

void shared_file::close() {
  if (handle_ < 0) return;
  ::close(as_fd(handle_));  // releases the lock
  handle_ = -1;
  locked_ = false;
  regular_ = false;
  size_when_locked_ = 0;
}

bool path_exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool same_file(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void catch_interrupt() {
  interrupts_caught.store(true);
  install_signal_handlers(true);
}

bool interrupt_requested() { return interrupt_flag != 0; }

}  // namespace velkrin::platform
