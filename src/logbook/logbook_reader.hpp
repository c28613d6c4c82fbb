// The one reader of the logbook, for every command that looks into it. It
// streams: lines are read one at a time from 64 KiB pieces, in bounded memory
// whatever the file's size, and handed out as they come.
//
// A header is six lines, compared after their trailing blanks are cut: a row
// of dashes, "Journal de Bord de :" with the owner's call sign and start
// date, the time note, dashes, the column titles, dashes; a UTF-8 byte-order
// mark may come before the first, and lines may end in LF or CR LF. Each QSO
// belongs to the nearest header above it. A QSO line is nine words split on
// blanks (a typed value never holds one, so a value wider than its column
// reads correctly), the seventh "kHz"; a value of exactly "-" stands for an
// empty one; a line in the layout that the program writes is read by its
// columns instead, to the same words (split_by_columns in line_format.hpp).
// Empty lines, the lines of headers and the echo lines that a header
// rewrite in a Windows command interpreter leaves are skipped; any other
// line is reported with its number and why.
//
// Each line is read in its own encoding (see text_encoding.hpp) and handed
// out in UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "logbook/records.hpp"
#include "logbook/text_encoding.hpp"
#include "platform/platform.hpp"

namespace velkrin {

// Where the reader takes its bytes.
class byte_source {
 public:
  virtual ~byte_source() = default;
  // Reads up to `count` bytes; `got` is 0 only at the end.
  virtual platform::status read(char* buffer, std::size_t count, std::size_t& got) = 0;
};

// Bytes held in memory (tests, fuzzing).
class text_source : public byte_source {
 public:
  explicit text_source(std::string_view text) : rest_(text) {}
  platform::status read(char* buffer, std::size_t count, std::size_t& got) override;

 private:
  std::string_view rest_;
};

// A logbook file, read as it was when opened. Under the logbook's lock taken
// in shared mode, open() notes the file's size and reads its first
// kHeaderSearchBytes, where a header may be rewritten in place; it then
// releases the lock, and the rest is read without it, up to that size.
// Appends add whole lines past that size under the exclusive lock, and other
// rewrites rename a new file over the logbook, leaving this one whole: a QSO
// or a header being written is never seen half written, and no writer waits
// for a reader, whatever the reader's output does. A pipe or a device is read
// to its end.
class file_source : public byte_source {
 public:
  // With `details`, the logbook's details file is opened too, under the
  // logbook's lock, so that it holds the details of every line read.
  platform::status open(const std::string& path, details_reader* details = nullptr);
  platform::status read(char* buffer, std::size_t count, std::size_t& got) override;
  void close() { file_.close(); }

 private:
  platform::shared_file file_;
  std::string first_block_;      // read under the lock
  std::size_t first_given_ = 0;  // how much of it read() has handed out
  std::uint64_t rest_ = 0;       // bytes left to read after it
};

// The bytes of a logbook that the caller holds under its exclusive lock
// (to rewrite it), read from the start.
class locked_source : public byte_source {
 public:
  explicit locked_source(platform::locked_file& file) : file_(file) {}
  platform::status read(char* buffer, std::size_t count, std::size_t& got) override;

 private:
  platform::locked_file& file_;
  std::uint64_t offset_ = 0;
};

// A header found in the file.
struct header_block {
  std::size_t line = 0;  // the line of its first row of dashes
  logbook_header header;
};

struct logbook_item {
  enum class kind {
    qso,         // `qso` holds its values
    header,      // a header begins at `line`; see logbook_reader::header()
    unreadable,  // `reason` says why, in French
  };
  kind what = kind::qso;
  std::size_t line = 0;  // 1 for the first line of the file
  qso_record qso;        // left as it was after logbook_reader::read_values_only()
  qso_values values;     // the same values, valid until the reader's next call
  std::string reason;
  line_encoding encoding = line_encoding::ascii;  // of the line as stored
  // The QSO's details when the reader has a details file attached and it
  // holds a record for the line's key; valid until the reader's next call.
  const details_record* details = nullptr;
};

// The longest line read; a longer one is reported and skipped.
inline constexpr std::size_t kMaxLogbookLineBytes = 16 * 1024;

class logbook_reader {
 public:
  explicit logbook_reader(byte_source& source);

  // Speeds up a search that keeps few QSOs: a line in the shape that the
  // program writes (the unit "kHz" in its column) for which `keep`, given
  // the line's bytes as stored, returns false is skipped without being read
  // into a QSO. Every other line is read and, if need be, reported as usual.
  // `keep` must accept every line that holds a QSO the caller wants.
  void set_line_filter(std::function<bool(std::string_view)> keep) { keep_ = std::move(keep); }

  // Leaves logbook_item::qso untouched: the caller reads each QSO from
  // logbook_item::values and copies only what it keeps.
  void read_values_only() { values_only_ = true; }

  // Hands each QSO with its details (logbook_item::details) from `details`,
  // opened by file_source::open. The details file is loaded at the first QSO
  // (or at the end), against the logbook's first header.
  void attach_details(details_reader& details) { details_ = &details; }

  // The next QSO, header or unreadable line; false at the end of the file or
  // when reading failed (see failure()).
  bool next(logbook_item& item);

  // Why reading stopped early: the system's reason, or a file that is no
  // text at all. Empty after a complete read.
  const std::optional<std::string>& failure() const { return failure_; }

  // The header that the QSOs being read belong to; nullptr above the first.
  const header_block* header() const { return headers_ == 0 ? nullptr : &current_; }
  // How many headers have been read so far.
  std::size_t header_count() const { return headers_; }
  // The line end of the file's first line: "\n" or "\r\n" ("\n" until seen).
  const std::string& line_end() const { return line_end_; }

 private:
  struct pending_line {
    std::size_t number = 0;
    std::string text;       // trailing blanks cut
    bool overlong = false;  // longer than kMaxLogbookLineBytes; `text` empty
  };
  enum class read_result { line, overlong, end };

  bool next_line(logbook_item& item);
  void load_details();
  read_result read_line(std::string_view& line, std::size_t& number);
  bool fill();
  bool handle(std::string_view line, std::size_t number, logbook_item& item);
  bool handle_ordinary(std::string_view line, std::size_t number, logbook_item& item);
  void give_up_header();

  byte_source& source_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // the unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
  std::size_t line_number_ = 0;
  bool at_end_ = false;
  bool first_read_ = true;
  bool skipping_long_line_ = false;
  std::optional<std::string> failure_;
  std::string line_end_ = "\n";

  // The lines of a header being recognised, and the lines held back to be
  // read again when it turns out to be none.
  std::vector<pending_line> header_lines_;
  std::deque<pending_line> replay_;
  pending_line replaying_;

  header_block current_;
  std::size_t headers_ = 0;
  std::string converted_;  // a line in UTF-8 when stored in another encoding
  // The words of the QSO line being read: a member, as clearing them for
  // every line costs.
  std::string_view words_[kQsoWordCount];
  std::function<bool(std::string_view)> keep_;
  bool values_only_ = false;
  details_reader* details_ = nullptr;
  std::optional<logbook_header> first_header_;
};

// What every command says when it cannot read a logbook, with its line end:
// "Erreur : le journal de bord "PATH" n'a pas pu etre lu (CAUSE).".
std::string unreadable_logbook_message(std::string_view path, std::string_view cause);

}  // namespace velkrin
