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
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace velkrin::platform {
namespace {

constexpr std::string_view kClearSequence = "\x1b[H\x1b[2J\x1b[3J";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int kMaxReopenTries = 100;
constexpr int kMaxTemporaryNameTries = 100;
// A viewer, a virus scanner or another instance's existence test may hold the
// logbook or the new file open for a moment, which makes a rename fail.
constexpr int kMaxRenameTries = 100;
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

std::wstring folder_of(const std::wstring& path) {
  const auto separator = path.find_last_of(L"/\\");
  if (separator == std::wstring::npos) return L".";
  if (separator == 0) return path.substr(0, 1);
  return path.substr(0, separator);
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

// Windows refuses to rename a file over one that is open, so a replacement
// must close the logbook, and with it its lock, before the rename. Instances
// on this computer therefore also take a named mutex, one per folder, held
// from the open to the close: no other instance reaches the logbook between
// that close and the rename. (Instances in another session, or on another
// computer sharing the folder, meet only the file lock: it keeps appended
// lines whole, but does not cover that gap.)
status take_folder_guard(const std::wstring& path, std::intptr_t& guard) {
  BY_HANDLE_FILE_INFORMATION folder{};
  if (!identify(folder_of(path), folder)) return failure("ouverture du dossier", GetLastError());
  const std::wstring name =
      L"Local\\velkrin-" + hex(folder.dwVolumeSerialNumber) + L"-" +
      hex((std::uint64_t{folder.nFileIndexHigh} << 32) | folder.nFileIndexLow);
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return failure("verrouillage", GetLastError());
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
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

BOOL lock_whole_file(HANDLE file) {
  OVERLAPPED from_start = at_offset(0);
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from_start);
}

// Unlocks and closes; false when the close failed.
bool unlock_and_close(std::intptr_t& handle) {
  if (handle == kNoHandle) return true;
  const HANDLE file = as_handle(handle);
  handle = kNoHandle;
  OVERLAPPED from_start = at_offset(0);
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &from_start);
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

// Renames the closed temporary file `temporary` over `target` in one step,
// and clears `temporary` once it is gone. MOVEFILE_WRITE_THROUGH returns once
// the rename is on disk.
status rename_over(std::string& temporary, const std::string& target) {
  std::wstring from;
  std::wstring to;
  if (status s = widen(temporary, from); !s.ok()) return s;
  if (status s = widen(target, to); !s.ok()) return s;
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      break;
    }
    const DWORD error = GetLastError();
    const bool busy = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                      error == ERROR_LOCK_VIOLATION;
    if (!busy || attempt + 1 >= kMaxRenameTries) return failure("remplacement", error);
    Sleep(kRenameRetryMillis);
  }
  temporary.clear();
  return status::success();
}

}  // namespace

void set_binary_output() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

void prepare_console() {
  console_state& state = the_console();
  if (state.prepared) return;
  state.prepared = true;
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
  out.flush();
  const console_state& state = the_console();
  if (&out == &std::cout && state.is_console && state.virtual_terminal_refused) {
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
  std::wstring wide;
  if (status s = widen(path, wide); !s.ok()) return s;
  if (status s = take_folder_guard(wide, guard_); !s.ok()) return s;
  for (int attempt = 0; attempt < kMaxReopenTries; ++attempt) {
    bool created = false;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    if (!lock_whole_file(file)) {
      const DWORD error = GetLastError();
      CloseHandle(file);
      release_folder_guard(guard_);
      return failure("verrouillage", error);
    }
    // An instance on another computer may have renamed a new file over the
    // path, or the user may have removed it, while we waited for the lock.
    BY_HANDLE_FILE_INFORMATION held{};
    if (!GetFileInformationByHandle(file, &held)) {
      const DWORD error = GetLastError();
      unlock_and_close(handle);
      release_folder_guard(guard_);
      return failure("ouverture", error);
    }
    BY_HANDLE_FILE_INFORMATION named{};
    if (identify(wide, named) && same_file(held, named)) {
      path_ = path;
      handle_ = handle;
      created_ = created;
      // A device (NUL, COM1...) is written in place, never replaced.
      regular_ = GetFileType(file) == FILE_TYPE_DISK;
      return status::success();
    }
    unlock_and_close(handle);
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

status locked_file::read_at(std::uint64_t offset, char* buffer, std::size_t count,
                            std::size_t& got) {
  OVERLAPPED position = at_offset(offset);
  DWORD read = 0;
  const auto piece = static_cast<DWORD>(std::min(count, kMaxIoChunk));
  if (!ReadFile(as_handle(handle_), buffer, piece, &read, &position)) {
    const DWORD error = GetLastError();
    if (error != ERROR_HANDLE_EOF) return failure("lecture", error);
    read = 0;
  }
  got = read;
  return status::success();
}

status locked_file::write_at(std::uint64_t offset, std::string_view data) {
  return write_all(as_handle(handle_), offset, data, "ecriture");
}

status locked_file::append(std::string_view data) {
  // Under the lock nobody else writes, so the end found here stays the end.
  std::uint64_t end = 0;
  if (status s = size(end); !s.ok()) return s;
  return write_all(as_handle(handle_), end, data, "ecriture");
}

status locked_file::truncate(std::uint64_t bytes) {
  LARGE_INTEGER length{};
  length.QuadPart = static_cast<LONGLONG>(bytes);
  const HANDLE file = as_handle(handle_);
  if (!SetFilePointerEx(file, length, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    return failure("ecriture", GetLastError());
  }
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
  if (handle_ != kNoHandle) CloseHandle(as_handle(handle_));
  handle_ = kNoHandle;
  std::wstring wide;
  if (!path_.empty() && widen(path_, wide).ok()) DeleteFileW(wide.c_str());
  path_.clear();
}

status replacement_file::create_beside(const locked_file& original) {
  if (!original.regular_) return failure("remplacement", ERROR_ACCESS_DENIED);
  return create_beside(original.path_);
}

status replacement_file::create_beside(const std::string& target) {
  discard();
  const std::string stem =
      target + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  for (int attempt = 0; attempt < kMaxTemporaryNameTries; ++attempt) {
    const std::string name = stem + "-" + std::to_string(attempt);
    std::wstring wide;
    if (status s = widen(name, wide); !s.ok()) return s;
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      path_ = name;
      handle_ = as_integer(file);
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
  handle_ = kNoHandle;
  if (!CloseHandle(file)) return failure("fermeture du fichier temporaire", GetLastError());

  // Windows renames nothing over an open file: close the logbook (the folder
  // guard keeps other instances away until original.close()).
  if (!unlock_and_close(original.handle_)) return failure("fermeture", GetLastError());
  if (status s = rename_over(path_, original.path_); !s.ok()) return s;
  original.created_ = false;  // the path now names the replacement
  return status::success();
}

status replacement_file::commit_over(const std::string& target) {
  const HANDLE file = as_handle(handle_);
  if (!FlushFileBuffers(file)) return failure("ecriture sur le disque", GetLastError());
  handle_ = kNoHandle;
  if (!CloseHandle(file)) return failure("fermeture du fichier temporaire", GetLastError());
  return rename_over(path_, target);
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
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failure("ouverture", GetLastError());
  // The same range as the writers' exclusive lock, shared.
  OVERLAPPED from_start = at_offset(0);
  if (GetFileType(file) == FILE_TYPE_DISK &&
      !LockFileEx(file, 0, 0, MAXDWORD, MAXDWORD, &from_start)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    return failure("verrouillage", error);
  }
  handle_ = as_integer(file);
  return status::success();
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

void shared_file::close() { unlock_and_close(handle_); }

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

}  // namespace velkrin::platform
