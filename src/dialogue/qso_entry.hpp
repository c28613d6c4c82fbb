// The QSO entry dialogue (menu choice 1): checks that the logbook exists,
// asks the eight facts of a QSO, shows them back, appends the confirmed QSO
// to the logbook and offers the next one.
#pragma once

#include <cstddef>

#include "console/console.hpp"
#include "dialogue/outcome.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/records.hpp"

namespace velkrin {

// Capacities of the word fields, in bytes.
inline constexpr std::size_t kQsoDateCapacity = 11;
inline constexpr std::size_t kQsoIndicatifCapacity = 11;
inline constexpr std::size_t kQsoPrenomCapacity = 23;
inline constexpr std::size_t kQsoModeCapacity = 3;
inline constexpr std::size_t kQsoLieuCapacity = 259;

// Resets `debut`, `fin` and `frequence`, then records QSOs until the user
// wants no more (back_to_menu) or the logbook is missing (back_to_menu, after
// saying so). The word fields keep their values from one QSO to the next.
// A QSO that cannot be written is reported on the error stream with its line,
// and the dialogue ends with `failed`.
dialogue_outcome qso_entry(console& io, const logbook_file& logbook, qso_record& qso);

}  // namespace velkrin
