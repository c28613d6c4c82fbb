#include "dialogue/menu.hpp"

#include <cstddef>
#include <cstdint>

#include "console/text_format.hpp"
#include "dialogue/logbook_creation.hpp"
#include "dialogue/qso_entry.hpp"
#include "platform/platform.hpp"

#ifndef VELKRIN_VERSION
#define VELKRIN_VERSION "1"
#endif

namespace velkrin {
namespace {

constexpr std::size_t kBannerWidth = 50;
constexpr std::int32_t kChoiceQso = 1;
constexpr std::int32_t kChoiceCreation = 4;
constexpr std::int32_t kChoiceQuit = 0;
constexpr std::int32_t kBackToMenu = 0;

void show_menu(console& io) {
  io.clear_screen();
  io.show_line("##################################################");
  io.show_line("##                     Velkrin                  ##");
  io.show_line("## -------------------------------------------- ##");
  io.show_line("##  Un programme simple pour consigner ses QSO. ##");
  io.show_line("## -------------------------------------------- ## ");
  io.show_line(version_row());
  io.show_line("##################################################\n");
  io.show_line("1 >> Saisir un nouveau QSO.");
  io.show_line("4 >> Creation, ou remise a zero, du Journal de Bord\n\n");
  io.show_line("0 >> Quitter\n\n");
  io.show_prompt("Votre choix : ");
}

int exit_status(dialogue_outcome outcome) {
  return outcome == dialogue_outcome::failed ? kExitLogbookFailure : kExitSuccess;
}

}  // namespace

std::string version_row() {
  return pad_right("##  Version " VELKRIN_VERSION, kBannerWidth - 2) + "##";
}

int run_menu(console& io, const logbook_file& logbook) {
  qso_record qso;
  logbook_header header;
  for (;;) {
    show_menu(io);
    std::int32_t menu_choice = kChoiceQuit;
    if (io.read_number(menu_choice) != read_status::answered) return kExitSuccess;

    dialogue_outcome outcome = dialogue_outcome::back_to_menu;
    if (menu_choice == kChoiceQuit) return kExitSuccess;
    if (menu_choice == kChoiceQso) outcome = qso_entry(io, logbook, qso);
    if (menu_choice == kChoiceCreation) outcome = logbook_creation(io, logbook, header);
    if (outcome != dialogue_outcome::back_to_menu) return exit_status(outcome);

    io.show_prompt("\n\nTaper '0' pour retourner au Menu Principal.  ");
    std::int32_t return_answer = kBackToMenu;
    if (io.read_number(return_answer) != read_status::answered) return kExitSuccess;
    if (return_answer != kBackToMenu) return kExitSuccess;
  }
}

int run_velkrin(std::istream& in, std::ostream& out, std::ostream& err) {
  platform::prepare_console();
  console io(in, out, err);
  logbook_file logbook;
  logbook.on_long_wait = [&io, &logbook] { io.show_error(lock_wait_message(logbook.path)); };
  return run_menu(io, logbook);
}

}  // namespace velkrin
