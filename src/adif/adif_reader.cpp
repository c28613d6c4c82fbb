#include "adif/adif_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "logbook/qso_rules.hpp"
#include "logbook/text_encoding.hpp"

namespace velkrin::adif {
namespace {

// A '<' without its '>' this far on is free text, not a field.
constexpr std::size_t kMaxTagBytes = 256;
constexpr std::size_t kMaxNameBytes = 100;
constexpr std::size_t kMaxTypeBytes = 8;
// The blanks looked at after a value, to find the next field's '<'.
constexpr std::size_t kLookahead = 64;
constexpr std::size_t kMaxLengthDigits = 9;
constexpr std::size_t kNotFound = std::string::npos;
// A field reused for a shorter value keeps its storage up to twice the value,
// or this, so that a long value once read is not kept for good.
constexpr std::size_t kKeptValueBytes = 64;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// `marker` is upper case.
bool is_marker(std::string_view tag, std::string_view marker) {
  return tag.size() == marker.size() &&
         std::equal(tag.begin(), tag.end(), marker.begin(),
                    [](char a, char b) { return upper_ascii(a) == b; });
}

// `text` upper-cased into `into`, reusing its storage; nothing to do when a
// record read before left the same name there.
void assign_upper(std::string& into, std::string_view text) {
  if (into.size() == text.size() &&
      std::equal(text.begin(), text.end(), into.begin(),
                 [](char a, char b) { return upper_ascii(a) == b; })) {
    return;
  }
  into.assign(text);
  for (char& c : into) c = upper_ascii(c);
}

// Where the first `c` at or after `from` is; kNotFound when there is none.
// Fields are short: a plain loop finds most of them sooner than memchr.
std::size_t find_byte(std::string_view text, std::size_t from, char c) {
  constexpr std::size_t kShortSpan = 32;
  const std::size_t short_end = std::min(text.size(), from + kShortSpan);
  for (; from < short_end; ++from) {
    if (text[from] == c) return from;
  }
  if (from >= text.size()) return kNotFound;
  const void* found = std::memchr(text.data() + from, c, text.size() - from);
  return found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
               : kNotFound;
}

std::size_t find_open(std::string_view text, std::size_t from) {
  return find_byte(text, from, '<');
}

bool name_byte(char c) {
  return static_cast<unsigned char>(c) >= 0x20 && c != '<' && c != ',' && c != '{' && c != '}';
}

bool valid_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  return std::all_of(name.begin(), name.end(), name_byte);
}

std::optional<std::size_t> parse_length(std::string_view text) {
  if (text.empty() || text.size() > kMaxLengthDigits) return std::nullopt;
  std::size_t length = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return length;
}

bool valid_type(std::string_view type) {
  return type.size() <= kMaxTypeBytes && std::all_of(type.begin(), type.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
         });
}

// Where `count` UTF-8 characters from `from` end; kNotFound when the bytes
// there are not UTF-8 or end first.
std::size_t utf8_end(std::string_view text, std::size_t from, std::size_t count) {
  std::size_t at = from;
  for (std::size_t n = 0; n < count; ++n) {
    if (at >= text.size()) return kNotFound;
    const std::size_t length = utf8_sequence_length(text, at);
    if (length == 0) return kNotFound;
    at += length;
  }
  return at;
}

}  // namespace

std::string_view trim_blanks(std::string_view text) { return trim(text); }

const std::string* adif_read_record::find(std::string_view upper_name) const {
  for (const auto& field : fields) {
    if (field.name == upper_name) return &field.value;
  }
  return nullptr;
}

bool holds_record_end(std::string_view value) {
  for (std::size_t open = find_open(value, 0); open != kNotFound;
       open = find_open(value, open + 1)) {
    const std::size_t close = value.find('>', open + 1);
    if (close == kNotFound) return false;
    if (is_marker(trim(value.substr(open + 1, close - open - 1)), "EOR")) return true;
  }
  return false;
}

void adif_reader::feed(std::string_view bytes) {
  if (pos_ > 0) {
    count_lines();
    buffer_.erase(0, pos_);
    buffer_offset_ += pos_;
    pos_ = 0;
    line_at_ = 0;
  }
  buffer_.append(bytes);
}

void adif_reader::finish() { finished_ = true; }

std::optional<adif_read_record> adif_reader::next() {
  // The storage given for the record after this one, sized for as many
  // fields as the last one had, so that it does not grow field by field.
  adif_read_record record;
  record.fields.reserve(last_field_count_);
  if (!next(record)) return std::nullopt;
  return record;
}

bool adif_reader::next(adif_read_record& into) {
  for (;;) {
    step done = parse_one();
    if (done == step::again) continue;
    if (done == step::more && finished_ && pos_ == buffer_.size() && current_started_) {
      current_.complete = false;
      done = end_record();
    }
    if (done != step::record) return false;
    // The fields beyond the record's own are storage: the record handed out
    // has exactly its fields, and its old fields become the next storage.
    current_.fields.resize(used_fields_);
    last_field_count_ = used_fields_;
    std::swap(into, current_);
    reset_current();
    return true;
  }
}

void adif_reader::consume(std::size_t count) { pos_ += count; }

void adif_reader::count_lines() {
  for (std::size_t at = find_byte(std::string_view(buffer_).substr(0, pos_), line_at_, '\n');
       at != kNotFound; at = find_byte(std::string_view(buffer_).substr(0, pos_), at + 1, '\n')) {
    ++line_;
  }
  line_at_ = pos_;
}

bool adif_reader::tag_follows(std::size_t at) const {
  for (std::size_t n = 0; n <= kLookahead; ++n, ++at) {
    if (at >= buffer_.size()) return finished_;
    if (buffer_[at] == '<') return true;
    if (!is_blank(buffer_[at])) return false;
  }
  return false;
}

// tag_follows() from the bytes already fed alone: true means true whatever
// comes next.
bool adif_reader::tag_follows_in_buffer(std::size_t at) const {
  for (std::size_t n = 0; n <= kLookahead && at < buffer_.size(); ++n, ++at) {
    if (buffer_[at] == '<') return true;
    if (!is_blank(buffer_[at])) return false;
  }
  return false;
}

void adif_reader::start_record() {
  if (current_started_) return;
  current_started_ = true;
  current_.offset = buffer_offset_ + pos_;
  count_lines();
  current_.line = line_;
}

void adif_reader::reset_current() {
  current_.ordinal = 0;
  current_.offset = 0;
  current_.line = 0;
  current_.complete = true;
  current_.characters_counted = false;
  current_.problem.clear();
  current_.unreadable.clear();
  used_fields_ = 0;
  current_started_ = false;
  kept_bytes_ = 0;
}

void adif_reader::add_field(std::string_view name, std::string_view value) {
  start_record();
  if (kept_bytes_ + name.size() + value.size() > kMaxRecordBytes) {
    if (current_.problem.empty()) {
      current_.problem = "champ " + to_upper(name) + " ignore (enregistrement trop long)";
    }
    return;
  }
  kept_bytes_ += name.size() + value.size();
  if (keep_ != nullptr && !keep_(name)) return;
  if (used_fields_ == current_.fields.size()) current_.fields.emplace_back();
  read_field& field = current_.fields[used_fields_++];
  assign_upper(field.name, name);
  if (field.value.capacity() > 2 * std::max(value.size(), kKeptValueBytes)) {
    std::string fitting(value);  // assigning a short string would keep the storage
    field.value.swap(fitting);
  } else {
    field.value.assign(value);
  }
}

adif_reader::step adif_reader::end_record() {
  if (!current_started_) return step::again;
  current_.ordinal = ++records_;
  return step::record;
}

// The usual shape of a field's tag, "<NAME:LENGTH>" with no blank and no
// type, read in one pass from the '<' at pos_; nothing for any other shape
// (which parse_one() reads the long way, to the same result).
std::optional<adif_reader::field_tag> adif_reader::plain_field_tag() const {
  const std::string_view text(buffer_);
  std::size_t at = pos_ + 1;
  const std::size_t name_limit = std::min(text.size(), at + kMaxNameBytes);
  while (at < name_limit && text[at] != ':' && text[at] != '>' && !is_blank(text[at]) &&
         name_byte(text[at])) {
    ++at;
  }
  if (at == pos_ + 1 || at >= text.size() || text[at] != ':') return std::nullopt;
  const std::string_view name = text.substr(pos_ + 1, at - pos_ - 1);
  std::size_t length = 0;
  const std::size_t digits_begin = ++at;
  const std::size_t digits_limit = std::min(text.size(), at + kMaxLengthDigits);
  for (; at < digits_limit && text[at] >= '0' && text[at] <= '9'; ++at) {
    length = length * 10 + static_cast<std::size_t>(text[at] - '0');
  }
  if (at == digits_begin || at >= text.size() || text[at] != '>') return std::nullopt;
  return field_tag{name, length, at + 1};
}

adif_reader::step adif_reader::parse_one() {
  if (pos_ == buffer_.size()) return step::more;
  const std::size_t open = find_open(buffer_, pos_);
  if (open == kNotFound) {
    consume(buffer_.size() - pos_);
    return step::more;
  }
  consume(open - pos_);
  if (const auto plain = plain_field_tag()) {
    return parse_value(plain->value_start, plain->name, plain->length);
  }
  const std::size_t search_end = std::min(buffer_.size(), pos_ + kMaxTagBytes);
  const std::size_t close =
      find_byte(std::string_view(buffer_).substr(0, search_end), pos_ + 1, '>');
  if (close == kNotFound) {
    if (!finished_ && search_end == buffer_.size() && search_end - pos_ < kMaxTagBytes) {
      return step::more;
    }
    consume(1);  // a '<' of free text
    return step::again;
  }
  const std::string_view tag = std::string_view(buffer_).substr(pos_ + 1, close - pos_ - 1);
  const std::size_t colon = tag.find(':');
  if (colon == std::string_view::npos) {
    const std::string_view marker = trim(tag);
    if (is_marker(marker, "EOR")) {
      consume(close + 1 - pos_);
      return end_record();
    }
    if (is_marker(marker, "EOH")) {
      consume(close + 1 - pos_);
      header_seen_ = true;
      // Fields before <EOH> describe the file; after a record it is stray.
      if (records_ == 0) reset_current();
      return step::again;
    }
    consume(1);
    return step::again;
  }
  const std::string_view name = trim(tag.substr(0, colon));
  const std::string_view rest = tag.substr(colon + 1);
  const std::size_t type_colon = rest.find(':');
  const auto length = parse_length(trim(rest.substr(0, type_colon)));
  const bool type_ok =
      type_colon == std::string_view::npos || valid_type(trim(rest.substr(type_colon + 1)));
  if (!valid_name(name) || !length || !type_ok) {
    consume(1);
    return step::again;
  }
  return parse_value(close + 1, name, *length);
}

// `name` is as written, in the buffer: the field's name once upper-cased.
adif_reader::step adif_reader::parse_value(std::size_t value_start, std::string_view name,
                                           std::size_t length) {
  // A length that no record can hold, that runs past the end of the input,
  // or whose value holds an <EOR>, is wrong: taking that many bytes would
  // swallow the records that follow. The record is marked, and reading goes
  // on right after the tag.
  const auto wrong_length = [&](std::string_view why) {
    start_record();
    if (current_.unreadable.empty()) {
      current_.unreadable = "champ " + to_upper(name) + " annonce " + std::to_string(length) +
                            " octets, " + std::string(why);
    }
    consume(value_start - pos_);
    return step::again;
  };
  if (length > kMaxRecordBytes) {
    return wrong_length("plus qu'un enregistrement n'en tient (" + std::to_string(kMaxRecordBytes) +
                        ")");
  }
  const std::size_t bytes_end = value_start + length;
  if (bytes_end > buffer_.size()) {
    if (!finished_) return step::more;
    return wrong_length("au-dela de la fin du fichier");
  }
  std::size_t end = bytes_end;
  bool characters_counted = false;
  // A byte count that lands on the next field is taken as it is, whatever
  // the bytes: a character count can only be tried when it does not.
  if (!tag_follows_in_buffer(bytes_end)) {
    const auto value_begin = buffer_.begin() + static_cast<std::ptrdiff_t>(value_start);
    const bool plain_ascii =
        std::all_of(value_begin, value_begin + static_cast<std::ptrdiff_t>(length),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!plain_ascii) {
      // Enough bytes to see where a character count would end, and beyond.
      if (!finished_ && buffer_.size() < value_start + 4 * length + kLookahead) return step::more;
      const std::size_t characters_end = utf8_end(buffer_, value_start, length);
      if (characters_end != kNotFound && characters_end > bytes_end && !tag_follows(bytes_end) &&
          tag_follows(characters_end) && buffer_.find('<', bytes_end) >= characters_end) {
        end = characters_end;
        characters_counted = true;
      }
    }
  }
  const std::string_view value = std::string_view(buffer_).substr(value_start, end - value_start);
  if (holds_record_end(value)) return wrong_length("au-dela de la fin de son enregistrement");
  current_.characters_counted = current_.characters_counted || characters_counted;
  add_field(name, value);
  consume(end - pos_);
  return step::again;
}

}  // namespace velkrin::adif
