#include "dialogue/logbook_creation.hpp"

#include <cstdint>
#include <string>

#include "console/text_format.hpp"

namespace velkrin {
namespace {

constexpr std::int32_t kLeave = 0;
constexpr std::int32_t kConfirm = 1;
constexpr std::size_t kWarningRuleWidth = 84;

void show_warning(console& io) {
  const std::string rule(kWarningRuleWidth, '~');
  io.clear_screen();
  io.show_line(
      "!!!! ATTENTION !!!!   ATTENTION !!!!   ATTENTION !!!! ATTENTION !!!! ATTENTION !!!!");
  io.show_line(rule);
  io.show_line(
      "Verifiez dans le dossier du programme l'existance d'un fichier ' journal_de_bord.txt '.");
  io.show_line(rule + "\n");
  io.show_line(
      "Si un journal existe deja, son entete, avec la date de debut et votre indicatif, sera "
      "remplace.\n");
  io.show_line(
      "Si vous souhaitez creer un nouveau Journal de Bord, vous pouvez renommer le fichier, cela "
      "le sauvegardera.\n");
  io.show_line("Vous pourrez ensuite creer votre nouveau Journal de Bord\n");
  io.show_line("Taper 1 pour continuer et creer un Journal de Bord.\n");
  io.show_line(
      "Taper 0 pour sortir et verifier la presence d'un Journal de Bord. (Ou Archiver le "
      "precedent)\n");
  io.show_line("Ensuite, redemarrer de nouveau Velkrin .\n");
  io.show_prompt("Votre Choix : ");
}

// The entry and confirmation screens, until the user confirms with 1; false
// at the end of input.
bool ask_header(console& io, logbook_header& header) {
  std::int32_t confirmation = kLeave;
  do {
    io.clear_screen();
    io.show_line("Nous allons preparer le Journal de Bord\n");
    io.show_prompt("Quels est votre indicatif ? : ");
    if (io.read_word(header.indicatif, kHeaderIndicatifCapacity) != read_status::answered) {
      return false;
    }
    io.show_prompt("A quelle date creez vous ce journal ? (JJ-MM-AAAA) : ");
    if (io.read_word(header.date_debut, kHeaderDateCapacity) != read_status::answered) {
      return false;
    }
    io.clear_screen();
    io.show_prompt(fill_in("Votre Indicatif est : ", header.indicatif, "\n"));
    io.show_prompt(fill_in("Vous creez ce journal le ", header.date_debut, " : \n\n"));
    io.show_prompt("1 pour valider / 0 pour refaire la saisie : ");
    if (io.read_number(confirmation) != read_status::answered) return false;
  } while (confirmation != kConfirm);
  return true;
}

}  // namespace

dialogue_outcome logbook_creation(console& io, const logbook_file& logbook,
                                  logbook_header& header) {
  show_warning(io);
  std::int32_t warning_answer = kLeave;
  if (io.read_number(warning_answer) != read_status::answered) return dialogue_outcome::quit;
  if (warning_answer == kLeave) return dialogue_outcome::quit;

  if (!ask_header(io, header)) return dialogue_outcome::quit;

  if (const auto error = write_header(logbook, header)) {
    io.show_error(write_failure_message(*error));
    return dialogue_outcome::failed;
  }
  io.show_line("Votre Journal de Bord a ete cree avec succes.");
  io.show_line(
      "Il sera visible dans le dossier du programme sous le nom : 'journal_de_bord.txt' .");
  return dialogue_outcome::back_to_menu;
}

}  // namespace velkrin
