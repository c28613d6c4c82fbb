#include "logbook/details_rewrite.hpp"

#include <algorithm>
#include <cerrno>

#include "adif/adif_reader.hpp"
#include "adif/adif_writer.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin {
namespace {

constexpr std::size_t kPieceBytes = 1024 * 1024;
// The header is looked for in the file's first bytes, as the readers do.
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;

// The "<EOH>" that ends a header, in any case; npos when there is none.
std::size_t end_of_header(std::string_view text) {
  for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
    if (to_upper(text.substr(at, 5)) == "<EOH>") return at;
  }
  return std::string_view::npos;
}

// `header` without its fields named `name` (upper case), each with the line
// end right after it.
std::string without_field(std::string_view header, std::string_view name) {
  std::string kept;
  std::size_t at = 0;
  std::size_t copied = 0;
  while ((at = header.find('<', at)) != std::string_view::npos) {
    const std::size_t close = header.find('>', at);
    if (close == std::string_view::npos) break;
    const std::string_view tag = header.substr(at + 1, close - at - 1);
    const std::size_t colon = tag.find(':');
    std::string_view digits = colon == std::string_view::npos ? "" : tag.substr(colon + 1);
    digits = digits.substr(0, digits.find(':'));
    const bool numeric =
        !digits.empty() && digits.size() <= 6 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!numeric) {
      ++at;
      continue;
    }
    const std::size_t length = std::stoul(std::string(digits));
    std::size_t end = std::min(header.size(), close + 1 + length);
    if (to_upper(adif::trim_blanks(tag.substr(0, colon))) == name) {
      if (header.substr(end, 2) == "\r\n") {
        end += 2;
      } else if (header.substr(end, 1) == "\n") {
        end += 1;
      }
      kept.append(header.substr(copied, at - copied));
      copied = end;
    }
    at = end;
  }
  kept.append(header.substr(copied));
  return kept;
}

// Writes to the copy, remembering the last byte written.
class copy_writer {
 public:
  explicit copy_writer(platform::replacement_file& out) : out_(out) {}
  platform::status put(std::string_view bytes) {
    if (bytes.empty()) return platform::status::success();
    last_ = bytes.back();
    return out_.write(bytes);
  }
  // Copies the bytes [from, to) of `file`.
  platform::status copy(platform::locked_file& file, std::uint64_t from, std::uint64_t to) {
    while (from < to) {
      std::size_t got = 0;
      const auto wanted =
          static_cast<std::size_t>(std::min<std::uint64_t>(piece_.size(), to - from));
      if (platform::status s = file.read_at(from, piece_.data(), wanted, got); !s.ok()) return s;
      if (got == 0) {
        return platform::status::failure("lecture", "fichier raccourci pendant la copie");
      }
      if (platform::status s = put({piece_.data(), got}); !s.ok()) return s;
      from += got;
    }
    return platform::status::success();
  }
  char last() const { return last_; }

 private:
  platform::replacement_file& out_;
  std::vector<char> piece_ = std::vector<char>(kPieceBytes);
  char last_ = '\n';
};

platform::status read_bytes(platform::locked_file& file, std::uint64_t from, std::uint64_t to,
                            std::string& bytes) {
  bytes.assign(static_cast<std::size_t>(to - from), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    std::size_t got = 0;
    if (platform::status s =
            file.read_at(from + filled, bytes.data() + filled, bytes.size() - filled, got);
        !s.ok()) {
      return s;
    }
    if (got == 0) return platform::status::failure("lecture", "fichier raccourci pendant la copie");
    filled += got;
  }
  return platform::status::success();
}

// The records added, each starting on a line of its own.
platform::status write_added(const details_rewrite& rewrite, copy_writer& out,
                             std::string_view eol) {
  if (!rewrite.next_added) return platform::status::success();
  std::string text;
  platform::status failure = platform::status::success();
  while (rewrite.next_added(text, failure)) {
    if (out.last() != '\n') {
      if (platform::status s = out.put(eol); !s.ok()) return s;
    }
    if (platform::status s = out.put(text); !s.ok()) return s;
  }
  return failure;
}

}  // namespace

std::string with_header_fields(std::string_view header, const std::vector<details_field>& fields,
                               std::string_view eol) {
  std::string text(header);
  for (const auto& field : fields) text = without_field(text, to_upper(field.name));
  if (!text.empty() && text.back() != '\n') text.append(eol);
  for (const auto& field : fields) {
    text.append(adif::format_field(field.name, field.value)).append(eol);
  }
  return text;
}

platform::status rewrite_details_file(const details_rewrite& rewrite) {
  std::string target;
  if (platform::status s = platform::resolve_links(details_path_for(rewrite.logbook_path), target);
      !s.ok()) {
    return s;
  }
  // Under the logbook's lock, a temporary file beside its details is a
  // killed run's.
  platform::remove_leftover_temporaries(target);
  platform::replacement_file out;
  copy_writer writer(out);

  if (!rewrite.read_size) {
    const std::string header = format_details_header(rewrite.first, rewrite.line_end);
    const std::size_t eoh = end_of_header(header);
    if (platform::status s = out.create_beside(target); !s.ok()) return s;
    if (platform::status s = writer.put(
            with_header_fields(header.substr(0, eoh), rewrite.header_fields, rewrite.line_end) +
            header.substr(eoh));
        !s.ok()) {
      return s;
    }
    if (platform::status s = write_added(rewrite, writer, rewrite.line_end); !s.ok()) return s;
    return out.commit_new(target);
  }

  platform::locked_file file;
  bool missing = false;
  if (platform::status s = file.open_existing(target, missing); !s.ok()) return s;
  if (missing) return platform::status::failure("ouverture", platform::errno_reason(ENOENT));
  // Only a program that ignores the logbook's lock can have changed it.
  const std::uint64_t size = file.size_when_locked();
  if (size != *rewrite.read_size) {
    return platform::status::failure("", "le fichier de details a change pendant la lecture");
  }
  const std::uint64_t end = std::min(size, rewrite.torn_from.value_or(size));
  std::string start;
  if (platform::status s =
          read_bytes(file, 0, std::min<std::uint64_t>(end, kMaxHeaderBytes), start);
      !s.ok()) {
    return s;
  }
  const std::size_t eoh = end_of_header(start);
  if (eoh == std::string::npos) return platform::status::failure("", "en-tete sans <EOH>");
  const std::size_t first_eol = start.find('\n');
  const std::string_view eol =
      first_eol != std::string::npos && first_eol > 0 && start[first_eol - 1] == '\r' ? "\r\n"
                                                                                      : "\n";
  if (platform::status s = out.create_beside(file); !s.ok()) return s;
  if (platform::status s = writer.put(
          with_header_fields(std::string_view(start).substr(0, eoh), rewrite.header_fields, eol));
      !s.ok()) {
    return s;
  }
  std::uint64_t at = eoh;
  std::string old_bytes;
  for (std::size_t i = 0; i < rewrite.replaced.size(); ++i) {
    const auto [from, to] = rewrite.replaced[i];
    if (from < at || to > end || to < from) {
      return platform::status::failure("", "enregistrements de details mal places");
    }
    if (platform::status s = writer.copy(file, at, from); !s.ok()) return s;
    if (platform::status s = read_bytes(file, from, to, old_bytes); !s.ok()) return s;
    if (platform::status s = writer.put(rewrite.replacement(i, old_bytes)); !s.ok()) return s;
    at = to;
  }
  if (platform::status s = writer.copy(file, at, end); !s.ok()) return s;
  if (platform::status s = write_added(rewrite, writer, eol); !s.ok()) return s;
  return out.commit(file);
}

}  // namespace velkrin
