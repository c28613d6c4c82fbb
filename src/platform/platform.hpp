// Every call into the operating system that the program makes: the terminal,
// file locking, flushing to disk and atomic replacement. One implementation
// per platform stands beside this header (platform_posix.cpp,
// platform_win32.cpp); nothing else in the program includes a system header.
//
// Expected failures come back as a `status` carrying the system's reason in
// French; nothing here throws or ends the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkrin::platform {

class status {
 public:
  static status success() { return status(); }
  // `step` says what failed ("ouverture"), `cause` why ("c'est un dossier").
  static status failure(std::string step, std::string cause) {
    return status(std::move(step), std::move(cause));
  }

  bool ok() const { return !failed_; }
  // The step and the system's reason, in French, without a final full stop:
  // "ouverture : c'est un dossier".
  std::string reason() const { return step_ + " : " + cause_; }
  // The system's reason alone.
  const std::string& cause() const { return cause_; }

 private:
  status() = default;
  status(std::string step, std::string cause)
      : failed_(true), step_(std::move(step)), cause_(std::move(cause)) {}

  bool failed_ = false;
  std::string step_;
  std::string cause_;
};

// The French reason for an errno value (from a C or C++ library call), for
// the failures a user may meet; "erreur systeme N" for the others.
std::string errno_reason(int error);

// The program's arguments without its name, as UTF-8 strings (on Windows
// read again from the wide command line, which can name any file).
std::vector<std::string> program_arguments(int argc, char** argv);

// Readies the console at program start (a no-op where nothing is needed).
void prepare_console();

// Makes standard output take bytes as they are: on Windows, where it is
// opened in text mode, "\n" is then no longer written as CR LF. A no-op
// elsewhere. For output that fixes its own line ends (CSV).
void set_binary_output();

// Clears the screen shown by `out` and puts the cursor at its top-left corner,
// after everything written to `out` has been flushed. Writes the terminal
// sequence ESC[H ESC[2J ESC[3J to `out` unless the platform needs otherwise.
void clear_console(std::ostream& out);

// The line end of a file that the program creates.
std::string_view new_file_line_end();

// True when `path` can be opened for reading (opened and closed at once).
bool can_open_for_reading(const std::string& path);

// Follows symbolic links from `path` to the name that the last one points
// at; `path` itself when it is no link (or does not exist).
status resolve_links(const std::string& path, std::string& target);

// A file opened for reading and writing, under an exclusive advisory lock
// that other instances of the program respect. Closing releases the lock.
class locked_file {
 public:
  locked_file() = default;
  locked_file(const locked_file&) = delete;
  locked_file& operator=(const locked_file&) = delete;
  ~locked_file();

  // Opens `path` (creating it empty when missing, never truncating it), waits
  // for the exclusive lock, then makes sure `path` still names the locked file
  // (another instance may have replaced it meanwhile) and retries if not.
  status open(const std::string& path);

  // The size of a regular file; 0 for anything else (a device, say).
  status size(std::uint64_t& bytes);
  // False for a device or other special file, which must never be replaced
  // by a regular file.
  bool is_regular() const { return regular_; }
  // Reads up to `count` bytes at `offset`; `got` is 0 only at the end.
  status read_at(std::uint64_t offset, char* buffer, std::size_t count, std::size_t& got);
  // Writes all of `data` at `offset`.
  status write_at(std::uint64_t offset, std::string_view data);
  // Writes all of `data` at the end of the file with one write call.
  status append(std::string_view data);
  // Cuts the file back to `bytes` (used to undo a failed append).
  status truncate(std::uint64_t bytes);
  // Flushes the file's data to the disk and, for a file that open() created,
  // its entry in the folder.
  status sync();
  // Releases the lock and closes, reporting a failed close.
  status close();
  // When open() created the file, removes it again (best effort), so that a
  // failed first write leaves no empty logbook behind.
  void remove_if_created();

  const std::string& path() const { return path_; }
  bool created() const { return created_; }

 private:
  friend class replacement_file;

  std::string path_;
  std::intptr_t handle_ = -1;
  // Windows only: a lock held beside the file's own, from open() to close(),
  // because there the file must be closed before a replacement is renamed
  // over it. POSIX renames over the open, locked file and needs none.
  [[maybe_unused]] std::intptr_t guard_ = -1;
  bool created_ = false;
  bool regular_ = true;
};

// A temporary file, created exclusively in the same folder as the file it is
// to replace, that atomically takes its place on commit. Removed on
// destruction unless committed, so no temporary file outlives a failure.
class replacement_file {
 public:
  replacement_file() = default;
  replacement_file(const replacement_file&) = delete;
  replacement_file& operator=(const replacement_file&) = delete;
  ~replacement_file();

  // Beside a locked logbook; refused for a device or other special file.
  status create_beside(const locked_file& original);
  // Beside `target`, which need not exist.
  status create_beside(const std::string& target);
  status write(std::string_view data);
  // Flushes the data to disk, gives the file the original's permission bits
  // (its attributes on Windows), renames it over the original's path and
  // makes the rename durable. Other instances stay locked out until the
  // original is closed (on Windows its handle is closed here, as the rename
  // requires, but its lock lasts); either the old or the new contents are in
  // place at every moment.
  status commit(locked_file& original);
  // The same over a file that no lock guards: flushes the data to disk, keeps
  // the permission bits of the file it replaces (POSIX), and renames it over
  // `target` in one step.
  status commit_over(const std::string& target);

 private:
  void discard();

  std::string path_;
  std::intptr_t handle_ = -1;
};


// ---------------------------------------------------------------------------
// Reading a file that another instance may be writing.

// A file opened for reading only, under a shared lock: an instance that
// writes (and takes the lock exclusively) waits until it is closed, so a line
// being appended is never seen half written; other readers share the lock.
class shared_file {
 public:
  shared_file() = default;
  shared_file(const shared_file&) = delete;
  shared_file& operator=(const shared_file&) = delete;
  ~shared_file();

  // Opens `path` and waits for the shared lock; refuses a folder.
  status open(const std::string& path);
  // Reads on from where the last read ended; `got` is 0 only at the end.
  status read(char* buffer, std::size_t count, std::size_t& got);
  // Releases the lock and closes (also done on destruction).
  void close();

 private:
  std::intptr_t handle_ = -1;
};

// True when `path` names something that exists (a file, a folder, a device).
bool path_exists(const std::string& path);

// True when both names lead to the same existing file.
bool same_file(const std::string& first, const std::string& second);

// The characters that end a folder's name in a path.
#ifdef _WIN32
inline constexpr std::string_view kPathSeparators = "/\\";
#else
inline constexpr std::string_view kPathSeparators = "/";
#endif

// Writes `data` to a standard stream and flushes it; the system's reason
// when that fails (a full disk behind a redirection, a closed pipe).
status write_stream(std::ostream& out, std::string_view data);

}  // namespace velkrin::platform

// ---------------------------------------------------------------------------
// Network: receiving UDP datagrams (the live log from WSJT-X and JTDX), and
// ending a wait cleanly on Ctrl-C. Beside the files above, one implementation
// per platform: socket_posix.cpp and socket_win32.cpp.

namespace velkrin::platform {

// An IPv4 address in host byte order (127.0.0.1 is 0x7f000001).
using ipv4_address = std::uint32_t;

// True for a multicast group (224.0.0.0 to 239.255.255.255).
inline bool is_multicast(ipv4_address address) { return (address >> 28) == 0xE; }

// A UDP socket that receives datagrams on one address and port.
class udp_receiver {
 public:
  udp_receiver() = default;
  udp_receiver(const udp_receiver&) = delete;
  udp_receiver& operator=(const udp_receiver&) = delete;
  ~udp_receiver();

  // Binds to `address`:`port`. A multicast group is joined instead, the port
  // being shared with the other programs that listen to the same group; a
  // unicast port already in use is a failure.
  status bind(ipv4_address address, std::uint16_t port);
  // Waits at most `timeout_ms` for one datagram. `received` is false when
  // none came in time or the wait was interrupted (see interrupt_requested).
  status receive(std::string& datagram, int timeout_ms, bool& received);
  void close();

 private:
  std::intptr_t handle_ = -1;
};

// From this call on, Ctrl-C (and on POSIX SIGTERM, on Windows closing the
// console) no longer ends the program at once: it sets a flag that
// interrupt_requested() reports, and cuts short a wait in receive().
void catch_interrupt();
bool interrupt_requested();

}  // namespace velkrin::platform
