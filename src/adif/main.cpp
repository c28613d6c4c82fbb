// velkrin-adif: exports Velkrin's logbook to an ADIF file. Every name is a
// UTF-8 string inside the command; the platform layer hands the arguments
// over in UTF-8 (on Windows from the wide command line).
#include <iostream>

#include "adif/command_line.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
  // A console then shows the UTF-8 of a name with accents as it is.
  velkrin::platform::prepare_console();
  return velkrin::adif::run_velkrin_adif(velkrin::platform::program_arguments(argc, argv),
                                         std::cout, std::cerr);
}
