#include "adif/command_line.hpp"

#include <cerrno>
#include <filesystem>
#include <ostream>

#include "adif/file_io.hpp"
#include "adif/logbook_export.hpp"
#include "logbook/line_format.hpp"
#include "version_notice.hpp"

namespace velkrin::adif {
namespace {

constexpr std::string_view kUsage = "Usage : velkrin-adif [options] [JOURNAL]\n";
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
    "  --help          affiche cette aide\n"
    "  --version       affiche la version\n"
    "\n"
    "Statut de sortie : 0 tous les QSO sont exportes, 1 des lignes ont ete signalees\n"
    "(le fichier contient tous les autres QSO), 2 erreur d'utilisation, de lecture ou\n"
    "d'ecriture.\n";

// Adds one CLASS=MODE[/SUBMODE] to the table; the reason when it is malformed.
std::optional<std::string> add_mode(std::string_view mapping, mode_table& modes) {
  const auto equals = mapping.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return "--mode attend CLASSE=MODE[/SOUS_MODE], pas \"" + std::string(mapping) + "\"";
  }
  const auto mode = parse_adif_mode(mapping.substr(equals + 1));
  if (!mode) {
    return "mode ADIF inconnu dans --mode " + std::string(mapping);
  }
  modes[to_upper(mapping.substr(0, equals))] = *mode;
  return std::nullopt;
}

// "N QSO exportes vers FILE, M lignes signalees."
std::string summary(const export_result& result, const std::string& destination) {
  const auto s = [](std::size_t count) { return count > 1 ? "s" : ""; };
  return std::to_string(result.exported) + " QSO exporte" + s(result.exported) + " vers " +
         destination + ", " + std::to_string(result.reported) + " ligne" + s(result.reported) +
         " signalee" + s(result.reported) + ".";
}

}  // namespace

parsed_options parse_options(const std::vector<std::string>& args) {
  parsed_options parsed;
  command_options& options = parsed.options;
  std::optional<std::string> logbook;
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
      if (auto error = add_mode(args[++i], options.user_modes)) parsed.error = *error;
    } else if (arg.starts_with("--mode=")) {
      if (auto error = add_mode(arg.substr(7), options.user_modes)) parsed.error = *error;
    } else if (arg == "-o" || arg == "--mode") {
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
  return parsed;
}

std::string default_output(const std::string& logbook) {
  std::filesystem::path output = path_of(logbook);
  if (to_upper(utf8_of(output.extension())) == ".TXT") {
    return utf8_of(output.replace_extension(".adi"));
  }
  return logbook + ".adi";
}

int run_velkrin_adif(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const parsed_options parsed = parse_options(args);
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

  std::string text;
  if (const auto reason = read_whole_file(path_of(options.logbook), text)) {
    err << "Erreur : le journal de bord \"" << options.logbook << "\" n'a pas pu etre lu ("
        << *reason << ").\n";
    return kExitFailure;
  }
  const std::string output = options.output.value_or(default_output(options.logbook));
  const bool to_standard_output = output == kStandardOutput;
  std::error_code ignored;
  if (!to_standard_output && std::filesystem::exists(path_of(output), ignored)) {
    if (std::filesystem::equivalent(path_of(output), path_of(options.logbook), ignored)) {
      err << "Erreur : \"" << output << "\" est le journal lui-meme.\n";
      return kExitFailure;
    }
    if (!options.force) {
      err << "Erreur : \"" << output << "\" existe deja ; --force pour le remplacer.\n";
      return kExitFailure;
    }
  }

  // On standard output, "\n" ends the lines: in text mode, Windows turns it
  // into CR LF itself. A file keeps the logbook's convention.
  const export_settings settings{"Export ADIF du journal de bord " +
                                     to_ascii(utf8_of(path_of(options.logbook).filename())).text +
                                     " par Velkrin " + std::string(program_version()),
                                 utc_timestamp(std::chrono::system_clock::now()),
                                 options.user_modes, to_standard_output ? "\n" : ""};
  const export_result result = export_logbook(text, settings);
  for (const auto& message : result.messages) err << message << "\n";

  if (to_standard_output) {
    errno = 0;
    out << result.adif;
    out.flush();
    if (!out) {
      err << "Erreur : la sortie standard n'a pas pu etre ecrite ("
          << last_system_reason("ecriture impossible") << ").\n";
      return kExitFailure;
    }
  } else if (const auto reason = write_file_atomically(output, result.adif)) {
    err << "Erreur : \"" << output << "\" n'a pas pu etre ecrit (" << *reason << ").\n";
    return kExitFailure;
  }
  err << summary(result, to_standard_output ? "la sortie standard" : "\"" + output + "\"") << "\n";
  return result.reported == 0 ? kExitAllExported : kExitLinesReported;
}

}  // namespace velkrin::adif
