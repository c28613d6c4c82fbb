// velkrin-journal: looks into Velkrin's logbook (list, worked before,
// duplicates, check, statistics, CSV) without ever writing it. Every name is
// a UTF-8 string inside the command; the platform layer hands the arguments
// over in UTF-8 (on Windows from the wide command line).
#include <exception>
#include <iostream>

#include "journal/command_line.hpp"
#include "platform/platform.hpp"

int main(int argc, char** argv) {
  try {
    // A console then shows the UTF-8 of a name with accents as it is.
    velkrin::platform::prepare_console();
    return velkrin::journal::run_velkrin_journal(velkrin::platform::program_arguments(argc, argv),
                                                 std::cout, std::cerr,
                                                 [] { velkrin::platform::set_binary_output(); });
  } catch (const std::exception&) {
    // Memory exhausted, say: no message of the library's in English.
    std::cerr << "Erreur : velkrin-journal s'est arrete sur une erreur inattendue.\n";
    return velkrin::journal::kExitFailure;
  }
}
