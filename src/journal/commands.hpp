// The commands of velkrin-journal: the reading ones read the logbook through
// the shared reader, the writing ones (complete, corrige, supprime) change one
// QSO through edit_qso(); all write plain text, data to `out`, messages to
// `err`.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "countries/country_source.hpp"
#include "journal/command_line.hpp"
#include "journal/text_table.hpp"
#include "logbook/logbook_reader.hpp"

namespace velkrin::journal {

// Opens the logbook and has `read` read it, then closes it; the French
// reason when it cannot be opened. Called twice by doublons.
using logbook_opener =
    std::function<std::optional<std::string>(const std::function<void(logbook_reader&)>& read)>;

struct command_context {
  const journal_options& options;
  const logbook_opener& open;
  output& out;
  std::ostream& err;
  // The logbook's details file, opened by `open` with the logbook for the
  // commands that use it (liste and csv get each QSO's details from the
  // reader; verifie and fiche load it themselves); nullptr for the others.
  details_reader* details = nullptr;
  // The country file, loaded on first use, for the commands that resolve
  // call signs (see uses_countries); nullptr for the others.
  countries::country_loader* countries = nullptr;
};

int list_qsos(const command_context& context);
int worked_before(const command_context& context);
int find_duplicates(const command_context& context);
int check_logbook(const command_context& context);
int logbook_statistics(const command_context& context);
int export_csv(const command_context& context);
int show_qso(const command_context& context);          // fiche
int complete_qso(const command_context& context);      // complete
int correct_qso(const command_context& context);       // corrige
int remove_qso(const command_context& context);        // supprime
int record_qsl(const command_context& context);        // qsl
int worked_countries(const command_context& context);  // pays
int award_progress(const command_context& context);    // diplomes

// Hands on what `out` holds; `status`, or kExitFailure (said on err) when
// standard output could not be written.
int finish_output(const command_context& context, int status);

// The French label of a details field ("Report envoye" for RST_SENT); empty
// when the ADIF name says enough or is unknown.
std::string_view field_label(std::string_view adif_name);

// One CSV field: quoted when it holds the separator, a quote or a line end
// (RFC 4180); for a spreadsheet, a value that begins with "=", "+", "-" or
// "@" is made text with a leading "'".
void append_csv_field(std::string_view value, char separator, bool spreadsheet, std::string& line);

}  // namespace velkrin::journal
