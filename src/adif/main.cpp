// velkrin-adif: exports Velkrin's logbook to an ADIF file. Every name is a
// UTF-8 string inside the command; the platform layer hands the arguments
// over in UTF-8 (on Windows from the wide command line).
#include <iostream>

#include "adif/command_line.hpp"
#include "console/last_resort.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
  // A console then shows the UTF-8 of a name with accents as it is.
  velkrin::platform::prepare_console();
  const int status = velkrin::run_guarded(
      [&] {
        return velkrin::adif::run_velkrin_adif(velkrin::platform::program_arguments(argc, argv),
                                               std::cin, std::cout, std::cerr);
      },
      std::cout, std::cerr, velkrin::adif::kExitFailure);
  std::cout.flush();
  // Started by dropping a logbook on it (Windows), its own window would
  // close before the summary could be read.
  velkrin::platform::wait_before_closing_own_window(std::cerr);
  return status;
}
