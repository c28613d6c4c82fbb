#include "adif/file_io.hpp"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/platform.hpp"

namespace velkrin::adif {

namespace fs = std::filesystem;

fs::path path_of(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string last_system_reason(std::string_view fallback) {
  return errno != 0 ? platform::errno_reason(errno) : std::string(fallback);
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

std::optional<std::string> write_file_atomically(const std::string& path,
                                                 std::string_view content) {
  platform::replacement_file file;
  platform::status s = file.create_beside(path);
  if (s.ok()) s = file.write(content);
  if (s.ok()) s = file.commit_over(path);
  if (s.ok()) return std::nullopt;
  return s.cause();
}

}  // namespace velkrin::adif
