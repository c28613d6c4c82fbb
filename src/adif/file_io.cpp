#include "adif/file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velkrin::adif {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxTemporaryNameTries = 100;

std::string french_reason(std::error_code error) {
  if (error == std::errc::no_such_file_or_directory) return "fichier ou dossier introuvable";
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
    return "permission refusee";
  }
  if (error == std::errc::is_a_directory) return "c'est un dossier";
  if (error == std::errc::not_a_directory) return "un element du chemin n'est pas un dossier";
  if (error == std::errc::no_space_on_device) return "plus de place sur le disque";
  if (error == std::errc::read_only_file_system) return "systeme de fichiers en lecture seule";
  if (error == std::errc::file_exists) return "le fichier existe deja";
  if (error == std::errc::bad_file_descriptor) return "sortie fermee";
  if (error == std::errc::broken_pipe) return "tube ferme par le lecteur";
  return "erreur systeme " + std::to_string(error.value());
}

fs::path temporary_beside(const fs::path& path, unsigned number) {
  fs::path name = ".";
  name += path.filename();
  name += "." + std::to_string(number % 1000000) + ".tmp";
  return path.parent_path() / name;
}

// The export's only calls into the system, one version per platform:
// write_new_file creates the file exclusively (a name already taken gives
// file_exists and that file is left alone), writes all of `content`, flushes
// it to the disk and closes it, removing it again on failure; replace_file
// renames it over the export in one step.
#ifdef _WIN32

// Windows: the wide calls, on paths that std::filesystem converted from UTF-8.
std::error_code windows_error(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return std::make_error_code(std::errc::file_exists);
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
      return std::make_error_code(std::errc::permission_denied);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return std::make_error_code(std::errc::no_space_on_device);
    case ERROR_WRITE_PROTECT:
      return std::make_error_code(std::errc::read_only_file_system);
    default:
      return {static_cast<int>(error), std::system_category()};
  }
}

// The folder gives the new file its access rights, as to any new file.
std::error_code write_new_file(const fs::path& path, std::string_view content,
                               const fs::path& /*replaced*/) {
  constexpr std::size_t kMaxWrite = 1u << 30;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return windows_error(GetLastError());
  DWORD error = ERROR_SUCCESS;
  while (!content.empty() && error == ERROR_SUCCESS) {
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min(content.size(), kMaxWrite));
    if (!WriteFile(file, content.data(), piece, &written, nullptr)) {
      error = GetLastError();
    } else if (written == 0) {
      error = ERROR_WRITE_FAULT;
    }
    content.remove_prefix(written);
  }
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
  if (error == ERROR_SUCCESS) return {};
  DeleteFileW(path.c_str());
  return windows_error(error);
}

// MOVEFILE_WRITE_THROUGH returns once the rename is on the disk.
std::error_code replace_file(const fs::path& from, const fs::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return {};
  }
  return windows_error(GetLastError());
}

#else

// A replaced export keeps its permission bits.
std::error_code write_new_file(const fs::path& path, std::string_view content,
                               const fs::path& replaced) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return {errno, std::generic_category()};
  int error = 0;
  struct stat old {};
  if (::stat(replaced.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      ::fchmod(fd, old.st_mode & 07777) != 0) {
    error = errno;
  }
  while (!content.empty() && error == 0) {
    const ssize_t written = ::write(fd, content.data(), content.size());
    if (written >= 0) {
      content.remove_prefix(static_cast<std::size_t>(written));
    } else if (errno != EINTR) {
      error = errno;
    }
  }
  // EINVAL: a file system that cannot sync, where the data is then as safe
  // as it gets.
  if (error == 0 && ::fsync(fd) != 0 && errno != EINVAL) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0) return {};
  ::unlink(path.c_str());
  return {error, std::generic_category()};
}

std::error_code replace_file(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::rename(from, to, error);
  return error;
}

#endif

}  // namespace

fs::path path_of(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string last_system_reason(std::string_view fallback) {
  return errno != 0 ? french_reason(std::error_code(errno, std::generic_category()))
                    : std::string(fallback);
}

std::optional<std::string> read_whole_file(const fs::path& path, std::string& text) {
  std::error_code error;
  if (fs::is_directory(path, error)) return "c'est un dossier";
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return last_system_reason("ouverture impossible");
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return last_system_reason("lecture impossible");
  return std::nullopt;
}

std::optional<std::string> write_file_atomically(const fs::path& path, std::string_view content) {
  std::random_device random;
  for (int attempt = 0; attempt < kMaxTemporaryNameTries; ++attempt) {
    const fs::path temporary = temporary_beside(path, random());
    std::error_code error = write_new_file(temporary, content, path);
    if (error == std::errc::file_exists) continue;  // that name belongs to another file
    if (error) return french_reason(error);
    error = replace_file(temporary, path);
    if (!error) return std::nullopt;
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return french_reason(error);
  }
  return french_reason(std::make_error_code(std::errc::file_exists));
}

}  // namespace velkrin::adif
