#include "logbook/logbook_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "logbook/line_format.hpp"

namespace velkrin {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;
constexpr std::string_view kEmptyValue = "-";

// What "echo" without text prints under Windows, in English and in French,
// the accent in the console code page (CP850), in CP1252 or in UTF-8.
constexpr std::array<std::string_view, 4> kEchoLines{
    "ECHO is on.", "ECHO est activ\x82.", "ECHO est activ\xe9.", "ECHO est activ\xc3\xa9."};

constexpr std::string_view kTitles = [] {
  std::string_view titles = kHeaderTitles;
  while (titles.ends_with(' ')) titles.remove_suffix(1);
  return titles;
}();

// A row of dashes, for a line whose trailing blanks are cut.
bool is_rule(std::string_view line) {
  return line.size() == kHeaderRuleWidth && line.find_first_not_of('-') == std::string_view::npos;
}

bool is_skipped(std::string_view line) {
  return line.empty() || is_rule(line) || line == kHeaderTimeNote || line == kTitles ||
         std::find(kEchoLines.begin(), kEchoLines.end(), line) != kEchoLines.end();
}

// The unit where the program writes it, between blanks, in a line long
// enough to hold every column: the values before it fit their columns.
bool has_written_shape(std::string_view line) {
  constexpr std::size_t kUnitColumn = 66;
  constexpr std::size_t kPlaceColumn = 79;
  return line.size() >= kPlaceColumn && line.substr(kUnitColumn - 1, 5) == " kHz ";
}

bool parse_number(std::string_view word, std::int32_t& value) {
  // Up to nine digits cannot overflow: the common case, without from_chars.
  if (!word.empty() && word.size() <= 9) {
    std::uint32_t digits = 0;  // unsigned: no overflow from other bytes
    bool all_digits = true;
    for (const char c : word) {
      all_digits &= c >= '0' && c <= '9';
      digits = digits * 10 + static_cast<std::uint32_t>(static_cast<unsigned char>(c) - '0');
    }
    if (all_digits) {
      value = static_cast<std::int32_t>(digits);
      return true;
    }
  }
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc{} && end == word.data() + word.size();
}

std::string_view value_of(std::string_view word) { return word == kEmptyValue ? "" : word; }

// The reason the line is no QSO, or nothing when `qso` was filled with
// views of its words.
std::optional<std::string> parse_qso(std::string_view line, qso_values& qso,
                                     std::string_view (&words)[kQsoWordCount]) {
  // Lines in the program's own layout are read by their columns.
  if (!split_by_columns(line, words) && !split_on_blanks(line, words)) {
    return "ligne non reconnue (attendu : date, debut, fin, indicatif, prenom, frequence, kHz, "
           "classe, lieu)";
  }
  constexpr struct {
    std::size_t word;
    std::string_view name;
  } kNumbers[] = {{1, "debut"}, {2, "fin"}, {5, "frequence"}};
  std::int32_t numbers[std::size(kNumbers)];
  for (std::size_t i = 0; i < std::size(kNumbers); ++i) {
    if (!parse_number(words[kNumbers[i].word], numbers[i])) {
      return std::string(kNumbers[i].name) + " \"" + std::string(words[kNumbers[i].word]) +
             "\" n'est pas un nombre entier";
    }
  }
  qso.debut = numbers[0];
  qso.fin = numbers[1];
  qso.frequence = numbers[2];
  qso.date = words[0];
  qso.indicatif = value_of(words[3]);
  qso.prenom = value_of(words[4]);
  qso.mode = value_of(words[7]);
  qso.lieu = value_of(words[8]);
  return std::nullopt;
}

}  // namespace

platform::status text_source::read(char* buffer, std::size_t count, std::size_t& got) {
  got = std::min(count, rest_.size());
  std::memcpy(buffer, rest_.data(), got);
  rest_.remove_prefix(got);
  return platform::status::success();
}

platform::status file_source::open(const std::string& path, details_reader* details) {
  first_block_.clear();
  first_given_ = 0;
  rest_ = 0;
  if (platform::status s = file_.open(path); !s.ok()) return s;
  if (details != nullptr) details->open(path);
  if (!file_.is_regular()) return platform::status::success();
  const std::uint64_t size = file_.size_when_locked();
  const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeaderSearchBytes));
  first_block_.resize(wanted);
  std::size_t filled = 0;
  while (filled < first_block_.size()) {
    std::size_t got = 0;
    if (platform::status s =
            file_.read(first_block_.data() + filled, first_block_.size() - filled, got);
        !s.ok()) {
      file_.close();
      return s;
    }
    if (got == 0) break;  // cut short by a program that takes no lock
    filled += got;
  }
  first_block_.resize(filled);
  file_.unlock();
  rest_ = filled == wanted ? size - filled : 0;
  return platform::status::success();
}

platform::status file_source::read(char* buffer, std::size_t count, std::size_t& got) {
  if (!file_.is_regular()) return file_.read(buffer, count, got);
  got = std::min(count, first_block_.size() - first_given_);
  std::memcpy(buffer, first_block_.data() + first_given_, got);
  first_given_ += got;
  // Whole pieces, as from a file read directly: the first read holds as
  // much of the file's start as was asked for.
  while (got < count && rest_ > 0) {
    std::size_t more = 0;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count - got, rest_));
    if (platform::status s = file_.read(buffer + got, wanted, more); !s.ok()) return s;
    if (more == 0) {
      rest_ = 0;  // cut short by a program that takes no lock
      break;
    }
    got += more;
    rest_ -= more;
  }
  return platform::status::success();
}

platform::status locked_source::read(char* buffer, std::size_t count, std::size_t& got) {
  platform::status s = file_.read_at(offset_, buffer, count, got);
  if (s.ok()) offset_ += got;
  return s;
}

logbook_reader::logbook_reader(byte_source& source)
    : source_(source), buffer_(kChunkBytes + kMaxLogbookLineBytes) {}

bool logbook_reader::fill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  std::size_t got = 0;
  if (const platform::status s = source_.read(buffer_.data() + end_, buffer_.size() - end_, got);
      !s.ok()) {
    failure_ = s.reason();
    return false;
  }
  if (got == 0) at_end_ = true;
  const std::string_view piece(buffer_.data() + end_, got);
  end_ += got;
  if (first_read_ && got > 0) {
    first_read_ = false;
    // A logbook is text: UTF-16 and binary files are refused as a whole
    // rather than line by line, by the rule the writers follow too.
    if (auto reason = not_text_reason(piece)) {
      failure_ = std::move(*reason);
      return false;
    }
  }
  return true;
}

logbook_reader::read_result logbook_reader::read_line(std::string_view& line, std::size_t& number) {
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const auto* newline = static_cast<const char*>(std::memchr(start, '\n', available));
    std::size_t length = 0;
    if (newline != nullptr) {
      length = static_cast<std::size_t>(newline - start);
      begin_ += length + 1;
    } else if (at_end_ && available > 0) {
      length = available;  // an unterminated last line
      begin_ = end_;
    } else if (at_end_) {
      return read_result::end;
    } else if (available >= kMaxLogbookLineBytes) {
      begin_ = end_;
      if (skipping_long_line_) continue;
      skipping_long_line_ = true;
      number = ++line_number_;
      return read_result::overlong;
    } else {
      if (!fill()) return read_result::end;
      continue;
    }
    if (skipping_long_line_) {
      skipping_long_line_ = false;  // the end of a line already reported
      continue;
    }
    number = ++line_number_;
    if (length > kMaxLogbookLineBytes) return read_result::overlong;
    line = std::string_view(start, length);
    if (number == 1) {
      if (line.ends_with('\r')) line_end_ = "\r\n";
      if (line.starts_with(kUtf8Bom)) line.remove_prefix(kUtf8Bom.size());
    }
    line = trim_right(line);
    return read_result::line;
  }
}

bool logbook_reader::next(logbook_item& item) {
  item.details = nullptr;
  const bool more = next_line(item);
  if (details_ == nullptr) return more;
  if (more && item.what == logbook_item::kind::header && !first_header_ && header()) {
    first_header_ = header()->header;
  }
  if (!more || item.what == logbook_item::kind::qso) load_details();
  if (more && item.what == logbook_item::kind::qso && details_->state() == details_state::ready) {
    if (const auto key = details_key_of(item.values)) item.details = details_->find(*key);
  }
  return more;
}

void logbook_reader::load_details() { details_->load(first_header_ ? &*first_header_ : nullptr); }

bool logbook_reader::next_line(logbook_item& item) {
  for (;;) {
    std::string_view line;
    std::size_t number = 0;
    bool overlong = false;
    if (!replay_.empty()) {
      replaying_ = std::move(replay_.front());
      replay_.pop_front();
      line = replaying_.text;
      number = replaying_.number;
      overlong = replaying_.overlong;
    } else if (failure_) {
      return false;
    } else {
      const read_result result = read_line(line, number);
      if (result == read_result::end) {
        if (header_lines_.empty() || failure_) return false;
        give_up_header();
        continue;
      }
      if (keep_ && result == read_result::line && header_lines_.empty() &&
          has_written_shape(line) && !keep_(line)) {
        continue;
      }
      overlong = result == read_result::overlong;
      if (overlong && !header_lines_.empty()) {
        // No header line either: the lines held come first.
        replay_.push_front({number, {}, true});
        give_up_header();
        continue;
      }
    }
    if (overlong) {
      item.what = logbook_item::kind::unreadable;
      item.line = number;
      item.reason = "ligne trop longue (plus de " + std::to_string(kMaxLogbookLineBytes) +
                    " octets), ignoree";
      return true;
    }
    if (handle(line, number, item)) return true;
  }
}

// The lines held as a header's first ones make none: the first, a row of
// dashes, is skipped, and the others are read again.
void logbook_reader::give_up_header() {
  for (std::size_t i = header_lines_.size(); i-- > 1;) {
    replay_.push_front(std::move(header_lines_[i]));
  }
  header_lines_.clear();
}

bool logbook_reader::handle(std::string_view line, std::size_t number, logbook_item& item) {
  if (header_lines_.empty() && !is_rule(line)) return handle_ordinary(line, number, item);
  if (!is_header_line(header_lines_.size(), line)) {
    replay_.push_front({number, std::string(line)});
    give_up_header();
    return false;
  }
  header_lines_.push_back({number, std::string(line)});
  if (header_lines_.size() < kHeaderLineCount) return false;

  const std::string& owner_line = header_lines_[1].text;
  const line_encoding encoding = encoding_of(owner_line);
  to_utf8(owner_line, encoding, converted_);
  current_.line = header_lines_[0].number;
  current_.header = parse_owner_line(converted_);
  ++headers_;
  header_lines_.clear();
  item.what = logbook_item::kind::header;
  item.line = current_.line;
  item.encoding = encoding;
  return true;
}

bool logbook_reader::handle_ordinary(std::string_view line, std::size_t number,
                                     logbook_item& item) {
  if (is_skipped(line)) return false;
  item.line = number;
  item.encoding = encoding_of(line);
  if (line.starts_with(kHeaderOwnerTitle)) {
    item.what = logbook_item::kind::unreadable;
    item.reason =
        "en-tete incomplet (il en faut les six lignes ; velkrin, menu 4, en ecrit un), ignore";
    return true;
  }
  if (item.encoding == line_encoding::cp850 || item.encoding == line_encoding::cp1252) {
    to_utf8(line, item.encoding, converted_);
    line = converted_;
  }
  if (auto error = parse_qso(line, item.values, words_)) {
    item.what = logbook_item::kind::unreadable;
    item.reason = std::move(*error);
  } else {
    item.what = logbook_item::kind::qso;
    if (!values_only_) item.values.copy_to(item.qso);
  }
  return true;
}

std::string unreadable_logbook_message(std::string_view path, std::string_view cause) {
  return "Erreur : le journal de bord \"" + std::string(path) + "\" n'a pas pu etre lu (" +
         std::string(cause) + ").\n";
}

}  // namespace velkrin
