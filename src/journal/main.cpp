// velkrin-journal: looks into Velkrin's logbook (list, worked before,
// duplicates, check, statistics, CSV, one QSO's card) without writing it, and
// completes, corrects or removes one QSO. Every name is a UTF-8 string inside
// the command; the platform layer hands the arguments over in UTF-8 (on
// Windows from the wide command line).
#include <iostream>

#include "console/last_resort.hpp"
#include "journal/command_line.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
  // A console then shows the UTF-8 of a name with accents as it is.
  velkrin::platform::prepare_console();
  const int status = velkrin::run_guarded(
      [&] {
        return velkrin::journal::run_velkrin_journal(
            velkrin::platform::program_arguments(argc, argv), std::cout, std::cerr,
            [] { velkrin::platform::set_binary_output(); });
      },
      std::cout, std::cerr, velkrin::journal::kExitFailure);
  std::cout.flush();
  // Started by dropping a logbook on it (Windows), its own window would
  // close before the list could be read.
  velkrin::platform::wait_before_closing_own_window(std::cerr);
  return status;
}
