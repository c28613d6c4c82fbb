// Country files for the tests of velkrin-adif, in the layout of cty.csv.
#pragma once

#include <string_view>

namespace velkrin::adif {

// One entity that no call sign of the tests has, and a version far ahead of
// their QSOs: put beside a logbook, it keeps the system's country file (and
// its notes) out of tests that are about something else.
inline constexpr std::string_view kNoCountriesFile =
    "ZZ9,Test Entity,999,EU,1,1,0.00,0.00,0.0,ZZ9 =VER20991231;\n";

// A few entities: an entity, another, a starred entry that counts as its
// parent, and France's generic TO prefix.
inline constexpr std::string_view kFewCountriesFile =
    "F,France,227,EU,14,27,46.00,-2.00,-1.0,F TO =VER20991231;\n"
    "TK,Corsica,214,EU,15,28,42.00,-9.00,-1.0,TK;\n"
    "I,Italy,248,EU,15,28,42.82,-12.58,-1.0,I;\n"
    "*IT9,Sicily,248,EU,15,28,37.50,-14.00,-1.0,IT9;\n";

}  // namespace velkrin::adif
