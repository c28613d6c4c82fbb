// velkrin-adif --lotw EMPLACEMENT: the LoTW round in one command. The QSOs
// new to LoTW are exported (those that cannot be are named and stay
// behind), TQSL signs and uploads the file, and its answer decides what is
// marked as sent: the QSOs it signed and those LoTW already had, never one
// it left out for its date or for any other reason, and nothing at all when
// the run failed or its output cannot be fully understood.
#include <cstdint>
#include <istream>
#include <ostream>
#include <unordered_set>
#include <vector>

#include "adif/command_line.hpp"
#include "adif/tqsl.hpp"
#include "adif/uploads.hpp"
#include "platform/platform.hpp"

namespace velkrin::adif {
namespace {

// Where TQSL is: --tqsl, else on PATH, else where its Windows installer
// puts it.
std::string tqsl_program(const command_options& options) {
  if (options.tqsl) return *options.tqsl;
  return platform::find_program(
      std::string(kTqslProgram),
      tqsl_windows_locations(platform::environment_value("ProgramFiles(x86)").value_or(""),
                             platform::environment_value("ProgramFiles").value_or("")));
}

// QSOs that TQSL named, to be found among the file's records: by call,
// date and start as TQSL shows them, or by line for a record without a
// call. A whole logbook sent again names every QSO: a set, not a list.
class named_qsos {
 public:
  explicit named_qsos(const std::vector<tqsl_qso>& named) {
    for (const tqsl_qso& qso : named) {
      if (qso.call.empty()) {
        if (qso.line > 0) lines_.insert(static_cast<std::uint64_t>(qso.line));
      } else {
        keys_.insert(sent_qso_key(qso.call, qso.date, qso.time));
      }
    }
  }
  bool contains(const adif_read_record& record) const {
    return lines_.contains(record.line) || (!keys_.empty() && keys_.contains(sent_qso_key(record)));
  }

 private:
  std::unordered_set<std::uint64_t> keys_;
  std::unordered_set<std::uint64_t> lines_;
};

}  // namespace

int run_lotw_round(const command_options& options, countries::country_loader& countries,
                   std::istream& in, std::ostream& out, std::ostream& err) {
  const std::string program = tqsl_program(options);
  if (program.empty()) {
    err << "Erreur : TQSL est introuvable ; installez-le (paquet trustedqsl sous Linux, "
           "programme de l'ARRL sous Windows) ou donnez son chemin avec --tqsl CHEMIN.\n";
    return kExitFailure;
  }
  std::string password;
  if (options.ask_password) {
    err << "Mot de passe du certificat LoTW (il ne s'affiche pas) : " << std::flush;
    {
      platform::hidden_typing hidden;
      std::getline(in, password);
    }
    err << "\n";
    if (!password.empty() && password.back() == '\r') password.pop_back();
  }

  // The QSOs new to LoTW, into NAME.lotw.adi beside the logbook.
  command_options exporting = options;
  exporting.output.reset();
  export_result exported;
  const int export_status = run_export(exporting, countries, out, err, &exported);
  if (export_status == kExitFailure || exported.exported == 0) return export_status;
  const std::string file = upload_output(options.logbook, upload_service::lotw);

  err << "Signature et envoi a LoTW par TQSL (Station Location \"" << options.station_location
      << "\")...\n"
      << std::flush;
  platform::program_request request;
  request.program = program;
  request.arguments = tqsl_upload_arguments(options.station_location, file);
  if (!password.empty()) {
    // Before the file, which TQSL takes as its last argument.
    request.arguments.insert(request.arguments.end() - 1, {"-p", password});
  }
  request.time_limit_ms =
      options.time_limit_seconds ? *options.time_limit_seconds * 1000 : kTqslTimeLimitMs;
  request.output_limit = kTqslOutputLimit;
  platform::program_result ran;
  if (const platform::status s = platform::run_program(request, ran); !s.ok()) {
    err << "Erreur : TQSL (" << program << ") n'a pas pu etre lance (" << s.reason()
        << ") ; aucun QSO n'a ete envoye ni marque.\n";
    return kExitFailure;
  }
  if (ran.interrupted) {
    err << "Interrompu (Ctrl-C) : TQSL a ete arrete ; aucun QSO n'est marque comme envoye. "
           "Si l'envoi avait eu lieu, LoTW ignorera ces QSO au prochain envoi.\n";
    return kExitFailure;
  }
  tqsl_run run;
  run.status = ran.exit_status;
  run.output = ran.output;
  run.output_truncated = ran.output_truncated;
  run.timed_out = ran.timed_out;
  run.time_limit_ms = request.time_limit_ms;
  run.location = options.station_location;
  run.qsos_in_file = exported.exported;
  const tqsl_outcome outcome = interpret_tqsl_run(run);
  err << outcome.message << "\n";
  if (!outcome.signed_may_be_marked &&
      !(outcome.duplicates_may_be_marked && !outcome.duplicates.empty())) {
    // A failure says so itself; a finished run that gave nothing to mark
    // needs the words.
    if (outcome.kind == tqsl_outcome_kind::uploaded ||
        outcome.kind == tqsl_outcome_kind::some_skipped ||
        outcome.kind == tqsl_outcome_kind::none_new) {
      err << "Aucun QSO n'a ete marque comme envoye a LoTW ; ils restent a envoyer.\n";
    }
    return kExitFailure;
  }

  // Marks what TQSL took: the records it does not name if it signed them,
  // and those it names as already uploaded.
  const named_qsos duplicates(outcome.duplicates);
  std::vector<tqsl_qso> left_out = outcome.out_of_range;
  left_out.insert(left_out.end(), outcome.refused.begin(), outcome.refused.end());
  const named_qsos refused(left_out);
  const auto withheld = [&](const adif_read_record& record) {
    if (refused.contains(record)) return true;
    if (duplicates.contains(record)) return !outcome.duplicates_may_be_marked;
    return !outcome.signed_may_be_marked;
  };
  const int marked = mark_sent_file(options, upload_service::lotw, file, withheld, err);
  if (marked == kExitFailure) {
    err << "Les QSO envoyes seront marques au prochain --lotw, que TQSL dira deja envoyes.\n";
    return kExitFailure;
  }
  const bool all_taken =
      outcome.kind == tqsl_outcome_kind::uploaded ||
      (outcome.out_of_range.empty() && outcome.refused.empty() && outcome.unidentified == 0);
  return marked == kExitAllExported && export_status == kExitAllExported && all_taken
             ? kExitAllExported
             : kExitLinesReported;
}

}  // namespace velkrin::adif
