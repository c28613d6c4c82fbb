// The logbook creation dialogue (menu choice 4): warns the user, asks the
// owner's call sign and the logbook's start date, and has the logbook file
// write its header block (creating the file, or giving it a new header while
// keeping every QSO line).
#pragma once

#include <cstddef>

#include "console/console.hpp"
#include "dialogue/outcome.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/records.hpp"

namespace velkrin {

inline constexpr std::size_t kHeaderIndicatifCapacity = 11;
inline constexpr std::size_t kHeaderDateCapacity = 11;

// Answer 0 on the warning screen ends the program (quit) without touching the
// logbook. After a confirmed entry, the header is written and the dialogue
// returns back_to_menu; a header that cannot be written is reported on the
// error stream and gives `failed`.
dialogue_outcome logbook_creation(console& io, const logbook_file& logbook, logbook_header& header);

}  // namespace velkrin
