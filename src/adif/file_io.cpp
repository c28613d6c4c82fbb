#include "adif/file_io.hpp"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace velkrin::adif {
namespace {

std::string french_reason(std::error_code error) {
  if (error == std::errc::no_such_file_or_directory) return "fichier ou dossier introuvable";
  if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted) {
    return "permission refusee";
  }
  if (error == std::errc::is_a_directory) return "c'est un dossier";
  if (error == std::errc::not_a_directory) return "un element du chemin n'est pas un dossier";
  if (error == std::errc::no_space_on_device) return "plus de place sur le disque";
  if (error == std::errc::read_only_file_system) return "systeme de fichiers en lecture seule";
  return "erreur systeme " + std::to_string(error.value());
}

// The reason of the last failed stream operation, as far as errno tells it.
std::string last_reason(std::string_view fallback) {
  return errno != 0 ? french_reason(std::error_code(errno, std::generic_category()))
                    : std::string(fallback);
}

// Flushes the file's data to the disk, so that a power cut after the rename
// cannot leave an empty export in place. The only call outside the standard
// library, POSIX only; elsewhere the rename alone still keeps the file whole.
bool flush_to_disk(const std::filesystem::path& path) {
#if defined(__unix__) || defined(__APPLE__)
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
#else
  (void)path;
  return true;
#endif
}

std::filesystem::path temporary_beside(const std::filesystem::path& path) {
  std::random_device random;
  return path.parent_path() /
         ("." + path.filename().string() + "." + std::to_string(random() % 1000000) + ".tmp");
}

}  // namespace

std::optional<std::string> read_whole_file(const std::filesystem::path& path, std::string& text) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return "c'est un dossier";
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return last_reason("ouverture impossible");
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return last_reason("lecture impossible");
  return std::nullopt;
}

std::optional<std::string> write_file_atomically(const std::filesystem::path& path,
                                                 std::string_view content) {
  const std::filesystem::path temporary = temporary_beside(path);
  std::error_code ignored;
  errno = 0;
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) return last_reason("creation impossible");
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.flush();
  out.close();
  if (!out) {
    std::string reason = last_reason("ecriture impossible");
    std::filesystem::remove(temporary, ignored);
    return reason;
  }
  if (!flush_to_disk(temporary)) {
    std::string reason = last_reason("ecriture sur le disque impossible");
    std::filesystem::remove(temporary, ignored);
    return reason;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, ignored);
    return french_reason(error);
  }
  return std::nullopt;
}

}  // namespace velkrin::adif
