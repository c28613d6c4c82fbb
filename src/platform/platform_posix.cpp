// POSIX side of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <vector>

#include "platform/platform.hpp"

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

// The common end of both commits of a replacement file (`handle` and
// `temporary`): flush, permission bits of `like` (if any), close, rename over
// `target`. `like` is nullptr when nothing is replaced.
status rename_over(std::intptr_t& handle, std::string& temporary, const std::string& target,
                   const struct stat* like) {
  const int fd = as_fd(handle);
  if (like != nullptr) {
    if (::fchmod(fd, like->st_mode & 07777) != 0) return failure("permissions", errno);
    // Keeping the owner matters only when run by root for someone else; a
    // refusal here is no reason to lose the file.
    if (::fchown(fd, like->st_uid, like->st_gid) != 0) {
    }
  }
  if (::fsync(fd) != 0) return failure("ecriture sur le disque", errno);
  handle = -1;
  if (::close(fd) != 0) return failure("fermeture du fichier temporaire", errno);
  if (::rename(temporary.c_str(), target.c_str()) != 0) return failure("remplacement", errno);
  temporary.clear();
  // The new contents are in place from here on: a failure to make the rename
  // itself durable is not reported as a failed write.
  (void)sync_folder(target);
  return status::success();
}

}  // namespace

void prepare_console() {}

void set_binary_output() {}

void clear_console(std::ostream& out) {
  out.flush();
  out << kClearSequence;
}

std::string_view new_file_line_end() { return "\n"; }

bool can_open_for_reading(const std::string& path) {
  // Non-blocking, so that a named pipe in the logbook's place cannot hang
  // the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
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

locked_file::~locked_file() {
  if (handle_ >= 0) ::close(as_fd(handle_));
}

status locked_file::open(const std::string& path) {
  for (int attempt = 0; attempt < kMaxReopenTries; ++attempt) {
    bool created = false;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      created = fd >= 0;
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) return failure("ouverture", errno);
    int locked;
    do {
      locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      const int error = errno;
      ::close(fd);
      return failure("verrouillage", error);
    }
    // Another instance may have renamed a new file over the path, or the
    // user may have removed it, while we waited for the lock.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0) {
      const int error = errno;
      ::close(fd);
      return failure("ouverture", error);
    }
    if (!S_ISREG(held.st_mode) && !S_ISCHR(held.st_mode)) {
      ::close(fd);
      return failure("ouverture", ENXIO);
    }
    if (::stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      path_ = path;
      handle_ = fd;
      created_ = created;
      regular_ = S_ISREG(held.st_mode);
      return status::success();
    }
    ::close(fd);
  }
  return failure("ouverture", EBUSY);
}

status locked_file::size(std::uint64_t& bytes) {
  struct stat info {};
  if (::fstat(as_fd(handle_), &info) != 0) return failure("lecture", errno);
  bytes = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
  return status::success();
}

status locked_file::read_at(std::uint64_t offset, char* buffer, std::size_t count,
                            std::size_t& got) {
  for (;;) {
    const ssize_t n = ::pread(as_fd(handle_), buffer, count, static_cast<off_t>(offset));
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return status::success();
    }
    if (errno != EINTR) return failure("lecture", errno);
  }
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
  }
  return status::success();
}

status locked_file::append(std::string_view data) {
  std::uint64_t end = 0;
  if (status s = size(end); !s.ok()) return s;
  if (::lseek(as_fd(handle_), static_cast<off_t>(end), SEEK_SET) < 0 && errno != ESPIPE) {
    return failure("ecriture", errno);
  }
  return write_all(as_fd(handle_), data, "ecriture");
}

status locked_file::truncate(std::uint64_t bytes) {
  if (::ftruncate(as_fd(handle_), static_cast<off_t>(bytes)) != 0)
    return failure("ecriture", errno);
  return status::success();
}

status locked_file::sync() {
  if (::fsync(as_fd(handle_)) != 0 && errno != EINVAL)
    return failure("ecriture sur le disque", errno);
  return status::success();
}

status locked_file::close() {
  if (handle_ < 0) return status::success();
  const int fd = as_fd(handle_);
  handle_ = -1;
  if (::close(fd) != 0) return failure("fermeture", errno);
  return status::success();
}

void locked_file::remove_if_created() {
  if (created_ && !path_.empty()) ::unlink(path_.c_str());
  created_ = false;
}

replacement_file::~replacement_file() { discard(); }

void replacement_file::discard() {
  if (handle_ >= 0) ::close(as_fd(handle_));
  handle_ = -1;
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

status replacement_file::create_beside(const locked_file& original) {
  if (!original.regular_) return failure("remplacement", EPERM);
  return create_beside(original.path_);
}

status replacement_file::create_beside(const std::string& target) {
  discard();
  std::string pattern = target + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return failure("creation du fichier temporaire", errno);
  path_ = std::move(pattern);
  handle_ = fd;
  return status::success();
}

status replacement_file::write(std::string_view data) {
  return write_all(as_fd(handle_), data, "ecriture du fichier temporaire");
}

status replacement_file::commit(locked_file& original) {
  struct stat info {};
  if (::fstat(as_fd(original.handle_), &info) != 0) return failure("lecture", errno);
  if (status s = rename_over(handle_, path_, original.path_, &info); !s.ok()) return s;
  original.created_ = false;  // the path now names the replacement
  return status::success();
}

status replacement_file::commit_over(const std::string& target) {
  struct stat info {};
  const bool replaces_a_file = ::stat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  return rename_over(handle_, path_, target, replaces_a_file ? &info : nullptr);
}

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}


// ---------------------------------------------------------------------------
// Reading a file that another instance may be writing.

shared_file::~shared_file() { close(); }

status shared_file::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failure("ouverture", errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    return failure("ouverture", error);
  }
  int locked;
  do {
    locked = ::flock(fd, LOCK_SH);
  } while (locked != 0 && errno == EINTR);
  // A file system without locks (some network shares) is still read.
  if (locked != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != EINVAL) {
    const int error = errno;
    ::close(fd);
    return failure("verrouillage", error);
  }
  handle_ = fd;
  return status::success();
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

void shared_file::close() {
  if (handle_ < 0) return;
  ::close(as_fd(handle_));  // releases the lock
  handle_ = -1;
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

}  // namespace velkrin::platform
