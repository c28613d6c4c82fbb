#include "dialogue/qso_entry.hpp"

#include <cstdint>
#include <string>

#include "console/text_format.hpp"

namespace velkrin {
namespace {

constexpr std::size_t kTimeDigits = 4;
constexpr std::int32_t kYes = 1;
constexpr std::int32_t kNo = 0;

// The entry screen; false at the end of input.
bool ask_fields(console& io, qso_record& qso) {
  io.clear_screen();
  io.show_line("Saisie d'un nouveau QSO\n");
  io.show_prompt("Date du QSO (JJ-MM-AAAA): ");
  if (io.read_word(qso.date, kQsoDateCapacity) != read_status::answered) return false;
  io.show_prompt("Debut du QSO, en Heure Universelle > (Format hhmm) : ");
  if (io.read_number(qso.debut) != read_status::answered) return false;
  io.show_prompt("Fin du QSO, en Heure Universelle  >  (Format hhmm) : ");
  if (io.read_number(qso.fin) != read_status::answered) return false;
  io.show_prompt("Indicatif du correspondant : ");
  if (io.read_word(qso.indicatif, kQsoIndicatifCapacity) != read_status::answered) return false;
  io.show_prompt("Prenom du correspondant (Sans accent(s)) : ");
  if (io.read_word(qso.prenom, kQsoPrenomCapacity) != read_status::answered) return false;
  io.show_prompt("Frequence d'emission (en kHz) : ");
  if (io.read_long(qso.frequence) != read_status::answered) return false;
  io.show_prompt("Classe d'emission : ");
  if (io.read_word(qso.mode, kQsoModeCapacity) != read_status::answered) return false;
  io.show_prompt("Lieu d'emission (Sans accent(s) sans espaces ou relier avec '_'): ");
  return io.read_word(qso.lieu, kQsoLieuCapacity) == read_status::answered;
}

void show_summary(console& io, const qso_record& qso) {
  io.clear_screen();
  io.show_line("Resume de la saisie : ");
  io.show_line("-------------------");
  io.show_prompt(fill_in("QSO du ", qso.date, "\n"));
  io.show_prompt(fill_in("De ", zero_fill(qso.debut, kTimeDigits), " T.U \xc3\xa0"));
  io.show_prompt(fill_in(" ", zero_fill(qso.fin, kTimeDigits), " T.U\n"));
  io.show_prompt(fill_in("Avec ", qso.indicatif, "  "));
  io.show_prompt(fill_in(" ", qso.prenom, "  "));
  io.show_prompt(fill_in("sur ", decimal(qso.frequence), " kHz ,"));
  io.show_prompt(fill_in("en ", qso.mode, " .\n"));
  io.show_prompt(fill_in("Depuis ", qso.lieu, " ."));
  io.show_line("\n\n");
}

}  // namespace

dialogue_outcome qso_entry(console& io, const logbook_file& logbook, qso_record& qso) {
  qso.debut = 0;
  qso.fin = 0;
  qso.frequence = 0;
  for (;;) {
    if (!logbook_exists(logbook)) {
      io.show_prompt(
          "\n\n\nVotre journal n'existe pas !!!\n\n\nVous devez prealablement creer votre "
          "journal.");
      return dialogue_outcome::back_to_menu;
    }

    std::int32_t validation = kNo;
    do {
      if (!ask_fields(io, qso)) return dialogue_outcome::quit;
      show_summary(io, qso);
      io.show_prompt("Validez vous la saisie ? ( 1 Oui / 0 Non ) : ");
      if (io.read_number(validation) != read_status::answered) return dialogue_outcome::quit;
    } while (validation != kYes);

    bool started_new_logbook = false;
    if (const auto error = append_qso(logbook, qso, &started_new_logbook)) {
      io.show_error(write_failure_message(*error));
      io.show_error(unrecorded_qso_message(qso));
      return dialogue_outcome::failed;
    }
    // The logbook vanished while the QSO was typed: the QSO is kept, and the
    // user told why the new file has no header (the screen stays as it is).
    if (started_new_logbook) io.show_error(new_logbook_message());
    io.show_line("Votre QSO est valide , et est inscrit dans le Journal de Bord\n\n");
    io.show_line("Voulez-vous saisir un nouveau QSO ? (1 oui / 0 non)");
    std::int32_t another_qso = kNo;
    if (io.read_number(another_qso) != read_status::answered) return dialogue_outcome::quit;
    if (another_qso == kNo) return dialogue_outcome::back_to_menu;
  }
}

}  // namespace velkrin
