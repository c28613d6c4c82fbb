// The velkrin-journal command: its subcommands and options, its messages in
// French and its exit status. The reading commands never write the logbook;
// complete, corrige and supprime change one QSO.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "countries/awards.hpp"
#include "journal/selection.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin::journal {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitAnswer = 1;   // never worked, duplicates, problems found, refused
inline constexpr int kExitFailure = 2;  // usage, unreadable logbook, failed write

enum class command {
  liste,
  indicatif,
  doublons,
  verifie,
  stats,
  csv,
  fiche,
  complete,
  corrige,
  supprime,
  qsl,
  pays,
  diplomes
};

// What qsl does: record a paper card sent, received or asked for; or list
// the cards to send or awaited.
enum class qsl_action { none, sent, received, requested, to_send, awaited };

// What stats --par counts the QSOs by.
enum class grouping { pays, continent };

// A CHAMP=VALEUR of complete or corrige: the name in upper case (complete)
// or lower case (corrige), the value as typed.
struct assignment {
  std::string name;
  std::string value;
};

struct journal_options {
  command what = command::liste;
  bool help = false;
  bool version = false;
  bool command_given = false;
  std::string logbook;
  std::string call;  // of indicatif
  filters selection;
  mode_table user_modes;
  bool short_table = false;           // --court
  std::optional<std::string> output;  // -o of csv
  bool force = false;
  bool excel = false;
  std::size_t qso_line = 0;                  // LIGNE of fiche, complete, corrige, supprime
  std::vector<assignment> assignments;       // of complete and corrige
  std::optional<std::string> expected_line;  // --ligne-attendue
  std::optional<std::string> country_file;   // --fichier-pays
  // qsl: its action, the QSO (qso_line, or a call and a day) and --via
  // (B, D or E) and --date.
  qsl_action qsl_what = qsl_action::none;
  std::string qsl_call;
  std::optional<calendar_date> qsl_day;
  std::string qsl_day_typed;
  std::optional<char> qsl_via;
  std::optional<calendar_date> qsl_date;
  std::optional<grouping> by;             // --par of stats
  bool by_band = false;                   // --par-bande of pays
  bool country_source = false;            // --source of pays
  std::optional<countries::award> award;  // --diplome of diplomes
};

// The options, or the French reason of a usage error.
struct parsed_options {
  journal_options options;
  std::string error;
};
parsed_options parse_options(const std::vector<std::string>& args);

// Runs the command with its arguments (UTF-8, without the program's name)
// and returns the exit status. Data goes to `out`, messages to `err`.
// `binary_output` is called before CSV is written to `out`, so that no CR is
// added on Windows.
int run_velkrin_journal(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                        const std::function<void()>& binary_output = {});

}  // namespace velkrin::journal
