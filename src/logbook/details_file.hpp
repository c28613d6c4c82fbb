// The logbook's details file: every field a QSO brought beyond what its line
// holds (reports, locators, comments, confirmations...), kept beside the
// logbook in "NAME.details.adi" without touching the logbook's format. The
// logbook stays the legal record; the details file is never required.
//
// The file is ADIF-shaped: a header naming the program, the owner's call sign
// and the logbook's start date (the details belong to that one logbook), then
// one record per QSO, values in UTF-8, lengths counted in bytes. A record
// names its QSO by key fields that the line alone gives: CALL, QSO_DATE,
// TIME_ON (its hours and minutes), BAND and the class as written on the line
// (APP_VELKRIN_CLASS), so that a hand edit of any other column keeps the
// details attached and two classes of one ADIF mode stay apart. MODE and
// SUBMODE are written too, for other readers. When several records carry one
// key, the last one in the file holds: an append supersedes, and a rewrite
// keeps one record per key.
//
// Writes happen under the logbook's exclusive lock only (logbook_file.hpp),
// the details record before the logbook line it belongs to, so that a reader
// that takes the logbook first and its details next finds every line's
// details.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_reader.hpp"
#include "logbook/records.hpp"
#include "platform/platform.hpp"

namespace velkrin {

inline constexpr std::string_view kDetailsSuffix = ".details.adi";
// Application fields of the program, as ADIF names them (APP_PROGRAM_NAME).
inline constexpr std::string_view kClassField = "APP_VELKRIN_CLASS";
inline constexpr std::string_view kOwnerField = "APP_VELKRIN_LOGBOOK_OWNER";
inline constexpr std::string_view kStartDateField = "APP_VELKRIN_LOGBOOK_START";

// "journal_de_bord.txt" gives "journal_de_bord.details.adi"; a name that does
// not end in ".txt" gets ".details.adi" added.
std::string details_path_for(std::string_view logbook_path);

// One field: its ADIF name in upper case and its value, UTF-8.
struct details_field {
  std::string name;
  std::string value;
  friend bool operator==(const details_field&, const details_field&) = default;
};

// What joins a logbook line to its details record.
struct details_key {
  std::string call;            // upper case
  std::string date;            // YYYYMMDD
  std::string time;            // HHMM
  std::string band;            // "20m"; empty outside the bands
  std::string emission_class;  // as written on the line
  friend bool operator==(const details_key&, const details_key&) = default;
};

// The key of a logbook line; nothing when its date or start time is not
// valid (such a line can have no details).
std::optional<details_key> details_key_of(const qso_values& qso);

// A 64-bit digest of a key, for indexes; equal keys give equal digests.
std::uint64_t key_digest(const details_key& key);

// True for the fields that name the QSO (CALL, QSO_DATE, TIME_ON, BAND, MODE,
// SUBMODE, APP_VELKRIN_CLASS), upper-case names.
bool is_key_field(std::string_view name);

struct details_record {
  std::vector<details_field> fields;  // key fields first, then the others as they came

  // The value of the field of that (upper-case) name; nullptr when absent.
  const std::string* find(std::string_view name) const;
  // Replaces the field's value, or adds the field at the end; an empty value
  // removes it.
  void set(std::string_view name, std::string value);
  // The key its fields give; nothing when one is missing or malformed.
  std::optional<details_key> key() const;
  // True when it holds a field beyond the key's.
  bool has_more_than_key() const;
  friend bool operator==(const details_record&, const details_record&) = default;
};

// A record for the line `qso`: its key fields (CALL in upper case, QSO_DATE,
// TIME_ON, BAND, MODE and SUBMODE when the class gives them, the class),
// then `fields` minus the key fields. A TIME_ON in `fields` with seconds
// ("090515") whose hours and minutes are the line's is kept as the record's
// TIME_ON, and MODE and SUBMODE in `fields` are kept over those the class
// gives. Used again on a corrected line: the key follows its new columns.
details_record details_for(const qso_values& qso, const std::vector<details_field>& fields);

// The header, up to "<EOH>" and `eol`: a line of text, the ADIF version, the
// program and its version, the owner's call sign and the start date.
std::string format_details_header(const logbook_header& logbook, std::string_view eol);
// One record on one line: "<CALL:5>F4ABC...<EOR>" and `eol`.
std::string format_details_record(const details_record& record, std::string_view eol);

// The logbook a details file's header names.
struct details_owner {
  std::string indicatif;
  std::string date_debut;
};
// The owner that a details file's start names in the header fields before
// its <EOH>; empty fields when there is no header there.
details_owner owner_in_header(std::string_view start);
// True when the header names the logbook whose first header is `first`
// (nullptr for a logbook without one, which no details file matches).
bool owner_matches(const details_owner& owner, const logbook_header* first);

// ---------------------------------------------------------------------------
// Reading.

enum class details_state {
  absent,         // no details file: the logbook is read as it is
  ready,          // read and indexed
  other_logbook,  // its header names another logbook (or none): left unread
  unreadable,     // it could not be read (failure() says why): left unread
};

// A record read from the file that cannot be used, for verifie.
struct details_problem {
  std::uint64_t line = 0;  // of the details file, from 1
  std::string reason;      // French
};

// The details file of one logbook as the commands read it. open() takes the
// file as it is at that moment (its size), to be called while the logbook's
// shared lock is held (file_source::open does), so that every line of the
// logbook read finds its details; load() then reads and indexes it, keeping
// in memory only a digest and an offset per record (16 bytes), never the
// records themselves; find() reads a record again from the file.
class details_reader {
 public:
  details_reader() = default;
  details_reader(const details_reader&) = delete;
  details_reader& operator=(const details_reader&) = delete;

  // Opens the details file of the logbook `logbook_path`; absent when there
  // is none.
  void open(const std::string& logbook_path);
  // Reads the header and indexes the records, once; `first` is the logbook's
  // first header (nullptr when it has none). Returns the state.
  details_state load(const logbook_header* first);
  // Reads the header alone, to learn whether the file belongs to the logbook
  // (for_each needs no more).
  details_state check_owner(const logbook_header* first);
  details_state state() const { return state_; }
  const std::string& path() const { return path_; }
  const std::optional<std::string>& failure() const { return failure_; }
  // The owner the file's header names (for messages), once loaded.
  const details_owner& owner() const { return owner_; }
  // Every field of the file's header (names in upper case), once its owner
  // was checked.
  const std::vector<details_field>& header_fields() const { return header_fields_; }

  // The last record of that key, or nullptr; valid until the next call.
  const details_record* find(const details_key& key);
  // Where the record that find() last returned lies, [begin, end): from its
  // first field to the next record's; nothing when it is too long to say.
  const std::optional<std::pair<std::uint64_t, std::uint64_t>>& found_range() const {
    return found_range_;
  }
  // The same for one look-up, without load(): one pass over the file that
  // keeps nothing but where the key's last record is.
  const details_record* find_alone(const logbook_header* first, const details_key& key);

  // Every readable record in file order, with the line it starts on, and the
  // unreadable ones as problems (after load(), for verifie).
  struct visit {
    std::uint64_t line = 0;
    const details_record* record = nullptr;    // nullptr for a problem
    const details_problem* problem = nullptr;  // nullptr for a record
  };
  platform::status for_each(const std::function<void(const visit&)>& each);
  // Where the records of that key lie in the file, [begin, end) in file
  // order (after load()); nothing when one of them is too long to say.
  std::optional<std::vector<std::pair<std::uint64_t, std::uint64_t>>> ranges_of(
      const details_key& key);
  // Where a record that the file's end cuts short begins, if one does.
  const std::optional<std::uint64_t>& torn_from() const { return torn_from_; }
  // The size of the file as opened.
  std::uint64_t size() const { return size_; }
  // Closes the file (records found stay valid), so that it can be replaced.
  void close() { file_.close(); }

 private:
  struct entry {
    std::uint64_t digest = 0;
    std::uint64_t offset : 40 = 0;     // of the record's first field
    std::uint64_t length : 23 = 0;     // to the next record's first field; 0 if longer
    std::uint64_t superseded : 1 = 0;  // a later record has the same digest
  };
  void add_to_index(std::optional<std::uint64_t> digest, std::uint64_t offset);
  // Feeds `reader` the file as opened, piece by piece, calling `take` after
  // each piece and after the end.
  platform::status read_through(adif::adif_reader& reader, const std::function<void()>& take);
  const details_record* read_record(const entry& at, const details_key& key);
  void note_found(const entry& at);

  std::string path_;
  platform::shared_file file_;
  std::uint64_t size_ = 0;
  details_state state_ = details_state::absent;
  bool loaded_ = false;
  bool owner_checked_ = false;
  std::optional<std::uint64_t> torn_from_;
  std::optional<std::string> failure_;
  details_owner owner_;
  std::vector<details_field> header_fields_;
  std::vector<entry> entries_;            // the records with a key, in file order
  std::vector<std::uint32_t> by_digest_;  // their positions, sorted by digest
  // Lines mostly come in the order of their records: the record after the
  // last one found is tried first.
  std::size_t next_ = 0;
  // The last record indexed, whose length the next record's offset gives.
  std::optional<std::uint64_t> pending_digest_;
  std::uint64_t pending_offset_ = 0;
  bool pending_ = false;
  details_record found_;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> found_range_;
  // The reader of the records looked up in file order: it was fed the file
  // from sequence_base_ up to sequence_fed_.
  std::optional<adif::adif_reader> sequence_;
  adif::adif_read_record sequence_record_;
  std::uint64_t sequence_base_ = 0;
  std::uint64_t sequence_fed_ = 0;
  std::optional<std::uint64_t> sequence_last_;  // the offset of the last record it gave
  bool sequence_finished_ = false;
  std::string window_;  // the bytes read for it
};

// What every command says once when it leaves the details file unread
// (other_logbook or unreadable), with its line end; empty otherwise.
std::string details_notice(const details_reader& details, std::string_view logbook_path);

}  // namespace velkrin
