// Completing, correcting and removing one QSO: the logbook and its details
// file rewritten through copies renamed into place, under the logbook's
// exclusive lock.
#include <algorithm>
#include <cerrno>
#include <vector>

#include "adif/adif_reader.hpp"
#include "console/visible_text.hpp"
#include "logbook/details_file.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/logbook_reader.hpp"
#include "logbook/text_encoding.hpp"
#include "platform/platform.hpp"

namespace velkrin {
namespace {

constexpr std::size_t kPieceBytes = 1024 * 1024;

// Copies the bytes [from, to) of `file` into `out`.
platform::status copy_range(platform::locked_file& file, std::uint64_t from, std::uint64_t to,
                            platform::replacement_file& out, std::vector<char>& piece) {
  while (from < to) {
    std::size_t got = 0;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), to - from));
    if (platform::status s = file.read_at(from, piece.data(), wanted, got); !s.ok()) return s;
    if (got == 0) return platform::status::failure("lecture", "fichier raccourci pendant la copie");
    if (platform::status s = out.write({piece.data(), got}); !s.ok()) return s;
    from += got;
  }
  return platform::status::success();
}

// Where line `number` (from 1) lies in the file: its first byte, the end of
// its text (before CR LF or LF) and the end of its line end.
struct line_range {
  std::uint64_t begin = 0;
  std::uint64_t text_end = 0;
  std::uint64_t end = 0;
  std::string text;  // its bytes, without line end
};

platform::status find_line(platform::locked_file& file, std::size_t number, line_range& range,
                           bool& found) {
  found = false;
  std::vector<char> piece(kPieceBytes);
  std::size_t line = 1;
  std::uint64_t offset = 0;
  for (;;) {
    std::size_t got = 0;
    if (platform::status s = file.read_at(offset, piece.data(), piece.size(), got); !s.ok()) {
      return s;
    }
    const std::string_view bytes(piece.data(), got);
    for (std::size_t at = 0; at < got;) {
      const std::size_t newline = bytes.find('\n', at);
      const std::size_t stop = newline == std::string_view::npos ? got : newline;
      if (line == number) {
        if (!found) range.begin = offset + at;
        found = true;
        range.text.append(bytes.substr(at, stop - at));
        if (range.text.size() > kMaxLogbookLineBytes) {
          return platform::status::failure("", "ligne trop longue");
        }
      }
      if (newline == std::string_view::npos) break;
      if (line == number) {
        range.end = offset + newline + 1;
        const bool carriage_return = range.text.ends_with('\r');
        if (carriage_return) range.text.pop_back();
        range.text_end = range.end - 1 - (carriage_return ? 1 : 0);
        return platform::status::success();
      }
      ++line;
      at = newline + 1;
    }
    if (got == 0) break;
    offset += got;
  }
  if (found) {  // the last line, without a line end
    range.end = offset;
    range.text_end = offset;
  }
  return platform::status::success();
}

// Rewrites the locked logbook with its bytes [begin, end) replaced by
// `replacement`.
platform::status rewrite_logbook(platform::locked_file& file, std::uint64_t begin,
                                 std::uint64_t end, std::string_view replacement) {
  std::uint64_t size = 0;
  if (platform::status s = file.size(size); !s.ok()) return s;
  platform::replacement_file out;
  if (platform::status s = out.create_beside(file); !s.ok()) return s;
  std::vector<char> piece(kPieceBytes);
  if (platform::status s = copy_range(file, 0, begin, out, piece); !s.ok()) return s;
  if (platform::status s = out.write(replacement); !s.ok()) return s;
  if (platform::status s = copy_range(file, end, size, out, piece); !s.ok()) return s;
  return out.commit(file);
}

using byte_ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// Rewrites the details file at `path`, which must still be `read_size` bytes
// long when given, without the bytes of `skipped` (in file order) and those from
// `cut_from` on (a record cut short), then with `added` at its end.
platform::status rewrite_details(const std::string& path, std::optional<std::uint64_t> read_size,
                                 const byte_ranges& skipped, std::optional<std::uint64_t> cut_from,
                                 std::string_view added) {
  std::string target;
  if (platform::status s = platform::resolve_links(path, target); !s.ok()) return s;
  platform::locked_file file;
  bool missing = false;
  if (platform::status s = file.open_existing(target, missing); !s.ok()) return s;
  if (missing) return platform::status::failure("ouverture", platform::errno_reason(ENOENT));
  // Only a program that ignores the logbook's lock can have changed it.
  const std::uint64_t size = file.size_when_locked();
  if (read_size && size != *read_size) {
    return platform::status::failure("", "le fichier de details a change pendant la correction");
  }
  const std::uint64_t end = std::min(size, cut_from.value_or(size));
  platform::replacement_file out;
  if (platform::status s = out.create_beside(file); !s.ok()) return s;
  std::vector<char> piece(kPieceBytes);
  std::uint64_t at = 0;
  std::uint64_t kept_end = 0;  // the end of the last bytes kept
  for (const auto& [from, to] : skipped) {
    if (from >= end) break;
    if (platform::status s = copy_range(file, at, from, out, piece); !s.ok()) return s;
    if (from > at) kept_end = from;
    at = std::min(to, end);
  }
  if (platform::status s = copy_range(file, at, end, out, piece); !s.ok()) return s;
  if (end > at) kept_end = end;
  // The records added start on a line of their own.
  char last = '\n';
  if (kept_end > 0 && !added.empty()) {
    std::size_t got = 0;
    if (platform::status s = file.read_at(kept_end - 1, &last, 1, got); !s.ok()) return s;
  }
  if (last != '\n' && !added.empty()) {
    if (platform::status s = out.write("\n"); !s.ok()) return s;
  }
  if (platform::status s = out.write(added); !s.ok()) return s;
  return out.commit(file);
}

// `ranges` as they lie once the bytes of `removed` have gone from before them.
byte_ranges shifted(const byte_ranges& ranges, const byte_ranges& removed) {
  byte_ranges moved;
  for (const auto& [from, to] : ranges) {
    std::uint64_t gone = 0;
    for (const auto& [r_from, r_to] : removed) {
      if (r_to <= from) gone += r_to - r_from;
    }
    moved.emplace_back(from - gone, to - gone);
  }
  return moved;
}

std::string as_utf8(std::string_view bytes) {
  std::string text;
  to_utf8(bytes, encoding_of(bytes), text);
  return text;
}

}  // namespace

qso_edit_result edit_qso(const logbook_file& logbook, const qso_edit& edit) {
  qso_edit_result result;
  const auto failed = [&result](const platform::status& s) {
    result.error = logbook_error{s.reason()};
    return result;
  };
  const auto refused = [&result](std::string reason) {
    result.refusal = std::move(reason);
    return result;
  };

  std::string target;
  if (platform::status s = platform::resolve_links(logbook.path, target); !s.ok()) return failed(s);
  platform::locked_file file;
  file.set_wait_notice(logbook.on_long_wait);
  bool missing = false;
  if (platform::status s = file.open_existing(target, missing); !s.ok()) return failed(s);
  if (missing)
    return failed(platform::status::failure("ouverture", platform::errno_reason(ENOENT)));

  // The line, the first header, and the key of every other QSO line.
  std::optional<logbook_header> first;
  std::optional<qso_record> found;
  std::string not_a_qso;
  std::vector<std::uint64_t> other_keys;
  {
    locked_source source(file);
    logbook_reader reader(source);
    logbook_item item;
    while (reader.next(item)) {
      if (item.what == logbook_item::kind::header && !first && reader.header()) {
        first = reader.header()->header;
      }
      if (item.line == edit.line) {
        if (item.what == logbook_item::kind::qso) {
          found = item.qso;
        } else if (item.what == logbook_item::kind::unreadable) {
          not_a_qso = "la ligne " + std::to_string(edit.line) + " n'est pas un QSO lisible (" +
                      item.reason + ")";
        }
      } else if (item.what == logbook_item::kind::qso) {
        if (const auto key = details_key_of(item.values)) other_keys.push_back(key_digest(*key));
      }
    }
    if (reader.failure()) return failed(platform::status::failure("lecture", *reader.failure()));
  }
  if (!not_a_qso.empty()) return refused(not_a_qso);
  if (!found) {
    return refused("la ligne " + std::to_string(edit.line) + " n'est pas un QSO du journal");
  }
  line_range range;
  bool line_found = false;
  if (platform::status s = find_line(file, edit.line, range, line_found); !s.ok()) {
    return failed(s);
  }
  if (!line_found) {
    return refused("la ligne " + std::to_string(edit.line) + " n'est pas un QSO du journal");
  }
  result.line_before = std::string(trim_right(as_utf8(range.text)));
  if (edit.expected_line && trim_right(*edit.expected_line) != result.line_before &&
      trim_right(*edit.expected_line) != trim_right(range.text)) {
    return refused("la ligne " + std::to_string(edit.line) +
                   " ne se lit plus comme attendu ; elle se lit maintenant :\n" +
                   visible(result.line_before));
  }

  // Its details.
  details_reader details;
  details.open(logbook.path);
  details.load(first ? &*first : nullptr);
  if (details.state() == details_state::unreadable) {
    return failed(platform::status::failure("fichier de details", details.failure().value_or("")));
  }
  const bool details_usable = details.state() != details_state::other_logbook;
  if (!details_usable && edit.kind == qso_edit_kind::complete) {
    std::string notice(trim_right(details_notice(details, logbook.path)));
    constexpr std::string_view kWarning = "Attention : ";
    if (notice.starts_with(kWarning)) notice.erase(0, kWarning.size());
    return refused(std::move(notice));
  }
  const auto old_key = details_key_of(*found);
  byte_ranges old_ranges;
  if (old_key && details.state() == details_state::ready) {
    if (const details_record* record = details.find(*old_key)) result.details_before = *record;
    const auto ranges = details.ranges_of(*old_key);
    if (!ranges)
      return failed(platform::status::failure("", "enregistrement de details trop long"));
    old_ranges = *ranges;
  }
  const bool key_shared = old_key && std::find(other_keys.begin(), other_keys.end(),
                                               key_digest(*old_key)) != other_keys.end();
  const std::string details_path = details.path();
  // What a killed edit left beside the details file goes, as beside the
  // logbook: under its lock no other program is writing there.
  if (details.state() != details_state::absent) {
    std::string target;
    if (platform::resolve_links(details_path, target).ok()) {
      platform::remove_leftover_temporaries(target);
    }
  }
  const std::uint64_t details_size = details.size();
  const std::optional<std::uint64_t> torn_from = details.torn_from();

  if (edit.kind == qso_edit_kind::remove) {
    details.close();
    if (platform::status s = rewrite_logbook(file, range.begin, range.end, ""); !s.ok()) {
      return failed(s);
    }
    result.details_kept = key_shared;
    if (!result.details_before.fields.empty() && !key_shared) {
      // The line is gone; a failure here leaves details without a line,
      // which verifie reports and nothing reads.
      const platform::status s =
          rewrite_details(details_path, details_size, old_ranges, torn_from, "");
      if (!s.ok()) result.leftover = s.reason();
    }
    (void)file.close();
    return result;
  }

  qso_record qso = *found;
  details_record changed = result.details_before;
  if (auto reason = edit.change(qso, changed)) return refused(std::move(*reason));
  const auto new_key = details_key_of(qso);
  byte_ranges new_ranges;
  if (edit.kind == qso_edit_kind::correct && new_key && details.state() == details_state::ready) {
    const auto ranges = details.ranges_of(*new_key);
    if (!ranges)
      return failed(platform::status::failure("", "enregistrement de details trop long"));
    new_ranges = *ranges;
  }
  // Closed before its file is replaced, which Windows may refuse otherwise.
  details.close();

  if (edit.kind == qso_edit_kind::complete) {
    result.details_after = changed;
    if (changed == result.details_before) return result;
    const std::string text =
        changed.has_more_than_key() ? format_details_record(changed, "\n") : std::string();
    platform::status s = platform::status::success();
    if (details.state() == details_state::absent) {
      if (text.empty()) return result;
      if (!first)
        return refused("le journal n'a pas d'en-tete ; le menu 4 de velkrin lui en donne une");
      details_appender appender;
      s = appender.open(logbook.path, *first);
      if (s.ok()) s = appender.append(text);
    } else {
      s = rewrite_details(details_path, details_size, old_ranges, torn_from, text);
    }
    if (!s.ok()) return failed(s);
    (void)file.close();
    return result;
  }

  // A correction.
  if (!new_key) return refused("la date ou l'heure de debut corrigee n'est pas valide");
  const std::string line = format_qso_line(qso, "");
  result.line_after = std::string(trim_right(line));
  const bool moves =
      details_usable && !result.details_before.fields.empty() && *new_key != *old_key;
  if (moves) {
    std::vector<details_field> kept;
    for (const auto& field : result.details_before.fields) {
      // The mode kept from the QSO's record holds while the class and the
      // band do (a sideband follows the band).
      const bool mode_changed =
          new_key->emission_class != old_key->emission_class || new_key->band != old_key->band;
      if (mode_changed && (field.name == "MODE" || field.name == "SUBMODE")) continue;
      if (field.name == "TIME_ON" && new_key->time != old_key->time) continue;
      kept.push_back(field);
    }
    result.details_after = details_for(qso, kept);
    // Under both keys first: the logbook may be replaced next.
    const std::string text = format_details_record(result.details_after, "\n");
    if (platform::status s =
            rewrite_details(details_path, details_size, new_ranges, torn_from, text);
        !s.ok()) {
      return failed(s);
    }
    // The old key's records, where this rewrite left them: only bytes
    // before them went, and the new record went to the end.
    byte_ranges removed = new_ranges;
    if (torn_from) removed.emplace_back(*torn_from, details_size);
    old_ranges = shifted(old_ranges, removed);
  } else {
    result.details_after = result.details_before;
  }
  if (platform::status s = rewrite_logbook(file, range.begin, range.text_end, line); !s.ok()) {
    return failed(s);
  }
  if (moves && !key_shared) {
    const platform::status s =
        rewrite_details(details_path, std::nullopt, old_ranges, std::nullopt, "");
    if (!s.ok()) result.leftover = s.reason();
  }
  (void)file.close();
  return result;
}

}  // namespace velkrin
