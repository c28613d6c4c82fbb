#include "adif/command_line.hpp"

#include <charconv>
#include <istream>
#include <ostream>
#include <sstream>

#include "adif/confirmations.hpp"
#include "adif/conversions.hpp"
#include "adif/logbook_export.hpp"
#include "adif/logbook_import.hpp"
#include "adif/uploads.hpp"
#include "console/visible_text.hpp"
#include "countries/country_source.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "platform/platform.hpp"
#include "version_notice.hpp"

namespace velkrin::adif {
namespace {

constexpr std::string_view kUsage =
    "Usage : velkrin-adif [options] [JOURNAL]\n"
    "        velkrin-adif --importe FICHIER.adi [options] [JOURNAL]\n"
    "        velkrin-adif --ecoute[=[ADRESSE:]PORT] [options] [JOURNAL]\n"
    "        velkrin-adif --confirmations FICHIER.adi [--service lotw|eqsl] [--simulation] "
    "[JOURNAL]\n"
    "        velkrin-adif --nouveaux SERVICE [-o FICHIER] [options] [JOURNAL]\n"
    "        velkrin-adif --marque-envoye SERVICE FICHIER.adi [JOURNAL]\n"
    "        velkrin-adif --lotw EMPLACEMENT [--tqsl CHEMIN] [--mot-de-passe] [options] "
    "[JOURNAL]\n";
constexpr std::string_view kDefaultListen = "127.0.0.1:2237";
constexpr std::string_view kHelp =
    "Exporte le journal de bord de Velkrin au format ADIF 3.1.4, pour LoTW, eQSL, QRZ,\n"
    "Club Log et les autres carnets de trafic.\n"
    "\n"
    "JOURNAL : le journal de bord (par defaut journal_de_bord.txt dans le dossier courant).\n"
    "\n"
    "Options :\n"
    "  -o FICHIER      ecrit l'export dans FICHIER (par defaut le nom du journal avec .adi\n"
    "                  a la place de .txt, a cote de lui) ; -o - ecrit sur la sortie standard\n"
    "  --force         remplace le fichier d'export s'il existe deja\n"
    "  --mode CLASSE=MODE[/SOUS_MODE]\n"
    "                  donne le mode ADIF d'une classe d'emission (a repeter au besoin),\n"
    "                  par exemple --mode J2B=PSK/PSK31\n"
    "  --du JJ-MM-AAAA  n'exporte que les QSO de ce jour et des suivants\n"
    "  --au JJ-MM-AAAA  n'exporte que les QSO de ce jour et des precedents\n"
    "  --fichier-pays FICHIER\n"
    "                  le fichier des pays (cty.csv) dont l'export tire DXCC, COUNTRY, CQZ,\n"
    "                  ITUZ et CONT, et --ecoute les nouveaux pays ; sinon le premier\n"
    "                  trouve : cty.csv a cote du journal, a cote du programme, puis\n"
    "                  /usr/share/hamradio-files/cty.csv (paquet hamradio-files)\n"
    "\n"
    "Importer (les QSO d'un fichier ADIF ajoutes au journal, tous ou aucun) :\n"
    "  --importe FICHIER  ajoute au journal les QSO du fichier ADIF (.adi)\n"
    "  --ecoute[=[ADRESSE:]PORT]\n"
    "                  inscrit au fil de l'eau les QSO que WSJT-X ou JTDX envoient\n"
    "                  (\"UDP Server\", par defaut 127.0.0.1:2237 ; une adresse de groupe\n"
    "                  multicast est rejointe) ; Ctrl-C pour finir\n"
    "  --accepte ADRESSE[/BITS]\n"
    "                  avec --ecoute (groupe multicast, ou adresse autre que 127.0.0.1) :\n"
    "                  accepte aussi les datagrammes de cet ordinateur ou de ce reseau\n"
    "                  (a repeter), par exemple 192.168.1.20 ou 192.168.1.0/24 ; sans\n"
    "                  elle, seuls ceux de cette machine sont acceptes\n"
    "  --classe MODE=CLASSE\n"
    "                  ecrit CLASSE pour ce mode ou sous-mode ADIF (a repeter au besoin),\n"
    "                  par exemple --classe PSK31=J2B\n"
    "  --lieu-par-defaut LIEU\n"
    "                  le lieu d'emission des QSO qui n'ont ni MY_CITY ni MY_GRIDSQUARE\n"
    "  --autre-indicatif  importe aussi les QSO d'un autre indicatif que celui du journal\n"
    "  --simulation    affiche les lignes qui seraient ajoutees, sans toucher au journal\n"
    "\n"
    "Confirmations (un rapport LoTW ou eQSL inscrit dans les details des QSO) :\n"
    "  --confirmations FICHIER\n"
    "                  lit un rapport de confirmations (lotwreport.adi de LoTW, boite de\n"
    "                  reception eQSL) et note dans les details de chaque QSO confirme\n"
    "                  LOTW_QSL_RCVD et LOTW_QSLRDATE (ou EQSL_QSL_RCVD et EQSL_QSLRDATE) ;\n"
    "                  les confirmations sans QSO sont listees avec le QSO le plus proche ;\n"
    "                  avec --simulation, montre ce qui changerait sans rien ecrire\n"
    "  --service lotw|eqsl\n"
    "                  avec --confirmations : le service du rapport, quand le fichier ne\n"
    "                  le dit pas lui-meme\n"
    "\n"
    "Envois (les QSO a envoyer a un service, puis notes comme envoyes) :\n"
    "  --nouveaux SERVICE\n"
    "                  exporte les QSO jamais envoyes a SERVICE (lotw, eqsl, clublog ou qrz),\n"
    "                  ou modifies depuis dans ce qu'il garde, vers NOM.SERVICE.adi a cote\n"
    "                  du journal (remplace a chaque fois ; ou -o FICHIER) ; l'export seul\n"
    "                  ne note rien\n"
    "  --marque-envoye SERVICE FICHIER\n"
    "                  une fois FICHIER envoye a SERVICE : note ses QSO comme envoyes ce\n"
    "                  jour dans leurs details (LOTW_QSL_SENT, EQSL_QSL_SENT,\n"
    "                  CLUBLOG_QSO_UPLOAD_STATUS ou QRZCOM_QSO_UPLOAD_STATUS, et leur date),\n"
    "                  chacun s'il n'a pas change dans le journal depuis l'export\n"
    "  --lotw EMPLACEMENT\n"
    "                  le tour LoTW en une fois : exporte les QSO nouveaux pour LoTW, les\n"
    "                  fait signer et envoyer par TQSL avec la Station Location EMPLACEMENT,\n"
    "                  puis marque comme envoyes ceux que TQSL a signes ou que LoTW avait\n"
    "                  deja (jamais ceux qu'il a ecartes pour leur date) ; sous Linux sans\n"
    "                  affichage graphique : xvfb-run velkrin-adif --lotw ...\n"
    "  --tqsl CHEMIN   avec --lotw : le programme TQSL, s'il n'est ni dans le PATH ni dans\n"
    "                  son dossier d'installation habituel\n"
    "  --mot-de-passe  avec --lotw : demande le mot de passe du certificat (sans l'afficher)\n"
    "                  et le passe a TQSL\n"
    "  --delai SECONDES\n"
    "                  avec --lotw : arrete TQSL s'il n'a pas fini apres ce temps (600 par\n"
    "                  defaut)\n"
    "\n"
    "  --help          affiche cette aide\n"
    "  --version       affiche la version\n"
    "\n"
    "Statut de sortie : 0 tous les QSO sont exportes (ou importes, hors doublons),\n"
    "1 des lignes ou des enregistrements ont ete signales (les autres QSO sont exportes\n"
    "ou importes), 2 erreur d'utilisation, de lecture ou d'ecriture.\n";

// The day of --du or --au; the reason when it is none.
std::optional<std::string> set_day(std::string_view option, std::string_view typed,
                                   std::optional<calendar_date>& day) {
  day = parse_date(typed);
  if (day) return std::nullopt;
  return std::string(option) + " attend une date JJ-MM-AAAA, pas \"" + std::string(typed) + "\"";
}

// The name of a file without its folder.
std::string_view file_name(std::string_view path) {
  const auto separator = path.find_last_of(platform::kPathSeparators);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// "N QSO exportes vers FILE, M lignes signalees."
std::string summary(const export_result& result, const std::string& destination) {
  const auto s = [](std::size_t count) { return count > 1 ? "s" : ""; };
  return std::to_string(result.exported) + " QSO exporte" + s(result.exported) + " vers " +
         destination + ", " + std::to_string(result.reported) + " ligne" + s(result.reported) +
         " signalee" + s(result.reported) + ".";
}

// True when `output` names the details file of `logbook`: the same file, or
// a name that would be it in the logbook's folder (compared in any case, as
// a Windows folder does), whether it exists yet or not.
bool is_details_file_of(const std::string& output, const std::string& logbook) {
  const std::string details = details_path_for(logbook);
  if (platform::same_file(output, details)) return true;
  const std::string_view name = file_name(output);
  if (to_upper(name) != to_upper(file_name(details))) return false;
  const std::string folder = output.substr(0, output.size() - name.size());
  return platform::same_file(folder + std::string(file_name(logbook)), logbook);
}

// True when the file given as the logbook begins as an ADIF file does (an
// .adi dropped on the program) and not with a header of the logbook.
bool is_adif_file(const std::string& path) {
  constexpr std::size_t kLookedAt = 4096;
  platform::shared_file file;
  if (!file.open(path).ok()) return false;
  std::string start(kLookedAt, '\0');
  std::size_t filled = 0;
  for (std::size_t got = 1; got > 0 && filled < start.size(); filled += got) {
    if (!file.read(start.data() + filled, start.size() - filled, got).ok()) return false;
  }
  start.resize(filled);
  return looks_like_adif(start) && start.find(kHeaderOwnerTitle) == std::string::npos;
}

}  // namespace

parsed_options parse_options(const std::vector<std::string>& args) {
  parsed_options parsed;
  command_options& options = parsed.options;
  std::optional<std::string> logbook;
  int actions = 0;
  int import_options = 0;
  int lotw_options = 0;
  for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options.what = command_options::action::help;
    } else if (arg == "--version") {
      options.what = command_options::action::version;
    } else if (arg == "--force") {
      options.force = true;
    } else if (arg == "-o" && has_value) {
      options.output = args[++i];
    } else if (arg == "--mode" && has_value) {
      if (auto error = add_class_mapping(args[++i], options.user_modes)) parsed.error = *error;
    } else if (arg.starts_with("--mode=")) {
      if (auto error = add_class_mapping(arg.substr(7), options.user_modes)) parsed.error = *error;
    } else if ((arg == "--du" || arg == "--au") && has_value) {
      if (auto error = set_day(arg, args[++i], arg == "--du" ? options.from : options.to)) {
        parsed.error = *error;
      }
    } else if (arg == "--importe" && has_value) {
      options.what = command_options::action::import_file;
      options.adif_file = args[++i];
      ++actions;
    } else if (arg.starts_with("--importe=")) {
      options.what = command_options::action::import_file;
      options.adif_file = arg.substr(10);
      ++actions;
    } else if (arg == "--ecoute" || arg.starts_with("--ecoute=")) {
      options.what = command_options::action::listen;
      options.listen_on = arg == "--ecoute" ? std::string(kDefaultListen) : arg.substr(9);
      ++actions;
    } else if ((arg == "--accepte" && has_value) || arg.starts_with("--accepte=")) {
      const std::string typed = arg == "--accepte" ? args[++i] : arg.substr(10);
      address_range range;
      if (!parse_address_range(typed, range)) {
        parsed.error =
            "--accepte attend ADRESSE[/BITS] (par exemple 192.168.1.20 ou 192.168.1.0/24), pas \"" +
            visible(typed) + "\"";
      }
      options.accepted.push_back(range);
    } else if ((arg == "--fichier-pays" && has_value) || arg.starts_with("--fichier-pays=")) {
      options.country_file = arg == "--fichier-pays" ? args[++i] : arg.substr(15);
    } else if (arg == "--classe" && has_value) {
      if (auto error = add_class(args[++i], options.classes)) parsed.error = *error;
      ++import_options;
    } else if (arg.starts_with("--classe=")) {
      if (auto error = add_class(arg.substr(9), options.classes)) parsed.error = *error;
      ++import_options;
    } else if (arg == "--lieu-par-defaut" && has_value) {
      options.default_place = args[++i];
      ++import_options;
    } else if (arg == "--autre-indicatif") {
      options.other_station = true;
      ++import_options;
    } else if (arg == "--simulation") {
      options.simulation = true;
      ++import_options;
    } else if (arg == "--confirmations" && has_value) {
      options.what = command_options::action::confirmations;
      options.adif_file = args[++i];
      ++actions;
    } else if (arg.starts_with("--confirmations=")) {
      options.what = command_options::action::confirmations;
      options.adif_file = arg.substr(16);
      ++actions;
    } else if ((arg == "--nouveaux" && has_value) || arg.starts_with("--nouveaux=")) {
      options.what = command_options::action::new_qsos;
      options.upload_service = arg == "--nouveaux" ? args[++i] : arg.substr(11);
      ++actions;
    } else if (arg == "--marque-envoye" && i + 2 < args.size()) {
      options.what = command_options::action::mark_sent;
      options.upload_service = args[++i];
      options.adif_file = args[++i];
      ++actions;
    } else if (arg == "--marque-envoye") {
      parsed.error =
          "--marque-envoye attend le service et le fichier envoye, par exemple "
          "--marque-envoye lotw journal_de_bord.lotw.adi";
    } else if ((arg == "--lotw" && has_value) || arg.starts_with("--lotw=")) {
      options.what = command_options::action::lotw_round;
      options.upload_service = "lotw";
      options.station_location = arg == "--lotw" ? args[++i] : arg.substr(7);
      ++actions;
    } else if ((arg == "--tqsl" && has_value) || arg.starts_with("--tqsl=")) {
      options.tqsl = arg == "--tqsl" ? args[++i] : arg.substr(7);
      ++lotw_options;
    } else if (arg == "--mot-de-passe") {
      options.ask_password = true;
      ++lotw_options;
    } else if ((arg == "--delai" && has_value) || arg.starts_with("--delai=")) {
      const std::string typed = arg == "--delai" ? args[++i] : arg.substr(8);
      int seconds = 0;
      const auto [end, failed] =
          std::from_chars(typed.data(), typed.data() + typed.size(), seconds);
      if (failed != std::errc() || end != typed.data() + typed.size() || seconds < 1 ||
          seconds > 86400) {
        parsed.error =
            "--delai attend un nombre de secondes (1 a 86400), pas \"" + visible(typed) + "\"";
      }
      options.time_limit_seconds = seconds;
      ++lotw_options;
    } else if (arg == "--service" && has_value) {
      options.confirmation_service = args[++i];
    } else if (arg.starts_with("--service=")) {
      options.confirmation_service = arg.substr(10);
    } else if (arg == "--confirmations" || arg == "--service" || arg == "--nouveaux" ||
               arg == "--lotw" || arg == "--tqsl" || arg == "--delai") {
      parsed.error = "l'option " + arg + " attend une valeur";
    } else if (arg == "-o" || arg == "--mode" || arg == "--du" || arg == "--au" ||
               arg == "--importe" || arg == "--classe" || arg == "--lieu-par-defaut" ||
               arg == "--accepte" || arg == "--fichier-pays") {
      parsed.error = "l'option " + arg + " attend une valeur";
    } else if (arg.size() > 1 && arg.front() == '-') {
      parsed.error = "option inconnue " + arg;
    } else if (logbook) {
      parsed.error = "un seul journal a la fois";
    } else {
      logbook = arg;
    }
  }
  options.logbook = logbook.value_or(std::string(kLogbookFileName));
  const bool importing = options.what == command_options::action::import_file ||
                         options.what == command_options::action::listen;
  if (!parsed.error.empty()) return parsed;
  const bool confirming = options.what == command_options::action::confirmations;
  const bool marking = options.what == command_options::action::mark_sent;
  const bool uploading = marking || options.what == command_options::action::new_qsos;
  if (actions > 1) {
    parsed.error =
        "--importe, --ecoute, --confirmations, --nouveaux, --marque-envoye et --lotw ne vont "
        "pas ensemble";
  } else if (lotw_options > 0 && options.what != command_options::action::lotw_round) {
    parsed.error = "--tqsl, --mot-de-passe et --delai ne servent qu'avec --lotw";
  } else if (options.what == command_options::action::lotw_round &&
             (options.output || options.force || import_options > 0)) {
    parsed.error =
        "--lotw ecrit son fichier a cote du journal : -o, --force, --classe, "
        "--lieu-par-defaut, --autre-indicatif et --simulation n'y servent pas";
  } else if (options.what == command_options::action::lotw_round &&
             options.station_location.empty()) {
    parsed.error = "--lotw attend le nom de la Station Location de TQSL";
  } else if (uploading && !upload_service_named(options.upload_service)) {
    parsed.error = std::string(marking ? "--marque-envoye" : "--nouveaux") +
                   " attend lotw, eqsl, clublog ou qrz, pas \"" + visible(options.upload_service) +
                   "\"";
  } else if (marking && (options.output || options.force || options.from || options.to ||
                         import_options > 0 || options.country_file)) {
    parsed.error = "--marque-envoye ne prend que --mode";
  } else if (confirming && (options.output || options.force || options.from || options.to ||
                            import_options > (options.simulation ? 1 : 0))) {
    parsed.error = "--confirmations ne prend que --service, --simulation et --mode";
  } else if (!confirming && !options.confirmation_service.empty()) {
    parsed.error = "--service ne sert qu'avec --confirmations";
  } else if (importing && (options.output || options.force || options.from || options.to)) {
    parsed.error = "-o, --force, --du et --au ne servent qu'a l'export";
  } else if (!importing && import_options > 0 &&
             (options.what == command_options::action::export_logbook ||
              options.what == command_options::action::new_qsos)) {
    parsed.error =
        "--classe, --lieu-par-defaut, --autre-indicatif et --simulation ne servent "
        "qu'avec --importe ou --ecoute";
  } else if (options.what != command_options::action::listen && !options.accepted.empty()) {
    parsed.error = "--accepte ne sert qu'avec --ecoute";
  } else if ((options.what == command_options::action::import_file || confirming) &&
             options.country_file) {
    parsed.error = "--fichier-pays ne sert qu'a l'export et avec --ecoute";
  } else if (options.what == command_options::action::listen && options.simulation) {
    parsed.error = "--simulation ne sert qu'avec --importe";
  }
  return parsed;
}

std::string upload_output(const std::string& logbook, upload_service service) {
  const std::string adi = default_output(logbook);
  return adi.substr(0, adi.size() - 4) + "." + std::string(fields_of(service).argument) + ".adi";
}

std::string default_output(const std::string& logbook) {
  const std::string_view name = file_name(logbook);
  const auto dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0 && to_upper(name.substr(dot)) == ".TXT") {
    return logbook.substr(0, logbook.size() - name.size() + dot) + ".adi";
  }
  return logbook + ".adi";
}

int run_export(const command_options& options, countries::country_loader& countries,
               std::ostream& out, std::ostream& err, export_result* done) {
  const countries::country_source* country = countries.get();
  if (is_adif_file(options.logbook)) {
    err << "Erreur : \"" << options.logbook
        << "\" est un fichier ADIF, pas un journal de bord ; pour en importer les QSO :\n"
        << "  velkrin-adif --importe \"" << options.logbook << "\" [JOURNAL]\n";
    return kExitFailure;
  }

  details_reader details;
  file_source source;
  if (const platform::status s = source.open(options.logbook, &details); !s.ok()) {
    err << unreadable_logbook_message(options.logbook, s.cause());
    return kExitFailure;
  }
  // --nouveaux: the QSOs new to the service, into a file of its own that the
  // next round replaces.
  std::optional<upload_service> upload;
  if (options.what == command_options::action::new_qsos ||
      options.what == command_options::action::lotw_round) {
    upload = upload_service_named(options.upload_service);
  }
  const std::string output = options.output.value_or(
      upload ? upload_output(options.logbook, *upload) : default_output(options.logbook));
  const bool to_standard_output = output == kStandardOutput;
  if (!to_standard_output && platform::same_file(output, options.logbook)) {
    err << "Erreur : \"" << output << "\" est le journal lui-meme.\n";
    return kExitFailure;
  }
  if (!to_standard_output && is_details_file_of(output, options.logbook)) {
    err << "Erreur : \"" << output
        << "\" est le fichier de details du journal, que l'export ne remplace jamais (meme avec "
           "--force) ; choisissez un autre nom.\n";
    return kExitFailure;
  }
  // The output is claimed before the export is made: an existing file is
  // refused at once without --force (and, should another program make one
  // meanwhile, by the final rename itself).
  platform::output_file file;
  if (!to_standard_output) {
    if (const platform::status s = file.open(output, options.force || (upload && !options.output));
        !s.ok()) {
      if (file.refused_existing()) {
        err << "Erreur : \"" << output << "\" existe deja ; --force pour le remplacer.\n";
      } else {
        err << "Erreur : \"" << output << "\" n'a pas pu etre ecrit (" << s.cause() << ").\n";
      }
      return kExitFailure;
    }
  }

  // On standard output, "\n" ends the lines: in text mode, Windows turns it
  // into CR LF itself. A file keeps the logbook's convention.
  export_settings settings{"Export ADIF du journal de bord " +
                               to_ascii(file_name(options.logbook)).text + " par Velkrin " +
                               std::string(program_version()),
                           utc_timestamp(std::chrono::system_clock::now()),
                           options.user_modes,
                           to_standard_output ? "\n" : "",
                           options.from,
                           options.to,
                           [&details, &options] {
                             std::string notice = details_notice(details, options.logbook);
                             if (notice.ends_with('\n')) notice.pop_back();
                             return notice;
                           }};
  std::optional<entity_lookup> entities;
  if (country != nullptr) {
    entities.emplace(country->data);
    settings.entities = &*entities;
  } else {
    err << "Note : l'export n'ajoute pas les pays des QSO (DXCC, COUNTRY, CQZ, ITUZ, CONT) : "
        << countries.problem() << ".\n";
  }
  if (upload) {
    settings.keep = [service = *upload](const details_record* details, const adif_record& record,
                                        std::string& refusal) {
      if (!is_to_send(service, details, sent_digest(service, record))) return false;
      refusal = upload_refusal(service, record);
      return refusal.empty();
    };
  }
  text_sink sink;
  if (to_standard_output) {
    sink = [&out](std::string_view piece) { return platform::write_stream(out, piece); };
  } else {
    sink = [&file](std::string_view piece) { return file.write(piece); };
  }
  logbook_reader reader(source);
  reader.attach_details(details);
  const export_result result = export_logbook(
      reader, settings, sink, [&err](std::string_view message) { err << message << "\n"; });
  if (done != nullptr) *done = result;
  source.close();

  if (result.read_failure) {
    err << unreadable_logbook_message(options.logbook, *result.read_failure);
    return kExitFailure;
  }
  if (result.write_failure && to_standard_output) {
    err << "Erreur : la sortie standard n'a pas pu etre ecrite (" << *result.write_failure
        << ").\n";
    return kExitFailure;
  }
  if (upload && result.exported == 0) {
    // Nothing new: no file, which could be sent again by mistake.
    if (country != nullptr) err << countries::stale_data_note(*country, result.newest);
    err << "Aucun QSO nouveau pour " << fields_of(*upload).name << " : rien n'a ete ecrit"
        << (result.reported > 0 ? " (" + std::to_string(result.reported) + " ligne" +
                                      (result.reported > 1 ? "s signalees)" : " signalee)")
                                : std::string())
        << ".\n";
    return result.reported == 0 ? kExitAllExported : kExitLinesReported;
  }
  if (!to_standard_output) {
    platform::status s = result.write_failure
                             ? platform::status::failure("ecriture", *result.write_failure)
                             : file.commit();
    if (!s.ok()) {
      err << "Erreur : \"" << output << "\" "
          << (file.refused_existing() ? "existe deja ; --force pour le remplacer"
                                      : "n'a pas pu etre ecrit (" + s.cause() + ")")
          << ".\n";
      return kExitFailure;
    }
  }
  if (country != nullptr) err << countries::stale_data_note(*country, result.newest);
  if (result.uncertain_entities > 0) {
    err << "Note : " << result.uncertain_entities
        << " QSO avec un indicatif TO/TX rattache a la France par defaut : a verifier.\n";
  }
  err << summary(result, to_standard_output ? "la sortie standard" : "\"" + output + "\"") << "\n";
  if (upload && options.what == command_options::action::new_qsos) {
    err << "Une fois ce fichier envoye a " << fields_of(*upload).name
        << ", notez ses QSO comme envoyes :\n  velkrin-adif --marque-envoye "
        << fields_of(*upload).argument << " "
        << (to_standard_output ? std::string("FICHIER") : "\"" + output + "\"")
        << (options.logbook == kLogbookFileName ? "" : " \"" + options.logbook + "\"") << "\n";
  }
  return result.reported == 0 ? kExitAllExported : kExitLinesReported;
}

int run_velkrin_adif(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::istringstream nothing;
  return run_velkrin_adif(args, nothing, out, err);
}

int run_velkrin_adif(const std::vector<std::string>& args, std::istream& in, std::ostream& raw_out,
                     std::ostream& raw_err) {
  // Messages, and what the import and the live log show of each QSO, repeat
  // what was read, received and typed: none of it acts on the terminal. The
  // export's standard output is ADIF, which refuses control characters.
  visible_stream err(raw_err);
  visible_stream shown_out(raw_out);
  const parsed_options parsed = parse_options(args);
  const bool importing = parsed.options.what == command_options::action::import_file ||
                         parsed.options.what == command_options::action::listen ||
                         parsed.options.what == command_options::action::confirmations ||
                         parsed.options.what == command_options::action::mark_sent ||
                         parsed.options.what == command_options::action::lotw_round;
  std::ostream& out = importing ? static_cast<std::ostream&>(shown_out) : raw_out;
  if (!parsed.error.empty()) {
    err << "Erreur : " << parsed.error << ".\n" << kUsage << "Aide : velkrin-adif --help\n";
    return kExitFailure;
  }
  const command_options& options = parsed.options;
  if (options.what == command_options::action::help) {
    out << kUsage << "\n" << kHelp;
    return kExitAllExported;
  }
  if (options.what == command_options::action::version) {
    out << version_notice("velkrin-adif", program_version());
    return kExitAllExported;
  }

  if (options.what == command_options::action::import_file) return run_import(options, out, err);
  if (options.what == command_options::action::confirmations) {
    return run_confirmations(options, out, err);
  }
  if (options.what == command_options::action::mark_sent) return run_mark_sent(options, out, err);
  // A country file named by --fichier-pays must be read; without one, the
  // export and the listener work as they would without country data.
  countries::country_loader countries(options.country_file, options.logbook);
  const countries::country_source* country = countries.get();
  if (country == nullptr && countries.given()) {
    err << "Erreur : " << countries.problem() << ".\n" << kUsage << "Aide : velkrin-adif --help\n";
    return kExitFailure;
  }
  if (options.what == command_options::action::listen) {
    return run_listen(options, country, countries.problem(), out, err);
  }
  if (options.what == command_options::action::lotw_round) {
    return run_lotw_round(options, countries, in, out, err);
  }

  return run_export(options, countries, out, err, nullptr);
}

}  // namespace velkrin::adif