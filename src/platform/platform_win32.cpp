// Windows side of the platform layer, built with MinGW-w64.
//
// Paths: the program names its files with narrow strings in UTF-8, the
// encoding of all its texts. They are converted with CP_UTF8 (not CP_ACP) and
// opened with the wide calls, so that a name means the same file whatever the
// user's ANSI code page, and a character outside that code page still works.
//
// Standard output and standard error stay in the C runtime's text mode: each
// "\n" reaches the console, a pipe or a file as CR LF.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "platform/temporary_names.hpp"

namespace velkrin::platform {
namespace {

constexpr std::string_view kClearSequence = "\x1b[H\x1b[2J\x1b[3J";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int kMaxReopenTries = 100;
constexpr int kMaxTemporaryNameTries = 100;
// A viewer, a virus scanner or another instance's existence test may hold the
// logbook or the new file open for a moment, which makes a rename fail with
// a sharing or lock violation: tried again for 2 seconds. "Access denied"
// is most often a real refusal (a read-only file, no right to the folder),
// but is also what a file being deleted, or open with delete sharing,
// answers for a moment: tried again only briefly.
constexpr int kMaxRenameTries = 100;
constexpr int kMaxDeniedRenameTries = 5;
constexpr DWORD kRenameRetryMillis = 20;
// The largest piece handed to one ReadFile or WriteFile call.
constexpr std::size_t kMaxIoChunk = 1u << 30;

// What prepare_console found, for clear_console and for restoring the
// console when the program ends.
struct console_state {
  bool prepared = false;
  bool is_console = false;
  bool virtual_terminal_refused = false;
  DWORD original_mode = 0;
  UINT original_output_code_page = 0;
};

console_state& the_console() {
  static console_state state;
  return state;
}

// The console belongs to the shell that started the program: give it back
// its code page and mode.
void restore_console() {
  if (!the_console().is_console) return;
  const console_state& state = the_console();
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  SetConsoleMode(out, state.original_mode);
  SetConsoleOutputCP(state.original_output_code_page);
}

void clear_through_console_api() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(out, &info)) return;
  const DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
  const COORD origin{0, 0};
  DWORD done = 0;
  FillConsoleOutputCharacterW(out, L' ', cells, origin, &done);
  FillConsoleOutputAttribute(out, info.wAttributes, cells, origin, &done);
  SetConsoleCursorPosition(out, origin);
}

// The system's own text for an error, in UTF-8, without the final line end.
std::string system_message(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length > 0) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
    message.assign(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), bytes, nullptr,
                        nullptr);
  }
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

// The system's reason in French, for the failures a user may meet.
std::string french_reason(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "plus de place sur le disque";
    case ERROR_ACCESS_DENIED:
      return "permission refusee";
    case ERROR_WRITE_PROTECT:
      return "disque protege en ecriture";
    case ERROR_SHARING_VIOLATION:
      return "fichier utilise par un autre programme";
    case ERROR_LOCK_VIOLATION:
      return "fichier verrouille par un autre programme";
    case ERROR_FILE_NOT_FOUND:
      return "fichier introuvable";
    case ERROR_PATH_NOT_FOUND:
      return "dossier introuvable";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "trop de fichiers ouverts";
    case ERROR_FILENAME_EXCED_RANGE:
      return "nom de fichier trop long";
    case ERROR_INVALID_NAME:
    case ERROR_NO_UNICODE_TRANSLATION:
      return "nom de fichier invalide";
    case ERROR_NOT_READY:
      return "disque non pret";
    case ERROR_FILE_TOO_LARGE:
      return "fichier trop grand";
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return "erreur d'entree-sortie";
    case ERROR_NETNAME_DELETED:
    case ERROR_BAD_NETPATH:
    case ERROR_UNEXP_NET_ERR:
      return "connexion reseau perdue";
    default: {
      std::string reason = "erreur systeme " + std::to_string(error);
      if (std::string text = system_message(error); !text.empty()) reason += " (" + text + ")";
      return reason;
    }
  }
}

status failure(std::string_view what, DWORD error) {
  return status::failure(std::string(what), french_reason(error));
}

HANDLE as_handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t as_integer(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }
constexpr std::intptr_t kNoHandle = -1;  // INVALID_HANDLE_VALUE, as an integer

status widen(const std::string& path, std::wstring& wide) {
  wide.clear();
  if (path.empty()) return failure("ouverture", ERROR_INVALID_NAME);
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                         static_cast<int>(path.size()), nullptr, 0);
  if (length <= 0) return failure("ouverture", GetLastError());
  wide.assign(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                      wide.data(), length);
  return status::success();
}

std::string narrow(const std::wstring& wide) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes,
                      nullptr, nullptr);
  return text;
}

// The folder that holds `path`: "C:\\" for "C:\\x" (not "C:", which names
// the current folder of drive C), "C:" for the drive-relative "C:x".
std::wstring folder_of(const std::wstring& path) {
  const bool drive = path.size() >= 2 && path[1] == L':';
  const auto separator = path.find_last_of(L"/\\");
  if (separator == std::wstring::npos) return drive ? path.substr(0, 2) : L".";
  if (separator == 0) return path.substr(0, 1);
  if (drive && separator == 2) return path.substr(0, 3);
  return path.substr(0, separator);
}

// The folder part of `path` with its final separator ("" for a bare name;
// "C:" for "C:x").
std::string folder_prefix_of(const std::string& path) {
  const auto separator = path.find_last_of("/\\");
  if (separator != std::string::npos) return path.substr(0, separator + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return std::string();
}

std::string file_name_of(const std::string& path) {
  return path.substr(folder_prefix_of(path).size());
}

std::wstring hex(std::uint64_t value) {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring digits;
  do {
    digits.insert(digits.begin(), kDigits[value & 0xf]);
    value >>= 4;
  } while (value != 0);
  return digits;
}

// A failed open of `path` for writing. Windows answers "access denied" for a
// folder; say what it is.
status open_failure(const std::wstring& path, DWORD error) {
  if (error == ERROR_ACCESS_DENIED) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return status::failure("ouverture", "c'est un dossier");
    }
  }
  return failure("ouverture", error);
}

// The volume and file index that name a file or folder, opened without any
// access to its data (a folder needs FILE_FLAG_BACKUP_SEMANTICS).
bool identify(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  return known;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Where Windows refuses to rename a file over one that is open (before
// Windows 10 version 1709, on FAT and exFAT, on some network folders), a
// replacement must close the logbook, and with it its lock, before the
// rename. Instances in this session therefore also take a named mutex, one
// per folder, held from the open to the close: none of them reaches the
// logbook between that close and the rename. (Instances in another session,
// or on another computer sharing the folder, meet only the file lock: it
// keeps appended lines whole, but does not cover that moment. Elsewhere the
// rename keeps the logbook open and locked: replacement_file::commit.)
status take_folder_guard(const std::wstring& path, std::intptr_t& guard,
                         const std::function<void()>& notice) {
  BY_HANDLE_FILE_INFORMATION folder{};
  if (!identify(folder_of(path), folder)) return failure("ouverture du dossier", GetLastError());
  const std::wstring name =
      L"Local\\velkrin-" + hex(folder.dwVolumeSerialNumber) + L"-" +
      hex((std::uint64_t{folder.nFileIndexHigh} << 32) | folder.nFileIndexLow);
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return failure("verrouillage", GetLastError());
  // Waited for in short slices, as the file lock is (wait_for_lock).
  constexpr DWORD kSliceMillis = 20;
  const ULONGLONG start = GetTickCount64();
  bool told = false;
  DWORD waited = WAIT_TIMEOUT;
  while ((waited = WaitForSingleObject(mutex, kSliceMillis)) == WAIT_TIMEOUT) {
    if (interrupt_requested()) {
      CloseHandle(mutex);
      return status::failure(std::string(kInterruptedWaitStep), std::string(kInterruptedWaitCause));
    }
    if (!told && GetTickCount64() - start >= static_cast<ULONGLONG>(kLongWaitMillis)) {
      told = true;
      if (notice) notice();
    }
  }
  // An instance that was killed while holding the mutex abandons it; the
  // file itself is then as the failure guarantees describe.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    const DWORD error = GetLastError();
    CloseHandle(mutex);
    return failure("verrouillage", error);
  }
  guard = as_integer(mutex);
  return status::success();
}

void release_folder_guard(std::intptr_t& guard) {
  if (guard == kNoHandle) return;
  ReleaseMutex(as_handle(guard));
  CloseHandle(as_handle(guard));
  guard = kNoHandle;
}

OVERLAPPED at_offset(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xffffffffu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

// The byte that every locker of a file locks, exclusively or shared: far
// beyond the end of any file, so that the lock, mandatory on Windows, never
// covers the file's data. A reader that has released its lock reads on while
// another instance appends under its own. (Older versions of the program
// locked the whole file, this byte included: they still exclude each other.)
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;

void unlock_range(HANDLE file) {
  OVERLAPPED position = at_offset(kLockOffset);
  UnlockFileEx(file, 0, 1, 0, &position);
}

// Takes the lock on `file`, exclusive or shared, as wait_for_lock() does on
// POSIX: tried again every few milliseconds while another instance holds it,
// so that Ctrl-C caught by catch_interrupt() ends the wait, and `notice`
// (when given) is called once the wait has lasted kLongWaitMillis.
status wait_for_lock(HANDLE file, bool exclusive, const std::function<void()>& notice) {
  constexpr DWORD kRetryPauseMillis = 5;
  const ULONGLONG start = GetTickCount64();
  bool told = false;
  for (;;) {
    OVERLAPPED position = at_offset(kLockOffset);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(file, flags, 0, 1, 0, &position)) return status::success();
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
      return failure("verrouillage", error);
    }
    if (interrupt_requested()) {
      return status::failure(std::string(kInterruptedWaitStep), std::string(kInterruptedWaitCause));
    }
    if (!told && GetTickCount64() - start >= static_cast<ULONGLONG>(kLongWaitMillis)) {
      told = true;
      if (notice) notice();
    }
    Sleep(kRetryPauseMillis);
  }
}

// Unlocks and closes; false when the close failed.
bool unlock_and_close(std::intptr_t& handle) {
  if (handle == kNoHandle) return true;
  const HANDLE file = as_handle(handle);
  handle = kNoHandle;
  unlock_range(file);
  return CloseHandle(file) != 0;
}

status write_all(HANDLE file, std::uint64_t offset, std::string_view data, std::string_view what) {
  while (!data.empty()) {
    OVERLAPPED position = at_offset(offset);
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min(data.size(), kMaxIoChunk));
    if (!WriteFile(file, data.data(), piece, &written, &position)) {
      return failure(what, GetLastError());
    }
    if (written == 0) return failure(what, ERROR_WRITE_FAULT);
    data.remove_prefix(written);
    offset += written;
  }
  return status::success();
}

// Renames the closed temporary file `temporary` over `target` in one step
// (or, with `no_replace`, only while `target` does not exist), and clears
// `temporary` once it is gone.
//
// The data was flushed before. MOVEFILE_WRITE_THROUGH waits for a move that
// is done as a copy, across volumes; the system documents nothing more, and
// for a rename within one folder it adds nothing. Such a rename is one step
// for every program: on NTFS it is also one step in the file system's
// journal, so a power cut leaves the old file or the new one. FAT and exFAT
// (memory sticks, SD cards) have no journal: a power cut or a stick pulled
// out during the rename itself may leave the folder needing a repair
// (chkdsk); once the rename has returned and the stick is ejected safely,
// the new file is there.
status rename_over(std::string& temporary, const std::string& target, bool no_replace = false) {
  std::wstring from;
  std::wstring to;
  if (status s = widen(temporary, from); !s.ok()) return s;
  if (status s = widen(target, to); !s.ok()) return s;
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (no_replace ? 0 : MOVEFILE_REPLACE_EXISTING);
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), flags)) break;
    const DWORD error = GetLastError();
    const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    const bool denied = error == ERROR_ACCESS_DENIED && attempt + 1 < kMaxDeniedRenameTries;
    if ((!busy && !denied) || attempt + 1 >= kMaxRenameTries) {
      return failure("remplacement", error);
    }
    Sleep(kRenameRetryMillis);
  }
  temporary.clear();
  return status::success();
}

// ---------------------------------------------------------------------------
// The live temporary files, for the console control handler: Ctrl+C,
// Ctrl+Break and closing the window run it on a thread of its own, while the
// program goes on. The lock makes each change of the list one step for it.

struct live_temporary {
  std::wstring path;
  HANDLE handle = INVALID_HANDLE_VALUE;  // open with DELETE access, or closed
  bool used = false;
};

constexpr int kLiveSlots = 8;

struct live_temporaries {
  CRITICAL_SECTION lock;
  live_temporary slots[kLiveSlots];
  live_temporaries() { InitializeCriticalSection(&lock); }
};

live_temporaries& the_live_temporaries() {
  static live_temporaries live;
  return live;
}

class live_lock {
 public:
  live_lock() { EnterCriticalSection(&the_live_temporaries().lock); }
  ~live_lock() { LeaveCriticalSection(&the_live_temporaries().lock); }
  live_lock(const live_lock&) = delete;
  live_lock& operator=(const live_lock&) = delete;
};

// Set by catch_interrupt(): Ctrl+C and Ctrl+Break then only raise
// interrupt_flag.
std::atomic<bool> interrupts_caught{false};
std::atomic<bool> interrupt_flag{false};

// The one console control handler of the whole program.
BOOL WINAPI remove_live_temporaries_and_end(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  interrupt_flag = true;
  // Closing the window ends the program whatever the handler says, as soon
  // as it returns: the temporary files are removed then too.
  if (interrupts_caught && event != CTRL_CLOSE_EVENT) return TRUE;
  // Entered and never left: the program must not start another temporary
  // file before the default handler ends it.
  EnterCriticalSection(&the_live_temporaries().lock);
  for (live_temporary& slot : the_live_temporaries().slots) {
    if (!slot.used) continue;
    if (slot.handle != INVALID_HANDLE_VALUE) {
      // Open without delete sharing: removed through its own handle, when
      // the process ends and the handle closes.
      FILE_DISPOSITION_INFO disposition{};
      disposition.DeleteFile = TRUE;
      SetFileInformationByHandle(slot.handle, FileDispositionInfo, &disposition,
                                 sizeof disposition);
    } else {
      DeleteFileW(slot.path.c_str());
    }
  }
  restore_console();
  // The next handler, the system's own, ends the program as Ctrl+C does
  // (status STATUS_CONTROL_C_EXIT).
  return FALSE;
}

void install_control_handler_once() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  SetConsoleCtrlHandler(remove_live_temporaries_and_end, TRUE);
}

int record_live(const std::wstring& path, HANDLE handle) {
  const live_lock held;
  for (int slot = 0; slot < kLiveSlots; ++slot) {
    live_temporary& live = the_live_temporaries().slots[slot];
    if (live.used) continue;
    live.path = path;
    live.handle = handle;
    live.used = true;
    return slot;
  }
  return -1;
}

// The handle of a live temporary file is about to be closed.
void mark_closed(int slot) {
  if (slot < 0) return;
  const live_lock held;
  the_live_temporaries().slots[slot].handle = INVALID_HANDLE_VALUE;
}

void forget_live(int& slot) {
  if (slot < 0) return;
  const live_lock held;
  live_temporary& live = the_live_temporaries().slots[slot];
  live.used = false;
  live.handle = INVALID_HANDLE_VALUE;
  live.path.clear();
  slot = -1;
}

}  // namespace

namespace {

// Standard input when it is a console: read as UTF-16 (ReadConsoleW) and
// handed to the program as UTF-8, the encoding of its output and of the
// logbook, whatever the console's code page. Line ends come as "\n", as the
// C runtime's text mode gives them; a line that begins with Ctrl+Z ends the
// input, as it does for the C runtime.
class console_input_buffer : public std::streambuf {
 public:
  explicit console_input_buffer(HANDLE console) : console_(console) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (ended_ || !fill()) return traits_type::eof();
    return traits_type::to_int_type(*gptr());
  }

 private:
  bool fill() {
    for (;;) {
      wchar_t wide[1024];
      DWORD got = 0;
      if (!ReadConsoleW(console_, wide, static_cast<DWORD>(std::size(wide)), &got, nullptr) ||
          got == 0) {
        ended_ = true;
        return false;
      }
      std::wstring text(wide, got);
      if (at_line_start_ && !text.empty() && text.front() == L'\x1a') {
        ended_ = true;
        return false;
      }
      at_line_start_ = text.back() == L'\n';
      // A character split between two reads (a surrogate pair) waits for
      // its second half.
      text.insert(0, pending_);
      pending_.clear();
      if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
        pending_ = text.back();
        text.pop_back();
      }
      std::wstring lines;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') continue;
        lines.push_back(text[i]);
      }
      std::string bytes = narrow(lines);
      if (bytes.empty()) continue;
      buffer_ = std::move(bytes);
      setg(buffer_.data(), buffer_.data(), buffer_.data() + buffer_.size());
      return true;
    }
  }

  HANDLE console_;
  std::string buffer_;
  std::wstring pending_;
  bool ended_ = false;
  bool at_line_start_ = true;
};

void read_console_as_unicode() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return;
  static console_input_buffer buffer(in);
  std::cin.rdbuf(&buffer);
}

}  // namespace

void set_binary_output() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

hidden_typing::hidden_typing() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return;
  saved_ = mode;
  active_ = SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

hidden_typing::~hidden_typing() {
  if (active_) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), static_cast<DWORD>(saved_));
}

void prepare_console() {
  console_state& state = the_console();
  if (state.prepared) return;
  state.prepared = true;
  // Input first: redirected input passes unchanged.
  read_console_as_unicode();
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == nullptr || out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return;
  state.is_console = true;
  state.original_mode = mode;
  state.original_output_code_page = GetConsoleOutputCP();
  // The program's texts are UTF-8 (the "à" of the summary).
  SetConsoleOutputCP(CP_UTF8);
  // Windows before 10 refuses virtual-terminal processing; clear_console then
  // falls back on the console API.
  state.virtual_terminal_refused = !SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  std::atexit(restore_console);
}

void clear_console(std::ostream& out) {
  const console_state& state = the_console();
  if (&out == &std::cout && state.is_console && state.virtual_terminal_refused) {
    out.flush();  // the screens first, then the console API
    clear_through_console_api();
    return;
  }
  out << kClearSequence;
}

std::string_view new_file_line_end() { return "\r\n"; }

bool can_open_for_reading(const std::string& path) {
  std::wstring wide;
  if (!widen(path, wide).ok()) return false;
  // FILE_FLAG_BACKUP_SEMANTICS opens a folder too, as POSIX does: a folder
  // in the logbook's place then fails at the write, with its reason, instead
  // of being reported as a missing logbook.
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// A symbolic link (a reparse point) is opened, which follows it to the end,
// and the final name of what was opened is taken, so that a header rewrite
// replaces the target and the link stays a link. Anything else keeps its
// name as given (relative, say).
std::string program_folder() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      break;
    }
    if (name.size() > 32768) return {};
    name.resize(name.size() * 2);
  }
  const std::size_t separator = name.find_last_of(L"/\\");
  return separator == std::wstring::npos ? std::string() : narrow(name.substr(0, separator + 1));
}

status resolve_links(const std::string& path, std::string& target) {
  target = path;
  std::wstring wide;
  if (!widen(path, wide).ok()) return status::success();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return status::success();
  }
  const HANDLE file = CreateFileW(wide.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failure("lecture du lien", GetLastError());
  std::wstring final_name(MAX_PATH, L'\0');
  DWORD length = 0;
  for (;;) {
    length = GetFinalPathNameByHandleW(file, final_name.data(),
                                       static_cast<DWORD>(final_name.size()), FILE_NAME_NORMALIZED);
    if (length < final_name.size()) break;
    final_name.resize(length);  // too small: `length` counts the final null too
  }
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (length == 0) return failure("lecture du lien", error);
  final_name.resize(length);
  // "\\?\C:\..." becomes "C:\..." when short enough for every call;
  // other forms (network shares, long names) stay as they are.
  constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
  if (final_name.starts_with(kLongPrefix) && final_name.size() - kLongPrefix.size() < MAX_PATH &&
      final_name.size() > kLongPrefix.size() + 2 && final_name[kLongPrefix.size() + 1] == L':') {
    final_name.erase(0, kLongPrefix.size());
  }
  target = narrow(final_name);
  return status::success();
}

locked_file::~locked_file() {
  unlock_and_close(handle_);
  release_folder_guard(guard_);
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
  std::wstring wide;
  if (status s = widen(path, wide); !s.ok()) return s;
  // The caller is told once, whichever of the two waits below is long.
  bool told = false;
  const std::function<void()> notice = [this, &told] {
    if (!told && wait_notice_) wait_notice_();
    told = true;
  };
  if (status s = take_folder_guard(wide, guard_, notice); !s.ok()) return s;
  for (int attempt = 0; attempt < kMaxReopenTries; ++attempt) {
    bool created = false;
    // Delete sharing lets a replacement be renamed over the file while it
    // stays open and locked (replacement_file::commit).
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND && !create) {
      release_folder_guard(guard_);
      missing = true;
      return status::success();
    }
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
      file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
      created = file != INVALID_HANDLE_VALUE;
      if (!created && GetLastError() == ERROR_FILE_EXISTS) continue;
    }
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      release_folder_guard(guard_);
      return open_failure(wide, error);
    }
    std::intptr_t handle = as_integer(file);
    if (status s = wait_for_lock(file, true, notice); !s.ok()) {
      CloseHandle(file);
      release_folder_guard(guard_);
      return s;
    }
    // An instance on another computer may have renamed a new file over the
    // path, or the user may have removed it, while we waited for the lock.
    // On a network folder a cache may still name the replaced file: it then
    // has no link left, and is treated as replaced too.
    BY_HANDLE_FILE_INFORMATION held{};
    if (!GetFileInformationByHandle(file, &held)) {
      const DWORD error = GetLastError();
      unlock_and_close(handle);
      release_folder_guard(guard_);
      return failure("ouverture", error);
    }
    const bool device = GetFileType(file) != FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION named{};
    if (device || (held.nNumberOfLinks > 0 && identify(wide, named) && same_file(held, named))) {
      path_ = path;
      handle_ = handle;
      created_ = created;
      // A device (NUL, COM1...) is written in place, never replaced.
      regular_ = !device;
      size_when_locked_ =
          regular_ ? (std::uint64_t{held.nFileSizeHigh} << 32) | held.nFileSizeLow : 0;
      identity_ = {held.dwVolumeSerialNumber,
                   (std::uint64_t{held.nFileIndexHigh} << 32) | held.nFileIndexLow};
      return status::success();
    }
    unlock_and_close(handle);
    if (!create && GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND) {
      release_folder_guard(guard_);
      missing = true;
      return status::success();
    }
  }
  release_folder_guard(guard_);
  return failure("ouverture", ERROR_SHARING_VIOLATION);
}

status locked_file::size(std::uint64_t& bytes) {
  bytes = 0;
  if (!regular_) return status::success();
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(as_handle(handle_), &length)) return failure("lecture", GetLastError());
  bytes = static_cast<std::uint64_t>(length.QuadPart);
  return status::success();
}

namespace {

// Up to `count` bytes of `handle` at `offset`, for both kinds of file.
status read_handle_at(std::intptr_t handle, std::uint64_t offset, char* buffer, std::size_t count,
                      std::size_t& got) {
  OVERLAPPED position = at_offset(offset);
  DWORD read = 0;
  const auto piece = static_cast<DWORD>(std::min(count, kMaxIoChunk));
  if (!ReadFile(as_handle(handle), buffer, piece, &read, &position)) {
    const DWORD error = GetLastError();
    if (error != ERROR_HANDLE_EOF) return failure("lecture", error);
    read = 0;
  }
  got = read;
  return status::success();
}

}  // namespace

status locked_file::read_at(std::uint64_t offset, char* buffer, std::size_t count,
                            std::size_t& got) {
  return read_handle_at(handle_, offset, buffer, count, got);
}

status locked_file::write_at(std::uint64_t offset, std::string_view data) {
  status s = write_all(as_handle(handle_), offset, data, "ecriture");
  if (s.ok() && regular_ && offset + data.size() > size_when_locked_) {
    size_when_locked_ = offset + data.size();
  }
  return s;
}

status locked_file::append(std::string_view data) {
  // Under the lock no other instance writes: the end is the size found when
  // the lock was taken, moved by this handle's own writes.
  return write_at(size_when_locked_, data);
}

status locked_file::truncate(std::uint64_t bytes) {
  LARGE_INTEGER length{};
  length.QuadPart = static_cast<LONGLONG>(bytes);
  const HANDLE file = as_handle(handle_);
  if (!SetFilePointerEx(file, length, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    return failure("ecriture", GetLastError());
  }
  if (regular_) size_when_locked_ = bytes;
  return status::success();
}

status locked_file::sync() {
  if (!FlushFileBuffers(as_handle(handle_))) {
    return failure("ecriture sur le disque", GetLastError());
  }
  return status::success();
}

status locked_file::close() {
  const bool closed = unlock_and_close(handle_);
  const DWORD error = GetLastError();
  release_folder_guard(guard_);
  if (!closed) return failure("fermeture", error);
  return status::success();
}

void locked_file::remove_if_created() {
  if (created_ && !path_.empty()) {
    // Windows deletes an open file only at its last close: close it first.
    unlock_and_close(handle_);
    std::wstring wide;
    if (widen(path_, wide).ok()) DeleteFileW(wide.c_str());
  }
  created_ = false;
}

replacement_file::~replacement_file() { discard(); }

void replacement_file::discard() {
  if (handle_ != kNoHandle) {
    // Open without delete sharing, so removed through its own handle.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(as_handle(handle_), FileDispositionInfo, &disposition,
                               sizeof disposition);
    mark_closed(live_slot_);
    CloseHandle(as_handle(handle_));
  }
  handle_ = kNoHandle;
  std::wstring wide;
  if (!path_.empty() && widen(path_, wide).ok()) DeleteFileW(wide.c_str());
  forget_live(live_slot_);
  path_.clear();
}

status replacement_file::create_beside(const locked_file& original) {
  if (!original.regular_) return failure("remplacement", ERROR_ACCESS_DENIED);
  return create_named_after(original.path_, true);
}

status replacement_file::create_beside(const std::string& target) {
  return create_named_after(target, false);
}

status replacement_file::create_named_after(const std::string& target, bool) {
  discard();
  refused_existing_ = false;
  remove_leftover_temporaries(target);
  install_control_handler_once();
  const std::string stem = folder_prefix_of(target) + temporary_name_stem(file_name_of(target));
  for (int attempt = 0; attempt < kMaxTemporaryNameTries; ++attempt) {
    const std::string name = stem + temporary_name_suffix();
    std::wstring wide;
    if (status s = widen(name, wide); !s.ok()) return s;
    // No delete sharing while it lives: remove_leftover_temporaries of
    // another run cannot remove it. A new file gets the access rights that
    // the folder gives every new file.
    const HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      path_ = name;
      handle_ = as_integer(file);
      live_slot_ = record_live(wide, file);
      return status::success();
    }
    if (GetLastError() != ERROR_FILE_EXISTS) {
      return failure("creation du fichier temporaire", GetLastError());
    }
  }
  return failure("creation du fichier temporaire", ERROR_FILE_EXISTS);
}

status replacement_file::write(std::string_view data) {
  LARGE_INTEGER end{};
  const HANDLE file = as_handle(handle_);
  if (!GetFileSizeEx(file, &end)) return failure("ecriture du fichier temporaire", GetLastError());
  return write_all(file, static_cast<std::uint64_t>(end.QuadPart), data,
                   "ecriture du fichier temporaire");
}

namespace {

// The rename that replaces a file while it stays open and locked (by its
// handles opened with delete sharing): Windows 10 version 1709 and later, on
// NTFS. False where the system or the file system refuses it.
bool rename_over_open_file(HANDLE file, const std::string& target) {
  std::wstring wide;
  if (!widen(target, wide).ok()) return false;
  // The new name as the system names files: "\??\C:\..." or "\??\UNC\...".
  const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  const DWORD written = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
  if (written == 0 || written >= length) return false;
  full.resize(written);
  std::wstring name;
  if (full.starts_with(L"\\\\?\\")) {
    name = L"\\??\\" + full.substr(4);
  } else if (full.starts_with(L"\\\\")) {
    name = L"\\??\\UNC\\" + full.substr(2);
  } else {
    name = L"\\??\\" + full;
  }
  // FILE_RENAME_INFO with its flags, laid out by hand: older headers name
  // the first member ReplaceIfExists only.
  struct rename_info {
    DWORD flags;
    HANDLE root;
    DWORD name_bytes;
    WCHAR name[1];
  };
  constexpr DWORD kReplaceIfExists = 0x1;  // FILE_RENAME_FLAG_REPLACE_IF_EXISTS
  constexpr DWORD kPosixSemantics = 0x2;   // FILE_RENAME_FLAG_POSIX_SEMANTICS
  constexpr int kRenameInfoEx = 22;        // FileRenameInfoEx
  std::vector<unsigned char> buffer(sizeof(rename_info) + name.size() * sizeof(WCHAR));
  auto* info = reinterpret_cast<rename_info*>(buffer.data());
  info->flags = kReplaceIfExists | kPosixSemantics;
  info->root = nullptr;
  info->name_bytes = static_cast<DWORD>(name.size() * sizeof(WCHAR));
  std::memcpy(info->name, name.data(), name.size() * sizeof(WCHAR));
  return SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kRenameInfoEx),
                                    info, static_cast<DWORD>(buffer.size())) != 0;
}

}  // namespace

status replacement_file::commit(locked_file& original) {
  const HANDLE file = as_handle(handle_);
  // The logbook's attributes (hidden, archive...) and creation date go to the
  // new file; its access rights are those the folder gives every new file,
  // as the logbook's own were unless someone changed them by hand. Neither
  // is a reason to lose the header, so a refusal is ignored.
  FILE_BASIC_INFO old_info{};
  if (GetFileInformationByHandleEx(as_handle(original.handle_), FileBasicInfo, &old_info,
                                   sizeof old_info)) {
    FILE_BASIC_INFO new_info{};
    new_info.CreationTime = old_info.CreationTime;
    new_info.FileAttributes =
        old_info.FileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (new_info.FileAttributes == 0) new_info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file, FileBasicInfo, &new_info, sizeof new_info);
  }
  if (!FlushFileBuffers(file)) return failure("ecriture sur le disque", GetLastError());

  // Where the system allows it, the new file takes the logbook's name while
  // the logbook stays open and locked: no instance, in any session or on any
  // computer, can append between the copy and the rename. Other instances
  // waiting for the lock then find that the name holds another file, and
  // open that one. The console handler deletes a live temporary file through
  // its handle: renamed, that handle is the logbook's, so the rename and the
  // forgetting of the handle are one step for the handler.
  bool renamed = false;
  {
    const live_lock held;
    renamed = rename_over_open_file(file, original.path_);
    if (renamed) mark_closed(live_slot_);
  }
  if (renamed) {
    handle_ = kNoHandle;
    CloseHandle(file);
    path_.clear();
    forget_live(live_slot_);
    original.created_ = false;
    return status::success();
  }

  mark_closed(live_slot_);
  handle_ = kNoHandle;
  if (!CloseHandle(file)) return failure("fermeture du fichier temporaire", GetLastError());
  // Elsewhere Windows renames nothing over an open file: close the logbook.
  // The folder guard keeps the other instances of this session away until
  // original.close(); those of another session or computer are kept away
  // only by the file lock, which this moment lacks (see the README).
  if (!unlock_and_close(original.handle_)) return failure("fermeture", GetLastError());
  status s = rename_over(path_, original.path_);
  if (path_.empty()) forget_live(live_slot_);
  if (!s.ok()) return s;
  original.created_ = false;  // the path now names the replacement
  return status::success();
}

status replacement_file::commit_over(const std::string& target) {
  const HANDLE file = as_handle(handle_);
  if (!FlushFileBuffers(file)) return failure("ecriture sur le disque", GetLastError());
  mark_closed(live_slot_);
  handle_ = kNoHandle;
  if (!CloseHandle(file)) return failure("fermeture du fichier temporaire", GetLastError());
  status s = rename_over(path_, target);
  if (path_.empty()) forget_live(live_slot_);
  return s;
}

status replacement_file::commit_new(const std::string& target) {
  const HANDLE file = as_handle(handle_);
  if (!FlushFileBuffers(file)) return failure("ecriture sur le disque", GetLastError());
  mark_closed(live_slot_);
  handle_ = kNoHandle;
  if (!CloseHandle(file)) return failure("fermeture du fichier temporaire", GetLastError());
  status s = rename_over(path_, target, true);
  if (path_.empty()) forget_live(live_slot_);
  if (!s.ok() && (s.cause() == french_reason(ERROR_ALREADY_EXISTS) ||
                  s.cause() == french_reason(ERROR_FILE_EXISTS))) {
    refused_existing_ = true;
  }
  return s;
}

void remove_leftover_temporaries(const std::string& target) {
  const std::string folder = folder_prefix_of(target);
  const std::string target_name = file_name_of(target);
  std::wstring pattern;
  if (!widen(folder + temporary_name_stem(target_name) + "*", pattern).ok()) return;
  WIN32_FIND_DATAW found{};
  const HANDLE listing = FindFirstFileW(pattern.c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = narrow(found.cFileName);
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !is_temporary_name_for(name, target_name)) {
      continue;
    }
    // A live one is open without delete sharing: the removal fails.
    std::wstring path;
    if (widen(folder + name, path).ok()) DeleteFileW(path.c_str());
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
}

output_file::~output_file() {
  if (in_place_ != kNoHandle) CloseHandle(as_handle(in_place_));
}

status output_file::open(const std::string& path, bool replace) {
  replace_ = replace;
  refused_existing_ = false;
  if (status s = resolve_links(path, target_); !s.ok()) return s;
  std::wstring wide;
  if (status s = widen(target_, wide); !s.ok()) return s;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return status::failure("ouverture", "c'est un dossier");
  }
  // A device (NUL, COM1...) or a named pipe is written in place.
  const HANDLE existing = CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (existing != INVALID_HANDLE_VALUE) {
    if (GetFileType(existing) != FILE_TYPE_DISK) {
      in_place_ = as_integer(existing);
      return status::success();
    }
    CloseHandle(existing);
  }
  std::wstring named;
  const bool taken =
      attributes != INVALID_FILE_ATTRIBUTES ||
      (widen(path, named).ok() && GetFileAttributesW(named.c_str()) != INVALID_FILE_ATTRIBUTES);
  if (taken && !replace) {
    refused_existing_ = true;
    return failure("creation", ERROR_FILE_EXISTS);
  }
  return replacement_.create_beside(target_);
}

status output_file::write(std::string_view data) {
  if (in_place_ == kNoHandle) return replacement_.write(data);
  const HANDLE file = as_handle(in_place_);
  while (!data.empty()) {
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min(data.size(), kMaxIoChunk));
    if (!WriteFile(file, data.data(), piece, &written, nullptr)) {
      return failure("ecriture", GetLastError());
    }
    if (written == 0) return failure("ecriture", ERROR_WRITE_FAULT);
    data.remove_prefix(written);
  }
  return status::success();
}

status output_file::commit() {
  if (in_place_ != kNoHandle) {
    const HANDLE file = as_handle(in_place_);
    in_place_ = kNoHandle;
    if (!CloseHandle(file)) return failure("fermeture", GetLastError());
    return status::success();
  }
  if (replace_) return replacement_.commit_over(target_);
  return replacement_.commit_new(target_);
}

void wait_before_closing_own_window(std::ostream& err) {
  // Only this process is attached to the console: it made the window (a
  // double click, a dropped file), which closes when the program ends.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (in == nullptr || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return;
  std::cout.flush();
  err << "Appuyez sur Entree pour fermer cette fenetre." << std::endl;
  // Straight from the console, whatever standard input has buffered.
  FlushConsoleInputBuffer(in);
  for (;;) {
    wchar_t typed[64];
    DWORD got = 0;
    if (!ReadConsoleW(in, typed, static_cast<DWORD>(std::size(typed)), &got, nullptr) || got == 0) {
      return;
    }
    if (std::wstring_view(typed, got).find_first_of(L"\r\n") != std::wstring_view::npos) return;
  }
}

std::vector<std::string> program_arguments(int, char**) {
  // The C runtime's narrow argv is in the ANSI code page, which cannot name
  // every file: read the wide command line again instead.
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; words != nullptr && i < count; ++i) arguments.push_back(narrow(words[i]));
  LocalFree(words);
  return arguments;
}

// ---------------------------------------------------------------------------
// Reading a file that another instance may be writing.

shared_file::~shared_file() { close(); }

status shared_file::open(const std::string& path) {
  close();
  std::wstring wide;
  if (status s = widen(path, wide); !s.ok()) return s;
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return status::failure("ouverture", "c'est un dossier");
  }
  for (int attempt = 0; attempt < kMaxReopenTries; ++attempt) {
    // Delete sharing: a replacement may be renamed over the name while this
    // reader, unlocked, still reads the file it opened.
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failure("ouverture", GetLastError());
    handle_ = as_integer(file);
    regular_ = GetFileType(file) == FILE_TYPE_DISK;
    // A pipe or a device is read as it comes, without lock or size.
    if (!regular_) return status::success();
    if (status s = wait_for_lock(file, false, nullptr); !s.ok()) {
      close();
      return s;
    }
    locked_ = true;
    // Another instance may have renamed a new file over the path while we
    // waited; a replaced file on a network folder has no link left.
    BY_HANDLE_FILE_INFORMATION held{};
    if (!GetFileInformationByHandle(file, &held)) {
      const DWORD error = GetLastError();
      close();
      return failure("ouverture", error);
    }
    BY_HANDLE_FILE_INFORMATION named{};
    if (held.nNumberOfLinks > 0 && identify(wide, named) && same_file(held, named)) {
      size_when_locked_ = (std::uint64_t{held.nFileSizeHigh} << 32) | held.nFileSizeLow;
      return status::success();
    }
    close();
  }
  return failure("ouverture", ERROR_SHARING_VIOLATION);
}

void shared_file::unlock() {
  if (!locked_) return;
  unlock_range(as_handle(handle_));
  locked_ = false;
}

status shared_file::read(char* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  DWORD read = 0;
  const auto piece = static_cast<DWORD>(std::min(count, kMaxIoChunk));
  if (!ReadFile(as_handle(handle_), buffer, piece, &read, nullptr)) {
    const DWORD error = GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return status::success();
    return failure("lecture", error);
  }
  got = read;
  return status::success();
}

status shared_file::read_at(std::uint64_t offset, char* buffer, std::size_t count,
                            std::size_t& got) {
  return read_handle_at(handle_, offset, buffer, count, got);
}

void shared_file::close() {
  if (locked_) {
    unlock_and_close(handle_);
  } else if (handle_ != kNoHandle) {
    CloseHandle(as_handle(handle_));
    handle_ = kNoHandle;
  }
  locked_ = false;
  regular_ = false;
  size_when_locked_ = 0;
}

bool path_exists(const std::string& path) {
  std::wstring wide;
  return widen(path, wide).ok() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool same_file(const std::string& first, const std::string& second) {
  std::wstring a;
  std::wstring b;
  BY_HANDLE_FILE_INFORMATION info_a{};
  BY_HANDLE_FILE_INFORMATION info_b{};
  return widen(first, a).ok() && widen(second, b).ok() && identify(a, info_a) &&
         identify(b, info_b) && same_file(info_a, info_b);
}

void catch_interrupt() {
  interrupts_caught = true;
  // A program started with Ctrl+C ignored ("start /b", a new process group)
  // is given it back, as the POSIX side takes an ignored SIGINT: Ctrl+C is
  // how the listener is told to stop.
  SetConsoleCtrlHandler(nullptr, FALSE);
  install_control_handler_once();
}

bool interrupt_requested() { return interrupt_flag; }

}  // namespace velkrin::platform
