// The checks of a QSO line's values that verifie reports and that corrige
// applies to the values it writes, in one place so that the two never
// disagree. Pure functions; the reasons are in French and quote the values
// as they are (the caller shows them through visible()).
#pragma once

#include <functional>
#include <string>

#include "journal/selection.hpp"
#include "logbook/records.hpp"

namespace velkrin::journal {

// The logbook's columns, as corrige names them.
enum class qso_column { date, debut, fin, indicatif, prenom, frequence, mode, lieu };

// Calls `problem` with each problem of the QSO's values, in the order
// verifie reports them, and the column it concerns. `facts` are the QSO's,
// found with the user's --mode mappings.
void find_value_problems(const qso_values& qso, const qso_facts& facts,
                         const std::function<void(qso_column, const std::string&)>& problem);

}  // namespace velkrin::journal
