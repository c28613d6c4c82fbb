#include "logbook/logbook_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "console/visible_text.hpp"
#include "logbook/logbook_reader.hpp"
#include "logbook/qso_rules.hpp"
#include "logbook/text_encoding.hpp"
#include "platform/platform.hpp"

namespace velkrin {
namespace {

// How much of the file's start is read to find its first line end and its
// header: a header of this program is about 500 bytes.
constexpr std::size_t kPrefixBytes = kHeaderSearchBytes;
static_assert(kPrefixBytes >= kTextCheckBytes, "the start read must decide whether it is text");
// Buffer for copying the file behind a new header.
constexpr std::size_t kCopyChunkBytes = 64 * 1024;

std::optional<logbook_error> as_error(const platform::status& status) {
  if (status.ok()) return std::nullopt;
  return logbook_error{status.reason()};
}

// Up to `count` bytes at `offset`: fewer only where the file ends.
platform::status read_exactly(platform::locked_file& file, std::uint64_t offset, std::size_t count,
                              std::string& bytes) {
  bytes.assign(count, '\0');
  std::size_t filled = 0;
  while (filled < count) {
    std::size_t got = 0;
    platform::status s = file.read_at(offset + filled, bytes.data() + filled, count - filled, got);
    if (!s.ok()) return s;
    if (got == 0) break;
    filled += got;
  }
  bytes.resize(filled);
  return platform::status::success();
}

platform::status read_prefix(platform::locked_file& file, std::uint64_t size, std::string& prefix) {
  return read_exactly(
      file, 0, static_cast<std::size_t>(std::min<std::uint64_t>(size, kPrefixBytes)), prefix);
}

// Refuses a file that the readers would refuse as no text (UTF-16 saved by
// Notepad, say): a line added to it could be read by nothing.
platform::status refuse_unless_text(std::string_view start) {
  if (auto reason = not_text_reason(start)) return platform::status::failure("", *reason);
  return platform::status::success();
}

std::string line_end_of(std::string_view prefix) {
  return first_line_end(prefix).value_or(std::string(platform::new_file_line_end()));
}

// How many times an operation starts again when another instance made the
// missing logbook just before it could.
constexpr int kMaxCreationRaces = 10;

// The line end of the logbook's first line, per file, as found by the first
// append of the run: only a rewrite of that line can change it, and the
// program's own rewrites keep it. Spares reading the file's start per QSO.
std::map<std::pair<std::uint64_t, std::uint64_t>, std::string>& known_line_ends() {
  static std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> line_ends;
  return line_ends;
}

// The logbooks whose folder this run has already rid of leftover temporary
// files: the first write of a run to a logbook does it, not every QSO.
bool first_write_to(const std::string& target) {
  static std::set<std::string> cleaned;
  return cleaned.insert(target).second;
}

platform::status append_locked(platform::locked_file& file, const qso_record& qso) {
  const std::uint64_t size = file.size_when_locked();
  std::string eol;
  char last = '\n';
  bool last_known = size == 0;
  const auto known = known_line_ends().find(file.identity());
  if (size <= kPrefixBytes || known == known_line_ends().end()) {
    std::string prefix;
    if (platform::status s = read_prefix(file, size, prefix); !s.ok()) return s;
    if (platform::status s = refuse_unless_text(prefix); !s.ok()) return s;
    eol = line_end_of(prefix);
    if (first_line_end(prefix)) known_line_ends()[file.identity()] = eol;
    if (prefix.size() == size && size > 0) {
      last = prefix.back();
      last_known = true;
    }
  } else {
    eol = known->second;
  }
  if (!last_known) {
    // The last two bytes, for the cost of one: a text file ends in no NUL,
    // while UTF-16 text ends in "\n\0" or "\0\n". Only then is the start
    // read again, to decide as the readers do.
    char tail[2] = {'\n', '\n'};
    std::size_t got = 0;
    if (platform::status s = file.read_at(size - 2, tail, 2, got); !s.ok()) return s;
    last = got == 2 ? tail[1] : '\n';
    if (tail[0] == '\0' || (got == 2 && tail[1] == '\0')) {
      std::string prefix;
      if (platform::status s = read_prefix(file, size, prefix); !s.ok()) return s;
      if (platform::status s = refuse_unless_text(prefix); !s.ok()) return s;
    }
  }

  std::string data;
  if (last != '\n') data = eol;
  data += format_qso_line(qso, eol);

  platform::status written = file.append(data);
  if (written.ok()) written = file.sync();
  if (!written.ok()) {
    // Take back whatever part of the line may have reached the file.
    if (file.truncate(size).ok()) (void)file.sync();
  }
  return written;
}

// How many bytes before the point where a follower's reading stopped are
// compared, at its next call, to those it saw there: a file edited in place
// to another length has moved them.
constexpr std::size_t kBeforeBytes = 256;

// The bytes [from, to) of a locked file, noting where the last whole line
// among them ends.
class range_source : public byte_source {
 public:
  range_source(platform::locked_file& file, std::uint64_t from, std::uint64_t to)
      : file_(file), at_(from), to_(to), lines_end_(from) {}
  platform::status read(char* buffer, std::size_t count, std::size_t& got) override {
    got = 0;
    if (at_ >= to_) return platform::status::success();
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, to_ - at_));
    if (platform::status s = file_.read_at(at_, buffer, count, got); !s.ok()) return s;
    const auto newline = std::string_view(buffer, got).rfind('\n');
    if (newline != std::string_view::npos) lines_end_ = at_ + newline + 1;
    at_ += got;
    return platform::status::success();
  }
  std::uint64_t lines_end() const { return lines_end_; }

 private:
  platform::locked_file& file_;
  std::uint64_t at_;
  std::uint64_t to_;
  std::uint64_t lines_end_;
};

// Brings `follower` up to date with the locked file: from where its reading
// stopped when the file is the same and its first bytes and those before
// that point are unchanged, from the start otherwise.
platform::status catch_up(platform::locked_file& file, logbook_follower& follower,
                          std::string& failure) {
  logbook_follower::position& at = follower.read_so_far;
  const std::uint64_t size = file.size_when_locked();
  bool from_start = !at.known || at.identity != file.identity() || size < at.offset;
  if (!from_start) {
    std::string bytes;
    if (platform::status s = read_exactly(file, 0, at.start.size(), bytes); !s.ok()) return s;
    from_start = bytes != at.start;
  }
  if (!from_start) {
    std::string bytes;
    platform::status s = read_exactly(file, at.offset - at.before.size(), at.before.size(), bytes);
    if (!s.ok()) return s;
    from_start = bytes != at.before;
  }
  if (from_start) {
    at = {};
    follower.restart();
  }
  range_source source(file, at.offset, size);
  logbook_reader reader(source);
  logbook_item item;
  while (reader.next(item)) {
    if (item.what == logbook_item::kind::qso) {
      follower.qso(item.qso);
    } else if (item.what == logbook_item::kind::header && reader.header() != nullptr) {
      follower.header(reader.header()->header);
    }
  }
  if (reader.failure()) {
    // Read again from the start next time: the file may be mended meanwhile.
    at = {};
    failure = *reader.failure();
    return platform::status::success();
  }
  const std::uint64_t offset = source.lines_end();
  if (offset != at.offset || !at.known) {
    const auto start = static_cast<std::size_t>(std::min<std::uint64_t>(offset, kPrefixBytes));
    if (at.start.size() < start) {
      if (platform::status s = read_exactly(file, 0, start, at.start); !s.ok()) return s;
    }
    const auto before = static_cast<std::size_t>(std::min<std::uint64_t>(offset, kBeforeBytes));
    if (platform::status s = read_exactly(file, offset - before, before, at.before); !s.ok()) {
      return s;
    }
  }
  at.known = true;
  at.identity = file.identity();
  at.offset = offset;
  return platform::status::success();
}

// Makes a new file at `target` holding `contents`, whole or not at all: it is
// written to a temporary file beside it and put in place only if the name is
// still free. `taken` is set when another program made the file meanwhile.
platform::status create_whole(const std::string& target, std::string_view contents, bool& taken) {
  platform::replacement_file file;
  platform::status s = file.create_beside(target);
  if (s.ok()) s = file.write(contents);
  if (s.ok()) s = file.commit_new(target);
  taken = file.refused_existing();
  return s;
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
  const std::uint64_t size = file.size_when_locked();
  std::string prefix;
  if (platform::status s = read_prefix(file, size, prefix); !s.ok()) return s;
  if (platform::status s = refuse_unless_text(prefix); !s.ok()) return s;
  const std::optional<found_header> old = find_header(prefix);
  // A header read back keeps its byte-order mark and its line ends.
  const std::string block = old ? prefix.substr(0, old->bom) + format_header(header, old->eol)
                                : format_header(header, line_end_of(prefix));
  // Under the lock no live rewrite of another instance can be beside it:
  // whatever temporary file is there was left by a killed run.
  platform::remove_leftover_temporaries(file.path());

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

// The logbook's first header, if its start holds one.
std::optional<logbook_header> first_header_of(std::string_view start) {
  const auto found = find_header(start);
  if (!found) return std::nullopt;
  std::string_view rest = start.substr(found->bom);
  rest.remove_prefix(std::min(rest.size(), rest.find('\n') + 1));  // the row of dashes
  return parse_owner_line(trim_right(rest.substr(0, rest.find('\n'))));
}

// The "<EOR>" (or "<EOH>") marker that ends the last whole record of
// `bytes`, in any case: the offset just past it and its line end; npos when
// there is none.
std::size_t end_of_last_record(std::string_view bytes) {
  for (std::size_t at = bytes.rfind('<'); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : bytes.rfind('<', at - 1)) {
    const std::string marker = to_upper(bytes.substr(at, 5));
    if (marker != "<EOR>" && marker != "<EOH>") continue;
    std::size_t end = at + 5;
    if (bytes.substr(end, 2) == "\r\n") {
      end += 2;
    } else if (bytes.substr(end, 1) == "\n") {
      end += 1;
    }
    return end;
  }
  return std::string_view::npos;
}

// Adds `details` to the details file of the logbook locked as `file`,
// unless the file already ends with it.
platform::status append_details_locked(platform::locked_file& file, const std::string& path,
                                       const details_record& details) {
  std::string start;
  if (platform::status s = read_prefix(file, file.size_when_locked(), start); !s.ok()) return s;
  const auto first = first_header_of(start);
  if (!first) {
    return platform::status::failure(
        "", "il n'a pas d'en-tete, sans lequel ses details ne peuvent etre gardes");
  }
  details_appender appender;
  if (platform::status s = appender.open(path, *first); !s.ok()) return s;
  if (appender.other_logbook()) {
    return platform::status::failure("", "son fichier de details \"" + visible(appender.path()) +
                                             "\" appartient a un autre journal (" +
                                             visible(appender.owner().indicatif) + ")");
  }
  const std::string text = format_details_record(details, line_end_of(start));
  if (appender.ends_with(text)) return platform::status::success();
  return appender.append(text);
}

}  // namespace

platform::status details_appender::open(const std::string& logbook_path,
                                        const logbook_header& first) {
  path_ = details_path_for(logbook_path);
  first_ = first;
  if (platform::status s = platform::resolve_links(path_, target_); !s.ok()) return s;
  // The logbook's lock is held: a temporary file beside its details is a
  // killed run's, as beside the logbook.
  if (first_write_to(target_)) platform::remove_leftover_temporaries(target_);
  bool missing = false;
  if (platform::status s = file_.open_existing(target_, missing); !s.ok()) return s;
  if (missing) return platform::status::success();
  open_ = true;
  std::uint64_t size = file_.size_when_locked();
  std::string start;
  if (platform::status s = read_exactly(
          file_, 0, static_cast<std::size_t>(std::min<std::uint64_t>(size, kPrefixBytes)), start);
      !s.ok()) {
    return s;
  }
  eol_ = line_end_of(start);
  owner_ = owner_in_header(start);
  other_logbook_ = !owner_matches(owner_, &first_);
  if (other_logbook_) return platform::status::success();

  // A record that a killed run left torn is cut off: the file ends after
  // the last "<EOR>" (or the header's "<EOH>").
  constexpr std::size_t kTailStep = 64 * 1024;
  std::uint64_t whole = 0;
  for (std::uint64_t from = size; from > 0;) {
    const std::uint64_t begin = from > kTailStep ? from - kTailStep : 0;
    std::string bytes;
    // A little overlap, so that no marker is split between two steps.
    const std::uint64_t end = std::min<std::uint64_t>(size, from + 8);
    if (platform::status s =
            read_exactly(file_, begin, static_cast<std::size_t>(end - begin), bytes);
        !s.ok()) {
      return s;
    }
    const std::size_t found = end_of_last_record(bytes);
    if (found != std::string::npos) {
      whole = begin + found;
      break;
    }
    from = begin;
  }
  if (whole < size) {
    std::string rest;
    if (platform::status s = read_exactly(
            file_, whole,
            static_cast<std::size_t>(std::min<std::uint64_t>(size - whole, kPrefixBytes)), rest);
        !s.ok()) {
      return s;
    }
    if (size - whole > rest.size() || trim_right(rest).size() > 0) {
      if (platform::status s = file_.truncate(whole); !s.ok()) return s;
      if (platform::status s = file_.sync(); !s.ok()) return s;
      size = whole;
    }
  }
  size_before_ = size;
  const std::uint64_t tail_from = size > kTailBytes ? size - kTailBytes : 0;
  return read_exactly(file_, tail_from, static_cast<std::size_t>(size - tail_from), tail_);
}

platform::status details_appender::append(std::string_view records) {
  if (other_logbook_) return platform::status::failure("", "fichier de details d'un autre journal");
  if (!open_) {
    bool taken = false;
    // A new file ends its lines as its records do (the logbook's).
    if (records.ends_with("\r\n")) eol_ = "\r\n";
    platform::status s =
        create_whole(target_, format_details_header(first_, eol_) + std::string(records), taken);
    created_ = s.ok();
    return s;
  }
  platform::status s = file_.append(records);
  if (s.ok()) s = file_.sync();
  if (!s.ok()) undo();
  return s;
}

void details_appender::undo() {
  // A new file stays: its records without lines harm nothing and are taken
  // again by the next import of the same QSOs.
  if (!open_) return;
  if (file_.truncate(size_before_).ok()) (void)file_.sync();
}

bool logbook_exists(const logbook_file& logbook) {
  return platform::can_open_for_reading(logbook.path);
}

namespace {

// Every append, checked or not: opens the file that the path names, under
// the exclusive lock; with a follower, brings it up to date and asks
// `accept`; then appends the line.
checked_append append_line(const logbook_file& logbook, const qso_record& qso,
                           logbook_follower* follower, const std::function<bool()>* accept,
                           const details_record* details = nullptr) {
  checked_append result;
  const auto accepted = [accept] { return accept == nullptr || (*accept)(); };
  for (int attempt = 0; attempt < kMaxCreationRaces; ++attempt) {
    // The name is opened as it is (a link is followed by the system); its
    // target's name matters only to make a new file or to clean beside it.
    platform::locked_file file;
    file.set_wait_notice(logbook.on_long_wait);
    bool missing = false;
    platform::status s = file.open_existing(logbook.path, missing);
    if (s.ok() && missing) {
      // The logbook vanished while the QSO was typed (archived by hand, say):
      // losing the QSO would be worse than a logbook without a header.
      if (follower != nullptr) {
        follower->read_so_far = {};
        follower->restart();
      }
      if (!accepted()) return result;
      std::string target;
      s = platform::resolve_links(logbook.path, target);
      bool taken = false;
      if (s.ok()) {
        s = create_whole(target, format_qso_line(qso, platform::new_file_line_end()), taken);
      }
      if (taken) continue;  // another instance made it: append to that one
      result.appended = result.started_new_logbook = s.ok();
      result.error = as_error(s);
      return result;
    }
    std::string unreadable;
    if (s.ok() && follower != nullptr) s = catch_up(file, *follower, unreadable);
    if (s.ok() && !unreadable.empty()) {
      (void)file.close();
      result.error = logbook_error{unreadable};
      return result;
    }
    if (s.ok() && !accepted()) {
      (void)file.close();
      return result;
    }
    if (s.ok() && first_write_to(logbook.path)) {
      std::string target;
      if (platform::resolve_links(logbook.path, target).ok()) {
        platform::remove_leftover_temporaries(target);
      }
    }
    // The details go first: a kill between the two leaves a record without
    // its line, which the next append of the same QSO takes as its own.
    if (s.ok() && details != nullptr) s = append_details_locked(file, logbook.path, *details);
    if (s.ok()) s = append_locked(file, qso);
    // Once the data is on disk the operation has succeeded: a failing close
    // must not make the user copy by hand a QSO that is already recorded.
    (void)file.close();
    result.appended = s.ok();
    result.error = as_error(s);
    return result;
  }
  result.error = logbook_error{"ouverture : " + platform::errno_reason(EBUSY)};
  return result;
}

}  // namespace

std::optional<logbook_error> append_qso(const logbook_file& logbook, const qso_record& qso,
                                        bool* started_new_logbook) {
  const checked_append done = append_line(logbook, qso, nullptr, nullptr);
  if (started_new_logbook != nullptr) *started_new_logbook = done.started_new_logbook;
  return done.error;
}

checked_append append_qso_checked(const logbook_file& logbook, const qso_record& qso,
                                  logbook_follower& follower, const std::function<bool()>& accept,
                                  const details_record* details) {
  return append_line(logbook, qso, &follower, &accept, details);
}

std::optional<logbook_error> follow_logbook(const logbook_file& logbook,
                                            logbook_follower& follower) {
  // Nothing is accepted, so the QSO is never looked at.
  return append_qso_checked(logbook, qso_record{}, follower, [] { return false; }).error;
}

std::optional<logbook_error> write_header(const logbook_file& logbook,
                                          const logbook_header& header) {
  for (int attempt = 0; attempt < kMaxCreationRaces; ++attempt) {
    std::string target;
    if (platform::status s = platform::resolve_links(logbook.path, target); !s.ok()) {
      return as_error(s);
    }
    platform::locked_file file;
    file.set_wait_notice(logbook.on_long_wait);
    bool missing = false;
    platform::status s = file.open_existing(target, missing);
    if (s.ok() && missing) {
      // A new logbook appears with its whole header, or not at all.
      bool taken = false;
      s = create_whole(target, format_header(header, platform::new_file_line_end()), taken);
      if (taken) continue;  // another instance made it: give that one the header
      return as_error(s);
    }
    (void)first_write_to(target);
    if (s.ok()) s = write_header_locked(file, header);
    (void)file.close();  // the header is on disk already, as for append_qso
    return as_error(s);
  }
  return logbook_error{"ouverture : " + platform::errno_reason(EBUSY)};
}

std::string write_failure_message(const logbook_error& error, std::string_view path) {
  return "Erreur : le journal de bord \"" + visible(path) + "\" n'a pas pu etre ecrit (" +
         error.reason + ").";
}

std::string new_logbook_message() {
  return "Attention : le journal de bord \"" + std::string(kLogbookFileName) +
         "\" avait disparu ; ce QSO commence un nouveau journal, sans entete. Le menu 4 lui en "
         "donne une.";
}

std::string lock_wait_message(std::string_view path) {
  return "Attente : le journal de bord \"" + std::string(path) +
         "\" est en cours d'ecriture par un autre programme (Ctrl-C pour abandonner).";
}

std::string unrecorded_qso_message(const qso_record& qso) {
  std::string line = format_qso_line(qso, "");
  return "Ce QSO n'a pas ete inscrit. Le voici, pour le recopier :\n" + line;
}

}  // namespace velkrin
