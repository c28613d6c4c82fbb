// velkrin-journal complete, corrige and supprime: the commands that change
// one QSO. Each goes through edit_qso(), which rewrites the logbook and its
// details file crash-safely under the logbook's lock; this file checks what
// the operator typed, makes the change on the line's values and details, and
// says what changed.
#include <algorithm>
#include <charconv>
#include <ostream>

#include "adif/adif_reader.hpp"
#include "console/text_format.hpp"
#include "console/visible_text.hpp"
#include "journal/commands.hpp"
#include "journal/qso_checks.hpp"
#include "journal/reading.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/text_encoding.hpp"

namespace velkrin::journal {
namespace {

constexpr std::string_view kAbsent = "-";  // an empty word on the line

// The fields the logbook line holds, and the column of corrige that changes
// each. complete refuses them.
struct line_field {
  std::string_view adif;
  std::string_view column;
};
constexpr line_field kLineFields[] = {
    {"CALL", "indicatif"}, {"QSO_DATE", "date"},  {"QSO_DATE_OFF", "date et fin"},
    {"TIME_ON", "debut"},  {"TIME_OFF", "fin"},   {"NAME", "prenom"},
    {"FREQ", "frequence"}, {"BAND", "frequence"}, {"MODE", "mode"},
    {"SUBMODE", "mode"},   {"MY_CITY", "lieu"},   {"APP_VELKRIN_CLASS", "mode"}};
constexpr std::string_view kProgramFieldPrefix = "APP_VELKRIN_";

bool is_blank_byte(char ch) { return ch == ' ' || ch == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_blank_byte(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank_byte(text.back())) text.remove_suffix(1);
  return text;
}

// The reason a typed value cannot be written, whatever its field.
std::optional<std::string> unwritable(const assignment& typed) {
  if (!is_valid_utf8(typed.value)) {
    return "la valeur de " + typed.name + " n'est pas du texte UTF-8";
  }
  if (adif::holds_record_end(typed.value)) {
    return "la valeur de " + typed.name + " contient <EOR>, qui finirait l'enregistrement";
  }
  if (has_control_characters(typed.value)) {
    return "caractere de controle dans la valeur de " + typed.name + " \"" + visible(typed.value) +
           "\"";
  }
  return std::nullopt;
}

// A value written as one word of the line: blanks inside become "_", as an
// imported value's do; nothing gives "-".
std::string line_word(std::string_view typed) {
  std::string word(trimmed(typed));
  if (word.empty()) return std::string(kAbsent);
  std::replace_if(word.begin(), word.end(), is_blank_byte, '_');
  return word;
}

// hhmm ("905", "0905") or hh:mm ("09:05"); nothing otherwise.
std::optional<std::int32_t> typed_time(std::string_view typed) {
  std::string digits(trimmed(typed));
  if (const std::size_t colon = digits.find(':');
      colon != std::string::npos && digits.size() - colon == 3) {
    digits.erase(colon, 1);
  }
  std::int32_t value = 0;
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<std::int32_t> typed_khz(std::string_view typed) {
  typed = trimmed(typed);
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(typed.data(), typed.data() + typed.size(), value);
  if (typed.empty() || typed.front() == '-' || error != std::errc{} ||
      end != typed.data() + typed.size()) {
    return std::nullopt;
  }
  return value;
}

// What changed between two details records, one line each, the key fields
// left out (they follow the line); empty when nothing did.
std::string details_changes(const details_record& before, const details_record& after) {
  std::string text;
  const auto name_of = [](const details_field& field) {
    std::string name = visible(field.name);
    if (const std::string_view label = field_label(field.name); !label.empty()) {
      name.append(" (").append(label).append(")");
    }
    return name;
  };
  for (const details_field& field : after.fields) {
    if (is_key_field(field.name)) continue;
    const std::string* old = before.find(field.name);
    if (old == nullptr) {
      text += "  " + name_of(field) + " : ajoute \"" + visible(field.value) + "\"\n";
    } else if (*old != field.value) {
      text += "  " + name_of(field) + " : \"" + visible(*old) + "\" remplace par \"" +
              visible(field.value) + "\"\n";
    }
  }
  for (const details_field& field : before.fields) {
    if (is_key_field(field.name) || after.find(field.name) != nullptr) continue;
    text += "  " + name_of(field) + " : \"" + visible(field.value) + "\" retire\n";
  }
  return text;
}

// Says why nothing was written; a reason that ends with a line of the
// logbook, or with its own full stop, gets none added.
void refused(const command_context& c, const std::string& reason) {
  const bool ended = reason.find('\n') != std::string::npos || reason.ends_with('.');
  c.err << "Refuse : " << reason << (ended ? "\n" : ".\n");
}

// Runs the edit and says its outcome: a refusal or a failure on err, the
// change on out through `report`.
int run_edit(const command_context& c, qso_edit& edit,
             const std::function<std::string(const qso_edit_result&)>& report) {
  edit.line = c.options.qso_line;
  edit.expected_line = c.options.expected_line;
  const std::optional<qso_edit_result> edited = edit_locked_logbook(c, edit);
  if (!edited) return kExitFailure;
  const qso_edit_result& result = *edited;
  if (result.refusal) {
    refused(c, *result.refusal);
    return kExitAnswer;
  }
  c.out.write(report(result));
  if (result.leftover) {
    c.err << "Erreur : les details de l'ancienne ligne n'ont pas pu etre retires du fichier \""
          << visible(details_path_for(c.options.logbook)) << "\" (" << *result.leftover
          << ") ; ils y restent sans QSO, ce que verifie signale.\n";
    return finish_output(c, kExitFailure);
  }
  return finish_output(c, kExitSuccess);
}

}  // namespace

std::optional<qso_edit_result> edit_locked_logbook(const command_context& c, const qso_edit& edit) {
  logbook_file logbook(c.options.logbook);
  logbook.on_long_wait = [&c] {
    c.err << lock_wait_message(visible(c.options.logbook)) << "\n" << std::flush;
  };
  qso_edit_result result = edit_qso(logbook, edit);
  if (result.error) {
    c.err << write_failure_message(*result.error, c.options.logbook) << "\n";
    return std::nullopt;
  }
  return result;
}

int complete_qso(const command_context& c) {
  for (const assignment& typed : c.options.assignments) {
    for (const line_field& field : kLineFields) {
      if (typed.name == field.adif) {
        refused(c, typed.name + " est tenu par la ligne du journal (colonne " +
                       std::string(field.column) + ") : changez-le avec velkrin-journal corrige " +
                       std::to_string(c.options.qso_line) + " " +
                       std::string(field.column.substr(0, field.column.find(' '))) + "=VALEUR");
        return kExitAnswer;
      }
    }
    if (typed.name.starts_with(kProgramFieldPrefix)) {
      refused(c, typed.name + " est un champ de Velkrin lui-meme");
      return kExitAnswer;
    }
    if (auto reason = unwritable(typed)) {
      refused(c, *reason);
      return kExitAnswer;
    }
    if ((typed.name == "GRIDSQUARE" || typed.name == "MY_GRIDSQUARE") && !typed.value.empty() &&
        !is_maidenhead_locator(trimmed(typed.value))) {
      refused(c, typed.name + " attend un locator de 4, 6 ou 8 caracteres (JN18, JN18du), pas \"" +
                     visible(typed.value) + "\"");
      return kExitAnswer;
    }
  }
  qso_edit edit;
  edit.kind = qso_edit_kind::complete;
  edit.change = [&c](qso_record& qso, details_record& details) -> std::optional<std::string> {
    if (details.fields.empty()) details = details_for(qso, {});
    if (details.fields.empty()) {
      return "la ligne " + std::to_string(c.options.qso_line) +
             " n'a pas de date ou d'heure de debut valide, ses details ne pourraient pas la "
             "retrouver ; corrigez-la d'abord avec velkrin-journal corrige";
    }
    for (const assignment& typed : c.options.assignments) {
      details.set(typed.name, std::string(trimmed(typed.value)));
    }
    return std::nullopt;
  };
  return run_edit(c, edit, [&c](const qso_edit_result& done) {
    const std::string number = std::to_string(c.options.qso_line);
    std::string text = "Ligne " + number + " : " + visible(done.line_before) + "\n";
    const std::string changes = details_changes(done.details_before, done.details_after);
    if (changes.empty()) return text + "Rien a changer : ses details ont deja ces valeurs.\n";
    return text + "Details completes (" + visible(details_path_for(c.options.logbook)) + ") :\n" +
           changes;
  });
}

int correct_qso(const command_context& c) {
  for (const assignment& typed : c.options.assignments) {
    if (auto reason = unwritable(typed)) {
      refused(c, *reason);
      return kExitAnswer;
    }
  }
  qso_edit edit;
  edit.kind = qso_edit_kind::correct;
  // The details follow the line's new key in edit_qso itself.
  edit.change = [&c](qso_record& qso, details_record&) -> std::optional<std::string> {
    std::vector<qso_column> changed;
    for (const assignment& typed : c.options.assignments) {
      const std::string_view value = trimmed(typed.value);
      if (typed.name == "date") {
        changed.push_back(qso_column::date);
        const auto date = parse_date(value);
        qso.date = date ? zero_fill(date->day, 2) + "-" + zero_fill(date->month, 2) + "-" +
                              zero_fill(date->year, 4)
                        : std::string(value);
        if (qso.date.empty() || value.find_first_of(" \t") != std::string_view::npos) {
          return "date \"" + std::string(value) +
                 "\" invalide (JJ-MM-AAAA, une date du calendrier a partir de 1930)";
        }
      } else if (typed.name == "debut" || typed.name == "fin") {
        const bool start = typed.name == "debut";
        changed.push_back(start ? qso_column::debut : qso_column::fin);
        const auto time = typed_time(value);
        if (!time) {
          return std::string("heure de ") + (start ? "debut" : "fin") + " \"" + std::string(value) +
                 "\" invalide (hhmm, 0 a 2359)";
        }
        (start ? qso.debut : qso.fin) = *time;
      } else if (typed.name == "indicatif") {
        changed.push_back(qso_column::indicatif);
        qso.indicatif = value;
      } else if (typed.name == "prenom") {
        changed.push_back(qso_column::prenom);
        qso.prenom = line_word(value);
      } else if (typed.name == "frequence") {
        changed.push_back(qso_column::frequence);
        const auto khz = typed_khz(value);
        if (!khz) {
          return "frequence \"" + std::string(value) +
                 "\" invalide (un nombre entier de kHz : 14074 pour 14,074 MHz)";
        }
        qso.frequence = *khz;
      } else if (typed.name == "mode") {
        changed.push_back(qso_column::mode);
        if (value.empty() || value.find_first_of(" \t") != std::string_view::npos) {
          return "classe d'emission \"" + std::string(value) +
                 "\" invalide (un mot : J3E, A1A, FT8...)";
        }
        qso.mode = value;
      } else if (typed.name == "lieu") {
        changed.push_back(qso_column::lieu);
        qso.lieu = line_word(value);
      }
    }
    // The same checks as verifie, on the columns changed.
    fact_finder finder(c.options.user_modes);
    qso_facts facts;
    // The words "-" stand for empty values, as the reader reads them.
    qso_values values = qso;
    if (values.prenom == kAbsent) values.prenom = {};
    if (values.lieu == kAbsent) values.lieu = {};
    finder.find(values, facts);
    std::optional<std::string> problem;
    find_value_problems(values, facts, [&](qso_column column, const std::string& reason) {
      if (!problem && std::find(changed.begin(), changed.end(), column) != changed.end()) {
        problem = reason;
      }
    });
    if (problem) return problem;
    if (qso.prenom.empty()) qso.prenom = kAbsent;
    if (qso.lieu.empty()) qso.lieu = kAbsent;
    return std::nullopt;
  };
  return run_edit(c, edit, [&c](const qso_edit_result& done) {
    const std::string number = std::to_string(c.options.qso_line);
    if (done.line_after.empty() || done.line_after == done.line_before) {
      return "Rien a changer : la ligne " + number + " se lit deja ainsi :\n" +
             visible(done.line_before) + "\n";
    }
    std::string text = "Ligne " + number + " corrigee :\navant : " + visible(done.line_before) +
                       "\napres : " + visible(done.line_after) + "\n";
    const std::string changes = details_changes(done.details_before, done.details_after);
    if (!changes.empty()) text += "Details :\n" + changes;
    if (!done.details_before.fields.empty() &&
        done.details_before.key() != done.details_after.key()) {
      text += "Ses details suivent la ligne corrigee.\n";
    }
    return text;
  });
}

int remove_qso(const command_context& c) {
  qso_edit edit;
  edit.kind = qso_edit_kind::remove;
  return run_edit(c, edit, [&c](const qso_edit_result& done) {
    std::string text = "Ligne " + std::to_string(c.options.qso_line) +
                       " supprimee : " + visible(done.line_before) + "\n";
    if (done.details_before.fields.empty()) return text;
    if (done.details_kept) {
      return text +
             "Ses details restent : une autre ligne a la meme cle (indicatif, date, "
             "debut, bande et classe).\n";
    }
    return text + "Ses details sont supprimes avec elle.\n";
  });
}

}  // namespace velkrin::journal
