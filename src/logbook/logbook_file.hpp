// The logbook file "journal_de_bord.txt": the existence test, the append of a
// QSO line and the header rewrite. Each operation opens the file, works under
// an exclusive lock and closes it again, so the user may rename or archive the
// file between operations and two instances of the program never mix lines.
//
// Guarantees: a failure is reported as a value with the system's reason and
// leaves the file as it was; a success means the data has been flushed to
// the disk (for a new or replaced file, its folder is flushed too, but a
// failure of that last flush is not reported: the file is in place and
// whole). A logbook that the readers refuse as no text (saved in UTF-16, say)
// is refused too, with how to mend it, and left as it is. A kill at any
// moment leaves the file as it was or complete. No operation ever loses a
// byte already in the file: a header rewrite that changes the file's length
// goes through a temporary file renamed over the logbook, and a new logbook
// appears only once whole. A logbook that is a symbolic link stays a link;
// its target is updated.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "logbook/records.hpp"
#include "platform/platform.hpp"

namespace velkrin {

struct logbook_file {
  logbook_file() = default;
  explicit logbook_file(std::string file_path) : path(std::move(file_path)) {}

  std::string path{kLogbookFileName};
  // Called once when a write has waited about a second for the logbook that
  // another program is writing, so that the user learns why nothing happens
  // (lock_wait_message). Ctrl-C ends such a wait: see platform.hpp.
  std::function<void()> on_long_wait;
};

// Why an operation failed, in French ("ouverture : c'est un dossier").
struct logbook_error {
  std::string reason;
};

// True when the logbook can be opened for reading.
bool logbook_exists(const logbook_file& logbook);

// Appends the QSO as one line, in the file's line-end convention (CRLF when
// its first line ends in CRLF, otherwise LF; a new file gets the platform's).
// A line end is written first when the file does not end with one. When the
// logbook has vanished, the QSO still makes a new file of its own (holding
// that one line, no header), and `started_new_logbook` is set. The first
// append of a run removes the temporary files that killed runs left beside
// the logbook. Returns the failure, if any.
[[nodiscard]] std::optional<logbook_error> append_qso(const logbook_file& logbook,
                                                      const qso_record& qso,
                                                      bool* started_new_logbook = nullptr);

// What a caller of append_qso_checked() is shown of the logbook, in file
// order, and where its reading stands between calls, so that each call reads
// only the lines added since the one before.
class logbook_follower {
 public:
  virtual ~logbook_follower() = default;
  // The logbook is read again from its start (it is new to the follower,
  // was replaced by another file, lost lines, or had its first bytes
  // rewritten): forget every header and QSO shown so far.
  virtual void restart() = 0;
  // A header read in the logbook.
  virtual void header(const logbook_header& header) = 0;
  // A QSO line read in the logbook; the QSO that a call appends is shown at
  // the next call, read back from the file like any other.
  virtual void qso(const qso_record& qso) = 0;

  // Where the reading stands; kept by append_qso_checked() alone.
  struct position {
    bool known = false;
    std::pair<std::uint64_t, std::uint64_t> identity{0, 0};
    std::uint64_t offset = 0;  // the end of the last whole line read
    std::string start;         // the file's first bytes, none past `offset`
    std::string before;        // the bytes just before `offset`
  };
  position read_so_far;
};

struct checked_append {
  bool appended = false;
  bool started_new_logbook = false;  // as for append_qso
  std::optional<logbook_error> error;
};

// As one operation under the logbook's exclusive lock, on the file that the
// path names at that moment: shows `follower` what was added to the logbook
// since its last call (all of it when the file is new to it), asks `accept`
// whether the QSO goes in, and if so appends it exactly as append_qso does.
// With `details`, that record goes to the logbook's details file first (see
// details_appender), unless the file already ends with it (left there by a
// run killed before its line was written); a details file of another
// logbook, or one that cannot be written, is an error and nothing is
// written. A QSO that starts a new logbook gets no details.
// Nothing else can write between the reading and the append, so a QSO that
// another program wrote meanwhile is always seen. A logbook that cannot be
// read (not text, a read error) is an error, and nothing is written. A
// vanished logbook is shown as an empty one and, if accepted, the QSO starts
// a new file as with append_qso.
[[nodiscard]] checked_append append_qso_checked(const logbook_file& logbook, const qso_record& qso,
                                                logbook_follower& follower,
                                                const std::function<bool()>& accept,
                                                const details_record* details = nullptr);

// The details file of a logbook whose exclusive lock the caller holds, to
// append records to it (the import). Records go in before the logbook lines
// they belong to; should the lines then fail, undo() takes them back.
class details_appender {
 public:
  details_appender() = default;
  details_appender(const details_appender&) = delete;
  details_appender& operator=(const details_appender&) = delete;

  // Opens the details file of the logbook named `logbook_path` (as the user
  // gave it), without creating it; cuts off a last record that a killed run
  // left torn; reads its header. `first` is the logbook's first header.
  platform::status open(const std::string& logbook_path, const logbook_header& first);
  // True when the file's header names another logbook: nothing may be
  // written to it (details_notice says what to do).
  bool other_logbook() const { return other_logbook_; }
  const details_owner& owner() const { return owner_; }
  const std::string& path() const { return path_; }
  // True when the file ends with exactly this record's text.
  bool ends_with(std::string_view record_text) const { return tail_.ends_with(record_text); }
  // Appends the records' text and flushes it; a missing file is made whole,
  // with its header, in one step (once: open again to append more).
  platform::status append(std::string_view records);
  // Takes back what append() added, as far as it can.
  void undo();

 private:
  std::string path_;
  std::string target_;
  logbook_header first_;
  platform::locked_file file_;
  bool open_ = false;
  bool created_ = false;
  bool other_logbook_ = false;
  details_owner owner_;
  std::string eol_ = "\n";
  std::uint64_t size_before_ = 0;
  // The file's last bytes, enough for an ordinary record.
  static constexpr std::size_t kTailBytes = 16 * 1024;
  std::string tail_;
};

// Completing, correcting or removing one QSO of the logbook (velkrin-journal
// complete, corrige, supprime), under the logbook's exclusive lock, through
// copies renamed into place. A correction that changes the line's key first
// writes the details under both keys, then the logbook, then drops the old
// key: a kill at any moment leaves each file old or new and no line without
// its details. Details stay while another line holds their key.
enum class qso_edit_kind { complete, correct, remove };

struct qso_edit {
  qso_edit_kind kind = qso_edit_kind::complete;
  std::size_t line = 0;  // the QSO's line in the logbook, from 1
  // Refused unless the line, its trailing blanks cut, reads exactly this.
  std::optional<std::string> expected_line;
  // Makes the change on the line's values and its details (empty when it has
  // none), or returns the French reason to refuse it. Not called for remove.
  std::function<std::optional<std::string>(qso_record& qso, details_record& details)> change;
};

struct qso_edit_result {
  std::optional<std::string> refusal;  // French; nothing was written
  std::optional<logbook_error> error;  // a failed read or write; nothing changed
  std::string line_before;             // as in the file, trailing blanks cut
  std::string line_after;              // empty for a removal or when unchanged
  details_record details_before;       // empty when there were none
  details_record details_after;
  bool details_kept = false;  // remove: another line holds the same key
  // The change is made, but the details of the old key could not be
  // dropped (the system's reason, French): they stay without a line.
  std::optional<std::string> leftover;
};

[[nodiscard]] qso_edit_result edit_qso(const logbook_file& logbook, const qso_edit& edit);

// Brings `follower` up to date with the logbook under its exclusive lock,
// as append_qso_checked() does, and writes nothing. A vanished logbook is
// shown as an empty one.
[[nodiscard]] std::optional<logbook_error> follow_logbook(const logbook_file& logbook,
                                                          logbook_follower& follower);

// Gives the logbook a new header block, creating the file when missing (a
// new logbook appears with its whole header or not at all). A header of this
// program at the start of the file is replaced; any other content is kept
// whole behind the new header. Nothing else is added.
[[nodiscard]] std::optional<logbook_error> write_header(const logbook_file& logbook,
                                                        const logbook_header& header);

// The French message for a failed write: 'Erreur : le journal de bord
// "journal_de_bord.txt" n'a pas pu etre ecrit (reason).', naming `path` as
// given (with its control characters shown visibly).
std::string write_failure_message(const logbook_error& error,
                                  std::string_view path = kLogbookFileName);

// The note for a QSO that started a new logbook, without a header, because
// the logbook had vanished: 'Attention : le journal de bord
// "journal_de_bord.txt" avait disparu ; ...'.
std::string new_logbook_message();

// What a writer says while it waits for the logbook `path` (given as it is
// to be shown), without a line end: 'Attente : le journal de bord "PATH" est
// en cours d'ecriture par un autre programme (Ctrl-C pour abandonner).'
std::string lock_wait_message(std::string_view path);

// The message that hands the user a QSO that could not be recorded, followed
// by its logbook line, so that it can be copied by hand.
std::string unrecorded_qso_message(const qso_record& qso);

}  // namespace velkrin
