// velkrin-adif --lotw EMPLACEMENT: the LoTW round in one command. The QSOs
// new to LoTW are exported (those that cannot be are named and stay
// behind), TQSL signs and uploads the file, and its answer decides what is
// marked as sent: the QSOs it signed and those LoTW already had, never one
// it left out for its date or for any other reason, and nothing at all when
// the run failed or its output cannot be fully understood.
#include <algorithm>
#include <istream>
#include <ostream>

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

// True when `qso`, named by TQSL, is the record `record` of the file: by
// its call, date and start, as TQSL shows them; by its line without a call.
bool names_record(const tqsl_qso& qso, const adif_read_record& record) {
  if (qso.call.empty()) {
    return qso.line > 0 && static_cast<std::uint64_t>(qso.line) == record.line;
  }
  const auto value = [&record](std::string_view name) {
    const std::string* found = record.find(name);
    return found != nullptr ? std::string_view(*found) : std::string_view();
  };
  return to_upper(value("CALL")) == qso.call && value("QSO_DATE") == qso.date &&
         value("TIME_ON").substr(0, 4) == qso.time;
}

bool named_in(const std::vector<tqsl_qso>& list, const adif_read_record& record) {
  return std::any_of(list.begin(), list.end(),
                     [&record](const tqsl_qso& qso) { return names_record(qso, record); });
}

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
  const auto withheld = [&outcome](const adif_read_record& record) {
    if (named_in(outcome.duplicates, record)) return !outcome.duplicates_may_be_marked;
    if (named_in(outcome.out_of_range, record) || named_in(outcome.refused, record)) return true;
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
