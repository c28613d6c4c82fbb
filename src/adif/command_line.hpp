// The velkrin-adif command: its options, the files it reads and writes, its
// messages in French and its exit status.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_import.hpp"
#include "adif/adif_reader.hpp"
#include "adif/logbook_export.hpp"
#include "adif/uploads.hpp"
#include "countries/country_source.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin::adif {

inline constexpr int kExitAllExported = 0;
inline constexpr int kExitLinesReported = 1;  // the file holds every other QSO
inline constexpr int kExitFailure = 2;        // usage, unreadable logbook, unwritable output

inline constexpr std::string_view kStandardOutput = "-";

// The addresses of --accepte: ADRESSE/BITS, the first `bits` bits of
// `address` (32 for one address).
struct address_range {
  std::uint32_t address = 0;
  int bits = 32;
};

struct command_options {
  enum class action {
    export_logbook,
    new_qsos,
    mark_sent,
    lotw_round,
    import_file,
    listen,
    confirmations,
    help,
    version
  };
  action what = action::export_logbook;
  std::string logbook;
  std::optional<std::string> output;  // kStandardOutput for standard output
  bool force = false;
  mode_table user_modes;
  std::optional<calendar_date> from;  // --du
  std::optional<calendar_date> to;    // --au
  // --importe FICHIER and --ecoute[=[ADRESSE:]PORT], with their options.
  std::string adif_file;
  std::string listen_on;  // "127.0.0.1:2237" when given without a value
  class_table classes;
  std::string default_place;
  bool other_station = false;
  bool simulation = false;
  std::vector<address_range> accepted;  // --accepte, with --ecoute
  // --fichier-pays, for the export and --ecoute.
  std::optional<std::string> country_file;
  // --confirmations FICHIER (in adif_file) and --service lotw|eqsl.
  std::string confirmation_service;
  // --nouveaux SERVICE and --marque-envoye SERVICE FICHIER (in adif_file);
  // "lotw" with --lotw.
  std::string upload_service;
  // --lotw EMPLACEMENT, with --tqsl CHEMIN, --mot-de-passe and --delai SECONDES.
  std::string station_location;
  std::optional<std::string> tqsl;
  bool ask_password = false;
  std::optional<int> time_limit_seconds;
};

// The options, or the French reason of a usage error.
struct parsed_options {
  command_options options;
  std::string error;
};
parsed_options parse_options(const std::vector<std::string>& args);

// "journal.txt" gives "journal.adi"; a name not ending in ".txt" gets ".adi"
// added, so the output never replaces the logbook.
std::string default_output(const std::string& logbook);
// The file of --nouveaux: "journal.txt" gives "journal.lotw.adi".
std::string upload_output(const std::string& logbook, upload_service service);

// Runs the command with its arguments (UTF-8, without the program's name) and
// returns the exit status. The ADIF text goes to `out` with "-o -"; help and
// version go to `out`; every message goes to `err`.
// The export (also of --nouveaux and --lotw) with the country data that
// `countries` found; `done`, when given, receives its counts.
int run_export(const command_options& options, countries::country_loader& countries,
               std::ostream& out, std::ostream& err, export_result* done);
// velkrin-adif --lotw: the QSOs new to LoTW signed and uploaded by TQSL,
// then those it took marked as sent. The password, when asked, is read
// from `in`.
int run_lotw_round(const command_options& options, countries::country_loader& countries,
                   std::istream& in, std::ostream& out, std::ostream& err);

// velkrin-adif --marque-envoye SERVICE FICHIER.
int run_mark_sent(const command_options& options, std::ostream& out, std::ostream& err);
// Marks as sent to `service` the QSOs of `file_path` but those `withheld`
// refuses (when set), under the logbook's lock; the messages go to `err`.
int mark_sent_file(const command_options& options, upload_service service,
                   const std::string& file_path,
                   const std::function<bool(const adif_read_record&)>& withheld, std::ostream& err);

int run_velkrin_adif(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The same, with `in` for what a run asks (the password of --lotw
// --mot-de-passe); the one above gives it nothing to read.
int run_velkrin_adif(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err);

}  // namespace velkrin::adif
