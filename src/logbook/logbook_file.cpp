#include "logbook/logbook_file.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/platform.hpp"

namespace velkrin {
namespace {

// How much of the file's start is read to find its first line end and its
// header: a header of this program is about 500 bytes.
constexpr std::size_t kPrefixBytes = 4096;
// Buffer for copying the file behind a new header.
constexpr std::size_t kCopyChunkBytes = 64 * 1024;

std::optional<logbook_error> as_error(const platform::status& status) {
  if (status.ok()) return std::nullopt;
  return logbook_error{status.reason()};
}

platform::status read_prefix(platform::locked_file& file, std::uint64_t size, std::string& prefix) {
  prefix.assign(static_cast<std::size_t>(std::min<std::uint64_t>(size, kPrefixBytes)), '\0');
  std::size_t filled = 0;
  while (filled < prefix.size()) {
    std::size_t got = 0;
    platform::status s = file.read_at(filled, prefix.data() + filled, prefix.size() - filled, got);
    if (!s.ok()) return s;
    if (got == 0) break;
    filled += got;
  }
  prefix.resize(filled);
  return platform::status::success();
}

std::string line_end_of(std::string_view prefix) {
  return first_line_end(prefix).value_or(std::string(platform::new_file_line_end()));
}

platform::status open_logbook(const logbook_file& logbook, platform::locked_file& file) {
  std::string target;
  if (platform::status s = platform::resolve_links(logbook.path, target); !s.ok()) return s;
  return file.open(target);
}

platform::status append_locked(platform::locked_file& file, const qso_record& qso) {
  std::uint64_t size = 0;
  if (platform::status s = file.size(size); !s.ok()) return s;
  std::string prefix;
  if (platform::status s = read_prefix(file, size, prefix); !s.ok()) return s;
  const std::string eol = line_end_of(prefix);

  std::string data;
  if (size > 0) {
    char last = '\n';
    std::size_t got = 0;
    if (platform::status s = file.read_at(size - 1, &last, 1, got); !s.ok()) return s;
    if (got == 1 && last != '\n') data = eol;
  }
  data += format_qso_line(qso, eol);

  platform::status written = file.append(data);
  if (written.ok()) written = file.sync();
  if (!written.ok()) {
    // Take back whatever part of the line may have reached the file.
    if (file.truncate(size).ok()) (void)file.sync();
  }
  return written;
}

platform::status copy_behind_header(platform::locked_file& file, std::uint64_t from,
                                    std::uint64_t size, const std::string& header) {
  platform::replacement_file replacement;
  if (platform::status s = replacement.create_beside(file); !s.ok()) return s;
  if (platform::status s = replacement.write(header); !s.ok()) return s;
  std::vector<char> buffer(kCopyChunkBytes);
  for (std::uint64_t offset = from; offset < size;) {
    std::size_t got = 0;
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - offset, buffer.size()));
    if (platform::status s = file.read_at(offset, buffer.data(), wanted, got); !s.ok()) return s;
    if (got == 0) break;
    if (platform::status s = replacement.write(std::string_view(buffer.data(), got)); !s.ok()) {
      return s;
    }
    offset += got;
  }
  return replacement.commit(file);
}

platform::status write_header_locked(platform::locked_file& file, const logbook_header& header) {
  std::uint64_t size = 0;
  if (platform::status s = file.size(size); !s.ok()) return s;
  std::string prefix;
  if (platform::status s = read_prefix(file, size, prefix); !s.ok()) return s;
  const std::optional<found_header> old = find_header(prefix);
  // A header read back keeps its byte-order mark and its line ends.
  const std::string block = old ? prefix.substr(0, old->bom) + format_header(header, old->eol)
                                : format_header(header, line_end_of(prefix));

  // A device or other special file is written in place, never replaced.
  if (!file.is_regular() || (old && old->length == block.size())) {
    // Same length: overwrite in place, restoring the old header on failure.
    platform::status s = file.write_at(0, block);
    if (s.ok()) s = file.sync();
    if (!s.ok() && old && file.write_at(0, prefix.substr(0, old->length)).ok()) (void)file.sync();
    return s;
  }
  return copy_behind_header(file, old ? old->length : 0, size, block);
}

}  // namespace

bool logbook_exists(const logbook_file& logbook) {
  return platform::can_open_for_reading(logbook.path);
}

std::optional<logbook_error> append_qso(const logbook_file& logbook, const qso_record& qso) {
  platform::locked_file file;
  platform::status s = open_logbook(logbook, file);
  if (s.ok()) s = append_locked(file, qso);
  if (!s.ok()) file.remove_if_created();
  // Once the data is on disk the operation has succeeded: a failing close
  // must not make the user copy by hand a QSO that is already recorded.
  (void)file.close();
  return as_error(s);
}

std::optional<logbook_error> write_header(const logbook_file& logbook,
                                          const logbook_header& header) {
  platform::locked_file file;
  platform::status s = open_logbook(logbook, file);
  if (s.ok()) s = write_header_locked(file, header);
  if (!s.ok()) file.remove_if_created();
  (void)file.close();  // the header is on disk already, as for append_qso
  return as_error(s);
}

std::string write_failure_message(const logbook_error& error) {
  return "Erreur : le journal de bord \"" + std::string(kLogbookFileName) +
         "\" n'a pas pu etre ecrit (" + error.reason + ").";
}

std::string unrecorded_qso_message(const qso_record& qso) {
  std::string line = format_qso_line(qso, "");
  return "Ce QSO n'a pas ete inscrit. Le voici, pour le recopier :\n" + line;
}

}  // namespace velkrin
