// The amateur allocations of the place a logbook's owner transmits from, to
// tell a QSO whose frequency lies in an amateur band somewhere in the world
// but outside the bands that place grants.
//
// French locations have the French tables: ARCEP decision 2012-1241 as
// amended (mainland France, Corsica, the overseas departments, Saint-Martin,
// Saint-Barthelemy, Saint-Pierre-et-Miquelon), and the ministerial order of
// 2 March 2021 (New Caledonia, French Polynesia, Wallis and Futuna, the
// southern lands). Other locations have their ITU region's band edges as the
// IARU band plans give them. Edges are inclusive; a logged frequency is a
// whole number of kHz.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "countries/country_file.hpp"

namespace velkrin::countries {

// Edges in hertz: the 60 m band starts at 5 351,5 kHz.
struct band_segment {
  std::int64_t low_hz = 0;
  std::int64_t high_hz = 0;
};

struct allocation_table {
  std::string_view name;    // follows "allocations de": "France metropolitaine"
  std::string_view source;  // "ARCEP 2012-1241"
  std::span<const band_segment> segments;
  bool checked = true;  // false: the location is unknown, nothing is reported
};

enum class itu_region { unknown = 0, one = 1, two = 2, three = 3 };

// The ITU region of an entity from its DXCC number and the ITU zone the
// country file gives it. The zones follow the region lines except in a few
// places (Crozet, Rodrigues, Easter Island, the Line and Phoenix islands),
// which are named by their DXCC number. Antarctica, spread over all three
// regions, and zones the rule does not know give unknown.
itu_region region_of(const country_entity& entity);

// The allocations of the owner's location. A French entity gets its French
// table, and so does a French call (FT...) in Antarctica, which is in Adelie
// Land; any other its region's IARU edges; nullptr (an owner whose call
// resolves to nothing, or a maritime one), the rest of Antarctica and an
// unknown region get a table that reports nothing. `owner_call` in upper
// case.
const allocation_table& allocations_for(const country_entity* owner,
                                        std::string_view owner_call = {});

// Inside the amateur band of some ITU region (the union of the tables here).
bool in_world_band(std::int32_t khz);

// A French note when the frequency lies in a world band but outside the
// owner's allocations, naming the band's allocation there and its source:
// "1 870 kHz : hors des allocations de France metropolitaine
// (160 m : 1 810 a 1 850 kHz, ARCEP 2012-1241)". Nothing when the frequency is
// allowed, outside every amateur band (reported otherwise), or the table is
// not checked.
std::optional<std::string> allocation_note(const allocation_table& table, std::int32_t khz);

}  // namespace velkrin::countries
