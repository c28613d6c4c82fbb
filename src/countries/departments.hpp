// The French departments that the DDFM award counts, as a QSO's ADIF STATE
// field gives them. ADIF's Primary Administrative Subdivision enumeration
// (checked in ADIF 3.1.6) lists 01 to 95 without 20 under DXCC 227 (France)
// and 2A, 2B under DXCC 214 (Corsica): the 96 departments of metropolitan
// France, which the award counts. The overseas departments (971 to 976) are
// DXCC entities of their own with no subdivision in ADIF, and are not in it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velkrin::countries {

struct department {
  std::string_view code;  // "01", "2A"
  std::string_view name;  // without accents: "Ardeche"
};

// The 96, in the order of their codes (01 ... 19, 2A, 2B, 21 ... 95).
std::span<const department> ddfm_departments();

// The code as written out: blanks around it dropped, letters upper-cased, a
// single digit given its leading zero ("1" gives "01", " 2a " gives "2A").
// Nothing when the result is no department of the list ("20", "971", "").
std::optional<std::string> normalise_department(std::string_view text);

// The name of a department by its code, normalised first.
std::optional<std::string_view> department_name(std::string_view code);

// Whether QSOs with this DXCC entity carry a department: 227 and 214.
bool carries_departments(int dxcc);

// The department of a QSO with this entity and STATE, when ADIF defines that
// code for the entity: 01-95 for France, 2A and 2B for Corsica.
std::optional<std::string> department_of(int dxcc, std::string_view state);

}  // namespace velkrin::countries
