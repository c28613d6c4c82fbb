// Reads ADIF (.adi) as it is found in the wild, not only as the standard
// writes it: field names and the <EOH> and <EOR> markers in any case, files
// with no header (starting with '<'), type indicators (<CALL:5:S>), any
// application or user-defined field, free text between fields, CR LF or LF.
//
// Lengths count bytes, as the standard says. Some programs count characters
// in accented UTF-8 text instead; when the byte count does not land on the
// next field while the character count lands there exactly, the character
// count is taken and the record says so.
//
// Streaming and pure: the caller feeds the bytes in pieces of any size and
// takes the records out one at a time, so memory stays bounded whatever the
// file's size. Values are kept as their bytes; nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkrin::adif {

// `text` without the blanks ADIF allows around a value or a name: spaces,
// tabs, CR and LF.
std::string_view trim_blanks(std::string_view text);

// True when `value` holds an <EOR>, in any case and with blanks inside its
// brackets, as the reader takes it: a record with such a value cannot be
// read back (see adif_read_record::unreadable).
bool holds_record_end(std::string_view value);

// The most bytes of names and values that one record keeps; a field beyond
// it is dropped and the record says so. A single field declared longer is a
// wrong length (see adif_read_record::unreadable).
inline constexpr std::size_t kMaxRecordBytes = 1u << 20;

struct read_field {
  std::string name;  // upper case
  std::string value;
};

struct adif_read_record {
  std::size_t ordinal = 0;   // 1 for the file's first record
  std::uint64_t offset = 0;  // byte offset of its first field
  std::uint64_t line = 0;    // line of its first field, from 1
  std::vector<read_field> fields;
  bool complete = true;             // false: the input ended before its <EOR>
  bool characters_counted = false;  // a length counted characters, not bytes
  std::string problem;              // French: a field dropped
  // French: why the record cannot be trusted, empty when it can: a field's
  // declared length runs past the end of the input, beyond kMaxRecordBytes,
  // or over the record's <EOR>. Its value is not taken, and the reader goes
  // on right after its tag, so that a wrong length swallows none of the
  // records that follow.
  std::string unreadable;

  // The value of the first field of that name (upper case), if any.
  const std::string* find(std::string_view upper_name) const;
};

class adif_reader {
 public:
  // Hands over the next bytes of the input. Take the records out with next()
  // after each piece: the reader keeps only what it has not read yet.
  void feed(std::string_view bytes);
  // Says that the input has ended.
  void finish();
  // The next record, or nothing until more bytes are fed (or, after finish(),
  // at the end). A record that the input cuts short comes last, with
  // `complete` false. The header's fields are not records.
  std::optional<adif_read_record> next();
  // The same, into `into`, whose whole content it replaces: false (and
  // `into` left as it was) when there is no record yet. Handing the same
  // record back each time lets the reader reuse its storage, so that a long
  // file costs no allocation per record.
  bool next(adif_read_record& into);
  // True once an <EOH> was read: the input is ADIF, records or not.
  bool header_seen() const { return header_seen_; }
  // Keeps in the records only the fields whose name (as written, in any
  // case) `keep` accepts; the others are read and left out, which saves
  // copying their values. Records come out the same otherwise.
  void keep_fields(bool (*keep)(std::string_view name)) { keep_ = keep; }

 private:
  enum class step { more, again, record };

  struct field_tag {
    std::string_view name;
    std::size_t length = 0;
    std::size_t value_start = 0;
  };
  std::optional<field_tag> plain_field_tag() const;
  step parse_one();
  step parse_value(std::size_t tag_end, std::string_view name, std::size_t length);
  step end_record();
  void consume(std::size_t count);
  void count_lines();
  bool tag_follows(std::size_t at) const;
  bool tag_follows_in_buffer(std::size_t at) const;
  void start_record();
  void reset_current();
  void add_field(std::string_view name, std::string_view value);

  std::string buffer_;
  std::size_t pos_ = 0;              // next unread byte of buffer_
  std::uint64_t buffer_offset_ = 0;  // offset of buffer_[0] in the input
  // Lines are counted when a record needs its line, not byte by byte.
  std::uint64_t line_ = 1;   // line of buffer_[line_at_]
  std::size_t line_at_ = 0;  // at most pos_
  bool finished_ = false;
  std::size_t records_ = 0;
  bool header_seen_ = false;
  std::size_t kept_bytes_ = 0;
  // The record being read; its first used_fields_ fields are its own, the
  // others are storage kept from earlier records.
  adif_read_record current_;
  std::size_t used_fields_ = 0;
  bool (*keep_)(std::string_view name) = nullptr;
  std::size_t last_field_count_ = 0;  // of the record handed out last
  bool current_started_ = false;
};

}  // namespace velkrin::adif
