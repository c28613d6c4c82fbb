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
#include <functional>
#include <iosfwd>
#include <optional>
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
  // "ouverture : c'est un dossier"; the cause alone when no step is named.
  std::string reason() const { return step_.empty() ? cause_ : step_ + " : " + cause_; }
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

// While it lives, what is typed on the terminal of standard input is not
// shown (a password); nothing changes when standard input is no terminal.
class hidden_typing {
 public:
  hidden_typing();
  ~hidden_typing();
  hidden_typing(const hidden_typing&) = delete;
  hidden_typing& operator=(const hidden_typing&) = delete;
  // True when the typing is hidden: standard input is a terminal.
  bool active() const { return active_; }

 private:
  bool active_ = false;
  unsigned long saved_ = 0;  // the terminal's mode before
};

// Makes standard output take bytes as they are: on Windows, where it is
// opened in text mode, "\n" is then no longer written as CR LF. A no-op
// elsewhere. For output that fixes its own line ends (CSV).
void set_binary_output();

// Clears the screen shown by `out` and puts the cursor at its top-left corner,
// after everything written to `out` before. Writes the terminal sequence
// ESC[H ESC[2J ESC[3J to `out` (so in order with the screens) unless the
// platform needs otherwise, in which case `out` is flushed first.
void clear_console(std::ostream& out);

// The line end of a file that the program creates.
std::string_view new_file_line_end();

// True when `path` can be opened for reading (opened and closed at once).
bool can_open_for_reading(const std::string& path);

// Follows symbolic links from `path` to the name that the last one points
// at; `path` itself when it is no link (or does not exist).
status resolve_links(const std::string& path, std::string& target);

// The folder that holds the running program, with its separator at the end
// ("/usr/bin/", "C:\\Velkrin\\"); empty when the system does not say.
std::string program_folder();

// Waiting for a lock that another instance holds.
//
// The locks of a logbook are advisory on POSIX systems. On Windows, where
// locks are mandatory, every locker locks one byte far beyond the end of any
// file instead of the file's bytes: a reader that has released its lock then
// reads on while a QSO is appended.
//
// A wait for a lock is cut short by Ctrl-C once catch_interrupt() is in force
// (elsewhere Ctrl-C ends the program as usual): the open then fails with
// kInterruptedWaitStep and kInterruptedWaitCause.
inline constexpr std::string_view kInterruptedWaitStep = "attente du verrou";
inline constexpr std::string_view kInterruptedWaitCause = "interrompue (Ctrl-C)";
// How long a wait lasts before the caller is told (see set_wait_notice).
inline constexpr int kLongWaitMillis = 1000;

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
  // Called once when open() has waited kLongWaitMillis for the lock (another
  // instance is writing), so that the caller can say why nothing happens.
  void set_wait_notice(std::function<void()> notice) { wait_notice_ = std::move(notice); }

  // The size of a regular file; 0 for anything else (a device, say).
  status size(std::uint64_t& bytes);
  // False for a device or other special file, which must never be replaced
  // by a regular file.
  bool is_regular() const { return regular_; }
  // Reads up to `count` bytes at `offset`; `got` is 0 only at the end.
  status read_at(std::uint64_t offset, char* buffer, std::size_t count, std::size_t& got);
  // Writes all of `data` at `offset`.
  status write_at(std::uint64_t offset, std::string_view data);
  // Writes all of `data` at the end of the file: the size found when the
  // lock was taken, moved by this handle's own writes (under the lock no
  // other instance writes). A write the system cuts short is carried on.
  status append(std::string_view data);
  // Cuts the file back to `bytes` (used to undo a failed append).
  status truncate(std::uint64_t bytes);
  // Flushes the file's data to the disk and, for a file that open() created,
  // its entry in the folder (POSIX; Windows offers no flush of a folder).
  status sync();
  // Releases the lock and closes, reporting a failed close.
  status close();
  // When open() created the file, removes it again (best effort), so that a
  // failed first write leaves no empty logbook behind.
  void remove_if_created();

  const std::string& path() const { return path_; }
  bool created() const { return created_; }

  // Like open(), but never creates the file: a missing `path` is a success
  // with `missing` set and nothing open, so that a new file can be made
  // whole elsewhere and put in place (replacement_file::commit_new).
  status open_existing(const std::string& path, bool& missing);
  // The size that the file had when its lock was taken (0 for a device),
  // without asking the system again.
  std::uint64_t size_when_locked() const { return size_when_locked_; }
  // What the file is, whatever its name: equal for two opens of one file.
  std::pair<std::uint64_t, std::uint64_t> identity() const { return identity_; }

 private:
  friend class replacement_file;
  status open_locked(const std::string& path, bool create, bool& missing);

  std::string path_;
  std::intptr_t handle_ = -1;
  std::function<void()> wait_notice_;
  // Windows only: a lock held beside the file's own, from open() to close(),
  // for the systems where the file must be closed before a replacement is
  // renamed over it (before Windows 10 version 1709, FAT, exFAT, some
  // network folders). It reaches the instances of this session only. POSIX
  // renames over the open, locked file and needs none.
  [[maybe_unused]] std::intptr_t guard_ = -1;
  bool created_ = false;
  bool regular_ = true;
  std::uint64_t size_when_locked_ = 0;
  std::pair<std::uint64_t, std::uint64_t> identity_{0, 0};
};

// A temporary file, created exclusively in the same folder as the file it is
// to replace (named as the section "Temporary files" below says), that
// atomically takes its place on commit. Removed on destruction unless
// committed, so no temporary file outlives a failure; removed by the signal
// handlers too. Each create_beside first removes the temporary files that
// killed runs left beside the same file.
class replacement_file {
 public:
  replacement_file() = default;
  replacement_file(const replacement_file&) = delete;
  replacement_file& operator=(const replacement_file&) = delete;
  ~replacement_file();

  // Beside a locked logbook; refused for a device or other special file.
  // Readable by its owner only until commit() gives it the logbook's bits.
  status create_beside(const locked_file& original);
  // Beside `target`, which need not exist: private while it is written if
  // `target` exists, otherwise with the bits any new file gets.
  status create_beside(const std::string& target);
  status write(std::string_view data);
  // Gives the file the original's permission bits and group, and its owner
  // where the system allows it (its attributes on Windows), flushes the
  // data to disk, renames it over the original's path while the original
  // stays open and locked, and flushes the folder (a failure of that last
  // flush is not reported: the file is in place and whole). Other instances
  // stay locked out until the original is closed; either the old or the new
  // contents are in place at every moment. Where Windows refuses to rename
  // over an open file, the original is closed first and only the folder
  // guard of this session covers that moment (see locked_file::guard_).
  status commit(locked_file& original);
  // The same over a file that no lock guards: keeps the permission bits and
  // group of the file it replaces (POSIX), flushes the data to disk, and
  // renames it over `target` in one step.
  status commit_over(const std::string& target);

  // Puts the file in place as `target`, which must not exist: refused, with
  // refused_existing() set, when something has taken that name meanwhile,
  // so that a new file appears whole or not at all and never over another.
  // A new file keeps the permission bits it was created with (those any new
  // file gets); the folder is flushed.
  status commit_new(const std::string& target);
  // Set when commit_new() (or output_file::open) found the name taken.
  bool refused_existing() const { return refused_existing_; }

 private:
  void discard();
  status create_named_after(const std::string& target, bool private_until_commit);

  std::string path_;
  std::intptr_t handle_ = -1;
  // Where the path is recorded for the signal handlers (-1: nowhere).
  int live_slot_ = -1;
  bool refused_existing_ = false;
};

// ---------------------------------------------------------------------------
// Reading a file that another instance may be writing.

// A file opened for reading only, under a shared lock: other readers share
// it, an instance that writes (taking it exclusively) waits for it. A reader
// releases it with unlock() as soon as it has read what must be read under
// it, and reads on without it, so that no writer waits for what the reader
// does with what it reads (see file_source, for a logbook).
class shared_file {
 public:
  shared_file() = default;
  shared_file(const shared_file&) = delete;
  shared_file& operator=(const shared_file&) = delete;
  ~shared_file();

  // Opens `path` and waits for the shared lock (see "Waiting for a lock"
  // above), then makes sure `path` still names the locked file (another
  // instance may have renamed a new file over it meanwhile) and retries if
  // not; refuses a folder. The size is noted under the lock.
  status open(const std::string& path);
  // Releases the lock and keeps the file open: it stays the file that was
  // locked, even when another file is renamed over its name later.
  void unlock();
  // False for a pipe, a device or another special file, which has no size.
  bool is_regular() const { return regular_; }
  // The size of a regular file when open() held the lock.
  std::uint64_t size_when_locked() const { return size_when_locked_; }
  // Reads on from where the last read ended; `got` is 0 only at the end.
  status read(char* buffer, std::size_t count, std::size_t& got);
  // Reads up to `count` bytes at `offset`; `got` is 0 only at the end. Do not
  // mix with read() on one file: where it leaves the next read() differs.
  status read_at(std::uint64_t offset, char* buffer, std::size_t count, std::size_t& got);
  // Releases the lock and closes (also done on destruction).
  void close();

 private:
  std::intptr_t handle_ = -1;
  bool locked_ = false;
  bool regular_ = false;
  std::uint64_t size_when_locked_ = 0;
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

// ---------------------------------------------------------------------------
// Temporary files and what a killed run leaves.
//
// A temporary file is created exclusively beside the file it stands for, and
// named after it so that no user would give that name and so that it says
// whose it is: ".journal_de_bord.txt.velkrin-tmp-" and six letters or digits
// beside "journal_de_bord.txt". Its maker holds a lock on it (POSIX) or keeps
// it open without delete sharing (Windows) for as long as it lives, so that a
// live one is never mistaken for a leftover.
//
// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break and closing the
// console window) remove every live temporary file of the program, then end
// it by the same signal, so that its status still says which. The handlers
// are installed when the first temporary file is made; a signal that was
// ignored when the program started stays ignored.

// True when `name` (a name without folder) is a temporary file of this
// program beside a file named `target_name`.
bool is_temporary_name_for(std::string_view name, std::string_view target_name);

// Removes the temporary files that killed runs left beside `target`: only
// names of the form above, and only those that no live process holds.
// Reads the folder once; best effort, failures are ignored.
void remove_leftover_temporaries(const std::string& target);

// ---------------------------------------------------------------------------
// Output files of the commands (an export, say).
//
// A regular file is written to a temporary file beside it and renamed over
// it whole at commit(); a symbolic link is followed to its target, which is
// what gets replaced, and the link stays. A named pipe, a device or any other
// special file is written in place, never replaced by a regular file. A new
// file gets the permission bits that any new file gets (the umask); a
// replaced one keeps its own, and its group where the system allows it. On
// every open the temporary files left beside the output by killed runs are
// removed.
class output_file {
 public:
  output_file() = default;
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  ~output_file();

  // Without `replace`, an existing file (or a link whose target does not
  // exist) is refused, with refused_existing() set; the test and the final
  // rename cannot race with another program creating the file: the rename
  // itself refuses to replace. Special files are written in place either way.
  status open(const std::string& path, bool replace);
  bool refused_existing() const { return refused_existing_ || replacement_.refused_existing(); }
  // The name of the file that is written: `path`, or the end of its links.
  const std::string& target() const { return target_; }
  status write(std::string_view data);
  // Flushes and puts the file in place; a special file is only closed.
  status commit();

 private:
  replacement_file replacement_;
  std::string target_;
  std::intptr_t in_place_ = -1;
  bool replace_ = false;
  bool refused_existing_ = false;
};

// ---------------------------------------------------------------------------
// The console window.

// When the program owns its console window (started by a double click on
// Windows: the window closes with it) and its input is that console, writes
// "Appuyez sur Entree pour fermer cette fenetre." to `err` and waits for
// Enter. Does nothing elsewhere: in a console the user opened, with input
// redirected, and on POSIX systems.
void wait_before_closing_own_window(std::ostream& err);

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

// Where a datagram came from and the address it was sent to (a multicast
// group, or one of this machine's addresses).
struct datagram_addresses {
  ipv4_address sender = 0;
  ipv4_address destination = 0;
};

// The IPv4 addresses of this machine's network interfaces, loopback
// included (127.0.0.1), read anew at each call.
status local_addresses(std::vector<ipv4_address>& addresses);

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
  // Waits at most `timeout_ms` for one datagram, and says who sent it to
  // which address. `received` is false when none came in time or the wait
  // was interrupted (see interrupt_requested).
  status receive(std::string& datagram, int timeout_ms, bool& received,
                 datagram_addresses& addresses);
  void close();

 private:
  std::intptr_t handle_ = -1;
};

// From this call on, Ctrl-C (and on POSIX SIGTERM and SIGHUP, on Windows
// Ctrl+Break) no longer ends the program at once: it sets a flag that
// interrupt_requested() reports, and cuts short a wait in receive().
// Closing the console window on Windows still ends it, as before. The same handlers serve the
// temporary files (see "Temporary files" above): once this is called they no longer remove them and
// end the program, since the program goes on and removes or commits each one itself. Ctrl-C and
// SIGTERM are caught even when the program started with them ignored, as in a script's background
// job.
void catch_interrupt();
bool interrupt_requested();

}  // namespace velkrin::platform

// ---------------------------------------------------------------------------
// Running another program (TQSL, LoTW's signer) and waiting for it. Beside
// the files above, one implementation per platform: process_posix.cpp and
// process_win32.cpp.

namespace velkrin::platform {

// A variable of the environment a started program gets: set to `value`, or
// removed when there is none. Every other variable is passed on as it is.
struct environment_change {
  std::string name;
  std::optional<std::string> value;
};

// How much of a program's output run_program() keeps by default: its last
// bytes, so that its final status line is always among them.
inline constexpr std::size_t kDefaultOutputLimit = std::size_t{1} << 20;

struct program_request {
  std::string program;                 // its path, UTF-8 (see find_program)
  std::vector<std::string> arguments;  // without the program's own name, UTF-8
  std::string input;                   // written to its standard input, which is then closed
  std::vector<environment_change> environment;
  int time_limit_ms = 0;                           // 0: no limit
  std::size_t output_limit = kDefaultOutputLimit;  // at least 1
};

struct program_result {
  // Its standard output and standard error together, in the order written
  // (both go to one pipe), as bytes: the last `output_limit` of them.
  std::string output;
  bool output_truncated = false;  // the first bytes were dropped
  int exit_status = -1;           // -1 when it did not exit by itself
  int signal = 0;                 // POSIX: the signal that ended it, if one did
  // Ended by the time limit: the program and everything it started were
  // killed (on POSIX its process group, on Windows its job object).
  bool timed_out = false;
  // Ended because Ctrl-C was caught (see catch_interrupt), killed the same
  // way. The program runs in a process group of its own, which a terminal's
  // Ctrl-C does not reach.
  bool interrupted = false;
};

// Starts `request.program` with its arguments (on Windows quoted so that the
// program's own reading of its command line gets them back as they are),
// feeds it `request.input`, collects what it writes and waits until it ends
// or the time limit passes. A program that cannot be started (not found,
// not executable) is a failure with step "lancement" and the reason in
// French; once started, every ending is a success described by `result`.
status run_program(const program_request& request, program_result& result);

// The program named `name`: `name` itself when it holds a folder separator
// and is an executable file; else the first executable `name` in the
// folders of PATH (on Windows with ".exe" added when `name` has no
// extension); else the first of `candidates` that is an existing file.
// Empty when none is found.
std::string find_program(const std::string& name, const std::vector<std::string>& candidates = {});

// The value of an environment variable of this program (UTF-8); nothing when
// it is not set.
std::optional<std::string> environment_value(const std::string& name);

}  // namespace velkrin::platform
