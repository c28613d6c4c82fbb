// The program's entry and its only loop at the top: the banner and the main
// menu, the hand-over to the two dialogues, and the return prompt.
#pragma once

#include <iosfwd>
#include <string>

#include "console/console.hpp"
#include "logbook/logbook_file.hpp"

namespace velkrin {

// The 50-character banner row that names the version.
std::string version_row();

// Runs the menu loop until the program ends and returns its exit status:
// 0 for every ending the user chose (and the end of input), 1 when the
// logbook could not be written. Owns the QSO and header records for the run.
int run_menu(console& io, const logbook_file& logbook);

// The whole program on the given streams, the logbook in the current folder.
int run_velkrin(std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace velkrin
