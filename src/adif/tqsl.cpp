#include "adif/tqsl.hpp"

#include <algorithm>
#include <cctype>
#include <string>

#include "console/visible_text.hpp"

namespace velkrin::adif {
namespace {

// TQSL's words, in English and in its French translation (TQSL speaks the
// user's language); the French ones cut before the first accented letter,
// whose bytes depend on the console's code page.
constexpr std::string_view kDuplicate[] = {"Already Uploaded QSO suppressed",
                                           "chargement du QSO d"};
constexpr std::string_view kOutOfRange[] = {
    "QSO date is not within the date range specified on your Callsign Certificate",
    "La date du QSO n'est pas dans la plage des dates"};
constexpr std::string_view kOnLine[] = {" on line ", " sur la ligne "};
constexpr std::string_view kLocationUnknown[] = {"The selected station location could not be found",
                                                 "L'emplacement de la station s"};
constexpr std::string_view kNoCertificate[] = {
    "There are no valid callsign certificates for callsign",
    "Il n'y a aucun certificat d'indicatif valide pour cet indicatif"};
constexpr std::string_view kNoDisplay[] = {"Unable to initialize GTK", "cannot open display"};
constexpr std::string_view kUploadOne[] = {"Attempting to upload one QSO", "charger un QSO"};
constexpr std::string_view kUploadMany[] = {"Attempting to upload ", "Tentative de t"};
constexpr std::string_view kFinalStatus = "Final Status:";
// The fields of a QSO record, in TQSL's display of one, in the case of the
// ADIF file's tags.
constexpr std::string_view kQsoFields[] = {"CALL", "QSO_DATE", "TIME_ON", "BAND",
                                           "MODE", "SUBMODE",  "FREQ"};
constexpr std::string_view kSystemError = "System error:";
// Lines of every run, which say nothing about how it went.
constexpr std::string_view kNoise[] = {"TQSL Version", "Signing using Callsign"};
// How many of TQSL's last lines a failure quotes.
constexpr std::size_t kQuotedLines = 4;

template <std::size_t N>
bool says(std::string_view line, const std::string_view (&words)[N]) {
  return std::any_of(std::begin(words), std::end(words),
                     [&](std::string_view w) { return line.find(w) != std::string_view::npos; });
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// "NAME: value" with an ADIF field name; `name` and `value` set when it is.
bool field_line(std::string_view line, std::string_view& name, std::string_view& value) {
  const std::size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  for (char c : line.substr(0, colon)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  name = line.substr(0, colon);
  value = line.substr(colon + 1);
  if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  return true;
}

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// True when the field lines from `first` on name a field of a QSO: they are
// then a record that TQSL shows, not a line of text such as "Note: ...".
bool holds_qso(const std::vector<std::string_view>& lines, std::size_t first) {
  std::string_view name;
  std::string_view value;
  for (std::size_t i = first; i < lines.size() && field_line(lines[i], name, value); ++i) {
    for (std::string_view field : kQsoFields) {
      if (same_name(name, field)) return true;
    }
  }
  return false;
}

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::string lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

// Splits " on line N" (or its translation) off a reason.
void split_line_number(std::string_view text, tqsl_qso& qso) {
  for (std::string_view on_line : kOnLine) {
    const std::size_t at = text.rfind(on_line);
    if (at == std::string_view::npos) continue;
    const std::string_view digits = text.substr(at + on_line.size());
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    qso.line = std::stoi(std::string(digits));
    qso.reason = std::string(text.substr(0, at));
    return;
  }
  qso.reason = std::string(text);
}

// A number at the start of `text`, -1 when there is none.
int leading_number(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && digits < 9 && text[digits] >= '0' && text[digits] <= '9') {
    ++digits;
  }
  return digits == 0 ? -1 : std::stoi(std::string(text.substr(0, digits)));
}

// "Attempting to upload N QSOs" (or one), -1 when the line is not that.
int upload_count(std::string_view line) {
  if (says(line, kUploadOne)) return 1;
  for (std::string_view words : kUploadMany) {
    const std::size_t at = line.find(words);
    if (at == std::string_view::npos) continue;
    std::string_view rest = line.substr(at + words.size());
    // The French "Tentative de telecharger N QSOs": the number after the verb.
    const std::size_t space = rest.find(' ');
    if (leading_number(rest) < 0 && space != std::string_view::npos) rest.remove_prefix(space + 1);
    if (const int count = leading_number(rest); count >= 0) return count;
  }
  return -1;
}

// How a QSO is shown to the operator: "G3XYZ 20190505 1200 20m CW".
std::string shown(const tqsl_qso& qso) {
  std::string text;
  for (const std::string* part : {&qso.call, &qso.date, &qso.time, &qso.band, &qso.mode}) {
    if (part->empty()) continue;
    if (!text.empty()) text += ' ';
    text += *part;
  }
  if (!qso.submode.empty()) text += " (" + qso.submode + ")";
  return visible(text);
}

struct reading {
  tqsl_outcome outcome;
  std::vector<std::string_view> said;  // lines outside the QSO blocks
  std::string final_status;            // after "Final Status:"
  bool location_unknown = false;
  bool no_certificate = false;
  bool no_display = false;
  std::string system_error;
};

reading read_output(std::string_view output) {
  reading r;
  const std::vector<std::string_view> lines = lines_of(output);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    std::string_view name;
    std::string_view value;
    if (!line.empty() && !field_line(line, name, value) && holds_qso(lines, i + 1)) {
      tqsl_qso qso;
      split_line_number(line, qso);
      bool has_call = false;
      for (++i; i < lines.size() && field_line(lines[i], name, value); ++i) {
        if (same_name(name, "CALL")) {
          qso.call = upper(value);
          has_call = !value.empty();
        } else if (same_name(name, "QSO_DATE")) {
          qso.date = std::string(value);
        } else if (same_name(name, "TIME_ON")) {
          qso.time = std::string(value.substr(0, 4));
        } else if (same_name(name, "BAND")) {
          qso.band = lower(value);
        } else if (same_name(name, "MODE")) {
          qso.mode = upper(value);
        } else if (same_name(name, "SUBMODE")) {
          qso.submode = upper(value);
        }
      }
      --i;
      if (!has_call) {
        ++r.outcome.unidentified;
      } else if (says(qso.reason, kDuplicate)) {
        r.outcome.duplicates.push_back(std::move(qso));
      } else if (says(qso.reason, kOutOfRange)) {
        r.outcome.out_of_range.push_back(std::move(qso));
      } else {
        r.outcome.refused.push_back(std::move(qso));
      }
      continue;
    }
    if (line.empty() || says(line, kNoise)) continue;
    if (const std::size_t at = line.find(kFinalStatus); at != std::string_view::npos) {
      std::string_view status = line.substr(at + kFinalStatus.size());
      while (!status.empty() && status.front() == ' ') status.remove_prefix(1);
      r.final_status = std::string(status);
      continue;
    }
    if (const int count = upload_count(line); count >= 0) r.outcome.uploaded_count = count;
    r.location_unknown = r.location_unknown || says(line, kLocationUnknown);
    r.no_certificate = r.no_certificate || says(line, kNoCertificate);
    r.no_display = r.no_display || says(line, kNoDisplay);
    if (line.find(kSystemError) != std::string_view::npos) r.system_error = std::string(line);
    r.said.push_back(line);
  }
  return r;
}

// "TQSL dit :" and its last lines, each indented, for a failure.
std::string tqsl_said(const reading& r) {
  std::string text = "TQSL dit :";
  const std::size_t first = r.said.size() > kQuotedLines ? r.said.size() - kQuotedLines : 0;
  for (std::size_t i = first; i < r.said.size(); ++i) text += "\n  " + visible(r.said[i]);
  if (!r.final_status.empty()) text += "\n  Final Status: " + visible(r.final_status);
  if (r.said.empty() && r.final_status.empty()) text += "\n  (rien)";
  return text;
}

// The QSOs left out, one line each, with what it means for them.
void list_left_out(const tqsl_outcome& o, std::string& m) {
  for (const tqsl_qso& q : o.duplicates) {
    m += "\n  " + shown(q) + " : deja envoye a LoTW";
    m += o.duplicates_may_be_marked ? " (marque comme envoye)" : "";
  }
  for (const tqsl_qso& q : o.out_of_range) {
    m += "\n  " + shown(q) + " : hors des dates de votre certificat LoTW (non marque)";
  }
  for (const tqsl_qso& q : o.refused) {
    m += "\n  " + shown(q) + " : refuse par TQSL : " + visible(q.reason) + " (non marque)";
  }
  if (o.unidentified > 0) {
    m += "\n  " + std::to_string(o.unidentified) +
         " QSO ecarte(s) que la sortie de TQSL ne permet pas d'identifier";
  }
  if (!o.out_of_range.empty()) {
    m += "\nLes QSO hors des dates de votre certificat ne seront jamais acceptes avec lui : "
         "demandez a LoTW un certificat qui couvre leurs dates (TQSL, menu Callsign "
         "Certificate).";
  }
}

std::size_t left_out_count(const tqsl_outcome& o) {
  return o.duplicates.size() + o.out_of_range.size() + o.refused.size() +
         static_cast<std::size_t>(o.unidentified);
}

constexpr std::string_view kNothingMarked = "Aucun QSO n'est marque comme envoye.";

}  // namespace

std::vector<std::string> tqsl_upload_arguments(std::string_view location,
                                               std::string_view adif_file) {
  return {"-d", "-u", "-a", "compliant", "-x", "-l", std::string(location), std::string(adif_file)};
}

std::vector<std::string> tqsl_windows_locations(std::string_view program_files_x86,
                                                std::string_view program_files) {
  std::vector<std::string> locations;
  for (std::string_view folder : {program_files_x86, program_files}) {
    if (folder.empty()) continue;
    std::string path(folder);
    if (path.back() != '\\' && path.back() != '/') path += '\\';
    path += "TrustedQSL\\tqsl.exe";
    if (std::find(locations.begin(), locations.end(), path) == locations.end()) {
      locations.push_back(path);
    }
  }
  return locations;
}

tqsl_outcome interpret_tqsl_run(const tqsl_run& run) {
  reading r = read_output(run.output);
  tqsl_outcome o = std::move(r.outcome);
  o.status = run.timed_out ? -1 : run.status;
  std::string& m = o.message;
  const std::string location = visible(run.location);

  if (run.timed_out) {
    o.kind = tqsl_outcome_kind::timed_out;
    o.duplicates.clear();
    o.out_of_range.clear();
    o.refused.clear();
    o.unidentified = 0;
    m = "TQSL ne s'est pas termine en " + std::to_string(run.time_limit_ms / 1000) +
        " secondes : il a ete arrete. " + std::string(kNothingMarked) +
        "\nIl attendait peut-etre le mot de passe du certificat dans une fenetre invisible : "
        "relancez avec --mot-de-passe, ou avec --delai SECONDES pour lui laisser plus de temps."
        "\nSi l'envoi avait eu lieu, LoTW ignorera ces QSO au prochain envoi. " +
        tqsl_said(r);
    return o;
  }
  const bool finished = run.status == kTqslSuccess || run.status == kTqslSomeQsosSkipped ||
                        (run.status == kTqslNoQsos && !r.no_certificate);
  if (finished) {
    o.duplicates_may_be_marked = !run.output_truncated;
    const std::size_t left_out = left_out_count(o);
    if (run.status == kTqslNoQsos) {
      o.kind = tqsl_outcome_kind::none_new;
      m = left_out == 0
              ? std::string("TQSL n'a rien envoye a LoTW : il n'a trouve aucun QSO a signer.")
              : "TQSL n'a rien envoye a LoTW : il a ecarte les " + std::to_string(left_out) +
                    " QSO du fichier.";
    } else {
      o.kind = left_out == 0 && run.status == kTqslSuccess ? tqsl_outcome_kind::uploaded
                                                           : tqsl_outcome_kind::some_skipped;
      const std::size_t expected = run.qsos_in_file >= left_out ? run.qsos_in_file - left_out : 0;
      const bool count_agrees =
          run.qsos_in_file >= left_out &&
          (o.uploaded_count < 0 || static_cast<std::size_t>(o.uploaded_count) == expected);
      o.signed_may_be_marked = count_agrees && o.unidentified == 0 && !run.output_truncated;
      m = "TQSL a signe et envoye a LoTW " + std::to_string(expected) + " QSO";
      m += left_out == 0 ? "." : " ; il en a ecarte " + std::to_string(left_out) + ".";
      if (!count_agrees) {
        m += "\nTQSL dit en avoir envoye " + std::to_string(o.uploaded_count) + " sur " +
             std::to_string(run.qsos_in_file) +
             " : les comptes ne concordent pas, seuls les QSO deja envoyes sont marques.";
      }
    }
    if (run.output_truncated) {
      m += "\nLa sortie de TQSL est trop longue pour etre lue en entier : " +
           std::string(kNothingMarked) + " Envoyez le journal en plusieurs fois.";
      o.signed_may_be_marked = false;
    } else if (o.unidentified > 0 && run.status != kTqslNoQsos) {
      m += "\nTQSL a ecarte des QSO qu'il ne nomme pas : seuls les QSO deja envoyes sont marques.";
    }
    list_left_out(o, m);
    return o;
  }

  // Failures: nothing was uploaded (or nothing is known to be).
  if (r.no_display || run.status == kTqslNoDisplay) {
    o.kind = tqsl_outcome_kind::no_display;
    m = "TQSL ne peut pas demarrer : il lui faut un affichage graphique, meme pour un envoi "
        "automatique. " +
        std::string(kNothingMarked) +
        "\nLancez la commande depuis une session graphique, ou sous xvfb-run (paquets xvfb et "
        "xauth) :\n  xvfb-run velkrin-adif --lotw ...\n" +
        tqsl_said(r);
  } else if (r.location_unknown) {
    o.kind = tqsl_outcome_kind::location_unknown;
    m = "TQSL ne connait pas l'emplacement de station \"" + location + "\". " +
        std::string(kNothingMarked) +
        "\nCreez-le dans TQSL (menu Station Location, Add Station Location) sous ce nom, ou "
        "donnez a --lotw le nom d'un emplacement que TQSL montre (les majuscules et "
        "minuscules n'y comptent pas).\n" +
        tqsl_said(r);
  } else if (r.no_certificate) {
    o.kind = tqsl_outcome_kind::certificate_missing;
    m = "TQSL n'a pas de certificat LoTW valide (absent ou expire) pour l'indicatif de "
        "l'emplacement de station \"" +
        location + "\". " + std::string(kNothingMarked) +
        "\nInstallez ou renouvelez votre certificat dans TQSL (menu Callsign Certificate), "
        "ou verifiez l'indicatif de cet emplacement.\n" +
        tqsl_said(r);
  } else if (run.status == kTqslConnectionFailed) {
    o.kind = tqsl_outcome_kind::network;
    m = "TQSL n'a pas pu joindre LoTW (pas de connexion a Internet, ou LoTW injoignable). " +
        std::string(kNothingMarked) + " Recommencez plus tard.\n" + tqsl_said(r);
  } else if (run.status == kTqslCancelled) {
    o.kind = tqsl_outcome_kind::cancelled;
    m = "L'envoi a ete annule dans TQSL. " + std::string(kNothingMarked) + "\n" + tqsl_said(r);
  } else if (run.status == kTqslRejected) {
    o.kind = tqsl_outcome_kind::rejected;
    m = "LoTW a refuse l'envoi. " + std::string(kNothingMarked) + "\n" + tqsl_said(r);
  } else if (run.status == kTqslInputUnreadable ||
             (run.status == kTqslLibraryError && !r.system_error.empty())) {
    o.kind = tqsl_outcome_kind::input_unreadable;
    m = "TQSL n'a pas pu lire le fichier ADIF a envoyer. " + std::string(kNothingMarked) + "\n" +
        tqsl_said(r);
  } else {
    o.kind = tqsl_outcome_kind::other;
    std::string what;
    switch (run.status) {
      case kTqslUnexpectedResponse:
        what =
            "LoTW a repondu de facon inattendue : verifiez sur le site de LoTW si le fichier "
            "a ete recu.";
        break;
      case kTqslDatabaseError:
        what =
            "la base des QSO deja envoyes de TQSL est occupee (un autre TQSL est-il ouvert ?) "
            "ou abimee.";
        break;
      case kTqslSyntaxError:
        what = "TQSL n'a pas compris la commande.";
        break;
      default:
        what = "erreur de TQSL.";
        break;
    }
    m = "TQSL s'est termine avec le statut " + std::to_string(run.status) + " : " + what + " " +
        std::string(kNothingMarked) + "\n" + tqsl_said(r);
  }
  o.duplicates_may_be_marked = false;
  o.signed_may_be_marked = false;
  return o;
}

}  // namespace velkrin::adif
