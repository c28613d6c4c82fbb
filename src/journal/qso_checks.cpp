#include "journal/qso_checks.hpp"

#include <limits>

#include "console/visible_text.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin::journal {

void find_value_problems(const qso_values& qso, const qso_facts& facts,
                         const std::function<void(qso_column, const std::string&)>& problem) {
  std::string scratch;
  for (const auto& [column, name, value] :
       {std::tuple<qso_column, std::string_view, std::string_view>{qso_column::date, "la date",
                                                                   qso.date},
        {qso_column::indicatif, "l'indicatif", qso.indicatif},
        {qso_column::prenom, "le prenom", qso.prenom},
        {qso_column::mode, "la classe", qso.mode},
        {qso_column::lieu, "le lieu", qso.lieu}}) {
    if (has_control_characters(value)) {
      problem(column, "caractere de controle dans " + std::string(name) + " \"" +
                          std::string(visible(value, scratch)) +
                          "\" (une touche flechee tapee a l'invite ?)");
    }
  }
  if (!is_strict_date(qso.date)) {
    problem(qso_column::date, "date \"" + std::string(visible(qso.date, scratch)) +
                                  "\" invalide (JJ-MM-AAAA, une date du calendrier a partir de "
                                  "1930)");
  }
  if (!is_valid_time(qso.debut)) {
    problem(qso_column::debut,
            "heure de debut " + std::to_string(qso.debut) + " invalide (hhmm, 0 a 2359)");
  }
  if (!is_valid_time(qso.fin)) {
    problem(qso_column::fin,
            "heure de fin " + std::to_string(qso.fin) + " invalide (hhmm, 0 a 2359)");
  }
  if (!is_call_sign_form(qso.indicatif) && !has_control_characters(qso.indicatif)) {
    problem(qso_column::indicatif,
            "indicatif \"" + std::string(visible(qso.indicatif, scratch)) +
                "\" invalide (lettres, chiffres et /, au moins une lettre et un chiffre, 3 "
                "caracteres ou plus)");
  }
  if (qso.frequence <= 0) {
    problem(qso_column::frequence,
            "frequence " + std::to_string(qso.frequence) + " kHz invalide (positive attendue)");
  } else if (!facts.band) {
    // A hint only when the number, read in another unit, is in a band.
    const bool megahertz = qso.frequence <= std::numeric_limits<std::int32_t>::max() / 1000 &&
                           band_of(qso.frequence * 1000);
    const bool hertz = band_of(qso.frequence / 1000) && qso.frequence % 1000 == 0;
    problem(qso_column::frequence, "frequence " + std::to_string(qso.frequence) +
                                       " kHz hors des bandes amateur" +
                                       (megahertz ? " (kHz attendus, pas MHz ?)"
                                        : hertz   ? " (kHz attendus, pas Hz ?)"
                                                  : ""));
  }
  if (!*facts.mode && !has_control_characters(qso.mode)) {
    const std::string typed(visible(to_upper(qso.mode), scratch));
    problem(qso_column::mode, "classe d'emission \"" + typed +
                                  "\" inconnue : indiquer son mode avec --mode " + typed +
                                  "=MODE[/SOUS_MODE]");
  }
}

}  // namespace velkrin::journal
