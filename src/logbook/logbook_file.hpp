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

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "logbook/line_format.hpp"
#include "logbook/records.hpp"

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

// Gives the logbook a new header block, creating the file when missing (a
// new logbook appears with its whole header or not at all). A header of this
// program at the start of the file is replaced; any other content is kept
// whole behind the new header. Nothing else is added.
[[nodiscard]] std::optional<logbook_error> write_header(const logbook_file& logbook,
                                                        const logbook_header& header);

// The French message for a failed write: 'Erreur : le journal de bord
// "journal_de_bord.txt" n'a pas pu etre ecrit (reason).'
std::string write_failure_message(const logbook_error& error);

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
