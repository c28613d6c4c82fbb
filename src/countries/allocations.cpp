#include "countries/allocations.hpp"

#include <array>

namespace velkrin::countries {
namespace {

constexpr band_segment khz(std::int64_t low, std::int64_t high) {
  return {low * 1000, high * 1000};
}
constexpr band_segment mhz(std::int64_t low, std::int64_t high) {
  return {low * 1'000'000, high * 1'000'000};
}

// The WRC-15 allocation of 60 m, the same in every region and every table.
constexpr band_segment k60m{5'351'500, 5'366'500};

struct world_band {
  std::string_view name;
  band_segment edges;
};

// Each band at its widest over the three regions.
constexpr std::array<world_band, 29> kWorldBands{{
    {"2200 m", {135'700, 137'800}},
    {"630 m", khz(472, 479)},
    {"160 m", khz(1'800, 2'000)},
    {"80 m", khz(3'500, 4'000)},
    {"60 m", k60m},
    {"40 m", khz(7'000, 7'300)},
    {"30 m", khz(10'100, 10'150)},
    {"20 m", khz(14'000, 14'350)},
    {"17 m", khz(18'068, 18'168)},
    {"15 m", khz(21'000, 21'450)},
    {"12 m", khz(24'890, 24'990)},
    {"10 m", khz(28'000, 29'700)},
    {"6 m", mhz(50, 54)},
    {"4 m", khz(70'000, 70'500)},
    {"2 m", mhz(144, 148)},
    {"1,25 m", mhz(220, 225)},
    {"70 cm", mhz(420, 450)},
    {"33 cm", mhz(902, 928)},
    {"23 cm", mhz(1'240, 1'300)},
    {"13 cm", mhz(2'300, 2'450)},
    {"9 cm", mhz(3'300, 3'500)},
    {"6 cm", mhz(5'650, 5'925)},
    {"3 cm", mhz(10'000, 10'500)},
    {"1,2 cm", mhz(24'000, 24'250)},
    {"6 mm", mhz(47'000, 47'200)},
    {"4 mm", mhz(76'000, 81'000)},
    {"2,5 mm", mhz(122'250, 123'000)},
    {"2 mm", mhz(134'000, 141'000)},
    {"1,2 mm", mhz(241'000, 250'000)},
}};

// The IARU band plans of each region, from 2200 m up. Where the countries of
// a region grant different edges, the plan's widest are kept, so that a note
// for a foreign owner is never a false alarm: 6 m to 54 MHz and 4 m in
// region 1, 9 cm from 3 400 to 3 475 MHz in region 1, 70 cm from 420 MHz in
// region 2.
constexpr std::array<band_segment, 27> kIaruRegion1{{
    {135'700, 137'800},
    khz(472, 479),
    khz(1'810, 2'000),
    khz(3'500, 3'800),
    k60m,
    khz(7'000, 7'200),
    khz(10'100, 10'150),
    khz(14'000, 14'350),
    khz(18'068, 18'168),
    khz(21'000, 21'450),
    khz(24'890, 24'990),
    khz(28'000, 29'700),
    mhz(50, 54),
    khz(70'000, 70'500),
    mhz(144, 146),
    mhz(430, 440),
    mhz(1'240, 1'300),
    mhz(2'300, 2'450),
    mhz(3'400, 3'475),
    mhz(5'650, 5'850),
    mhz(10'000, 10'500),
    mhz(24'000, 24'250),
    mhz(47'000, 47'200),
    mhz(76'000, 81'000),
    mhz(122'250, 123'000),
    mhz(134'000, 141'000),
    mhz(241'000, 250'000),
}};
constexpr std::array<band_segment, 28> kIaruRegion2{{
    {135'700, 137'800},
    khz(472, 479),
    khz(1'800, 2'000),
    khz(3'500, 4'000),
    k60m,
    khz(7'000, 7'300),
    khz(10'100, 10'150),
    khz(14'000, 14'350),
    khz(18'068, 18'168),
    khz(21'000, 21'450),
    khz(24'890, 24'990),
    khz(28'000, 29'700),
    mhz(50, 54),
    mhz(144, 148),
    mhz(220, 225),
    mhz(420, 450),
    mhz(902, 928),
    mhz(1'240, 1'300),
    mhz(2'300, 2'450),
    mhz(3'300, 3'500),
    mhz(5'650, 5'925),
    mhz(10'000, 10'500),
    mhz(24'000, 24'250),
    mhz(47'000, 47'200),
    mhz(76'000, 81'000),
    mhz(122'250, 123'000),
    mhz(134'000, 141'000),
    mhz(241'000, 250'000),
}};
constexpr std::array<band_segment, 26> kIaruRegion3{{
    {135'700, 137'800},
    khz(472, 479),
    khz(1'800, 2'000),
    khz(3'500, 3'900),
    k60m,
    khz(7'000, 7'200),
    khz(10'100, 10'150),
    khz(14'000, 14'350),
    khz(18'068, 18'168),
    khz(21'000, 21'450),
    khz(24'890, 24'990),
    khz(28'000, 29'700),
    mhz(50, 54),
    mhz(144, 148),
    mhz(430, 440),
    mhz(1'240, 1'300),
    mhz(2'300, 2'450),
    mhz(3'300, 3'500),
    mhz(5'650, 5'850),
    mhz(10'000, 10'500),
    mhz(24'000, 24'250),
    mhz(47'000, 47'200),
    mhz(76'000, 81'000),
    mhz(122'250, 123'000),
    mhz(134'000, 141'000),
    mhz(241'000, 250'000),
}};

// The French tables. Where the text could not be read in full, the narrower
// edge is kept, so that a doubt gives a note rather than silence:
// - region 2 (ARCEP): 160 m from 1 810 kHz, 80 m to 3 800 kHz and 40 m to
//   7 200 kHz, as in region 1; 6 m and 2 m to 54 and 148 MHz as the order of
//   2021 gives region 3;
// - above 81 GHz only 122,25-123 GHz, the one band the texts read list there;
// - 9 cm only in region 3, the one column that lists it.
constexpr std::array<band_segment, 23> kFranceRegion1{{
    {135'700, 137'800},
    khz(472, 479),
    khz(1'810, 1'850),
    khz(3'500, 3'800),
    k60m,
    khz(7'000, 7'200),
    khz(10'100, 10'150),
    khz(14'000, 14'350),
    khz(18'068, 18'168),
    khz(21'000, 21'450),
    khz(24'890, 24'990),
    khz(28'000, 29'700),
    mhz(50, 52),
    mhz(144, 146),
    mhz(430, 440),
    mhz(1'240, 1'300),
    mhz(2'300, 2'450),
    mhz(5'650, 5'850),
    mhz(10'000, 10'500),
    mhz(24'000, 24'250),
    mhz(47'000, 47'200),
    mhz(76'000, 81'000),
    mhz(122'250, 123'000),
}};
constexpr std::array<band_segment, 23> kFranceRegion2{{
    {135'700, 137'800},
    khz(472, 479),
    khz(1'810, 2'000),
    khz(3'500, 3'800),
    k60m,
    khz(7'000, 7'200),
    khz(10'100, 10'150),
    khz(14'000, 14'350),
    khz(18'068, 18'168),
    khz(21'000, 21'450),
    khz(24'890, 24'990),
    khz(28'000, 29'700),
    mhz(50, 54),
    mhz(144, 148),
    mhz(430, 440),
    mhz(1'240, 1'300),
    mhz(2'300, 2'450),
    mhz(5'650, 5'850),
    mhz(10'000, 10'500),
    mhz(24'000, 24'250),
    mhz(47'000, 47'200),
    mhz(76'000, 81'000),
    mhz(122'250, 123'000),
}};
constexpr std::array<band_segment, 24> kFranceRegion3{{
    {135'700, 137'800},
    khz(472, 479),
    khz(1'810, 2'000),
    khz(3'500, 3'900),
    k60m,
    khz(7'000, 7'200),
    khz(10'100, 10'150),
    khz(14'000, 14'350),
    khz(18'068, 18'168),
    khz(21'000, 21'450),
    khz(24'890, 24'990),
    khz(28'000, 29'700),
    mhz(50, 54),
    mhz(144, 148),
    mhz(430, 440),
    mhz(1'240, 1'300),
    mhz(2'300, 2'450),
    mhz(3'300, 3'500),
    mhz(5'650, 5'850),
    mhz(10'000, 10'500),
    mhz(24'000, 24'250),
    mhz(47'000, 47'200),
    mhz(76'000, 81'000),
    mhz(122'250, 123'000),
}};

constexpr std::array<band_segment, kWorldBands.size()> world_segments() {
  std::array<band_segment, kWorldBands.size()> segments{};
  for (std::size_t i = 0; i < kWorldBands.size(); ++i) segments[i] = kWorldBands[i].edges;
  return segments;
}
constexpr auto kWorldSegments = world_segments();

constexpr std::string_view kArcep = "ARCEP 2012-1241";
constexpr std::string_view kOrder2021 = "arrete du 2 mars 2021";
constexpr std::string_view kIaru = "plans de bandes IARU";

const allocation_table kMainland{"France metropolitaine", kArcep, kFranceRegion1};
const allocation_table kIndianOcean{"la Reunion et Mayotte", kArcep, kFranceRegion1};
const allocation_table kAmericas{
    "Guadeloupe, Martinique, Guyane, Saint-Martin, Saint-Barthelemy et "
    "Saint-Pierre-et-Miquelon",
    kArcep, kFranceRegion2};
// Clipperton is named by neither text; it gets the region 2 table of its
// neighbours in the decision.
const allocation_table kClipperton{"Clipperton", kArcep, kFranceRegion2};
// The order puts Crozet and the Scattered Islands in region 1.
const allocation_table kSouthernRegion1{"Crozet et les iles Eparses", kOrder2021, kFranceRegion1};
const allocation_table kPacific{
    "Nouvelle-Caledonie, Polynesie francaise, Wallis-et-Futuna, Kerguelen, "
    "Saint-Paul et Amsterdam",
    kOrder2021, kFranceRegion3};
const allocation_table kAdelie{"la Terre Adelie", kOrder2021, kFranceRegion3};
const allocation_table kRegion1{"la region 1 de l'IARU", kIaru, kIaruRegion1};
const allocation_table kRegion2{"la region 2 de l'IARU", kIaru, kIaruRegion2};
const allocation_table kRegion3{"la region 3 de l'IARU", kIaru, kIaruRegion3};
const allocation_table kUnchecked{"toutes les regions", kIaru, kWorldSegments, false};

struct french_location {
  int dxcc;
  const allocation_table* table;
};
// ADIF DXCC numbers, as cty.csv gives them.
const std::array<french_location, 23> kFrenchLocations{{
    {227, &kMainland},       {214, &kMainland},        {453, &kIndianOcean},
    {169, &kIndianOcean},    {79, &kAmericas},         {84, &kAmericas},
    {63, &kAmericas},        {277, &kAmericas},        {213, &kAmericas},
    {516, &kAmericas},       {36, &kClipperton},       {41, &kSouthernRegion1},
    {99, &kSouthernRegion1}, {124, &kSouthernRegion1}, {276, &kSouthernRegion1},
    {162, &kPacific},        {512, &kPacific},         {175, &kPacific},
    {508, &kPacific},        {509, &kPacific},         {298, &kPacific},
    {131, &kPacific},        {10, &kPacific},
}};

constexpr int kAntarctica = 13;

struct region_exception {
  int dxcc;
  itu_region region;
};
// Entities on the other side of a region line than the rest of their zone.
constexpr std::array<region_exception, 7> kRegionExceptions{{
    {kAntarctica, itu_region::unknown},
    {41, itu_region::one},     // Crozet, 51 E (zone 68 is mostly east of 60 E)
    {207, itu_region::three},  // Rodrigues, 63 E (zone 53 is mostly west)
    {47, itu_region::two},     // Easter Island, 109 W (east of 120 W)
    {20, itu_region::three},   // Baker and Howland, south of 10 N
    {48, itu_region::three},   // Line Islands
    {197, itu_region::three},  // Palmyra and Jarvis
}};

struct zone_range {
  int first;
  int last;
  itu_region region;
};
// ITU zones 1-16 are the Americas and Greenland; 17-39 Europe, Russia,
// Central Asia, Mongolia, North Africa and the Middle East; 40 Iran and
// Afghanistan onwards east is region 3; the rest of Africa and the South
// Atlantic are region 1; zone 61 (Hawaii) and the Antarctic zones south of
// the Americas are region 2.
constexpr std::array<zone_range, 16> kZoneRegions{{
    {1, 16, itu_region::two},
    {17, 39, itu_region::one},
    {40, 45, itu_region::three},
    {46, 48, itu_region::one},
    {49, 51, itu_region::three},
    {52, 53, itu_region::one},
    {54, 56, itu_region::three},
    {57, 57, itu_region::one},
    {58, 60, itu_region::three},
    {61, 61, itu_region::two},
    {62, 65, itu_region::three},
    {66, 67, itu_region::one},
    {68, 68, itu_region::three},
    {72, 73, itu_region::two},
    {75, 75, itu_region::one},
    {90, 90, itu_region::three},
}};

bool holds(const band_segment& segment, std::int64_t hz) {
  return hz >= segment.low_hz && hz <= segment.high_hz;
}

// "1 870", "5 351,5": thousands apart by a blank, a decimal comma.
std::string format_khz(std::int64_t hz) {
  std::string whole = std::to_string(hz / 1000);
  std::string grouped;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ' ';
    grouped += whole[i];
  }
  if (std::int64_t rest = hz % 1000; rest != 0) {
    std::string decimals = std::to_string(1000 + rest).substr(1);
    while (decimals.back() == '0') decimals.pop_back();
    grouped += ',' + decimals;
  }
  return grouped;
}

}  // namespace

itu_region region_of(const country_entity& entity) {
  for (const auto& exception : kRegionExceptions) {
    if (exception.dxcc == entity.dxcc) return exception.region;
  }
  for (const auto& range : kZoneRegions) {
    if (entity.itu >= range.first && entity.itu <= range.last) return range.region;
  }
  return itu_region::unknown;
}

const allocation_table& allocations_for(const country_entity* owner, std::string_view owner_call) {
  if (owner == nullptr) return kUnchecked;
  // A French call in Antarctica is at Dumont d'Urville, in Adelie Land,
  // which the French tables put in region 3 with the other southern lands.
  if (owner->dxcc == kAntarctica && owner_call.starts_with("FT")) return kAdelie;
  for (const auto& location : kFrenchLocations) {
    if (location.dxcc == owner->dxcc) return *location.table;
  }
  switch (region_of(*owner)) {
    case itu_region::one:
      return kRegion1;
    case itu_region::two:
      return kRegion2;
    case itu_region::three:
      return kRegion3;
    case itu_region::unknown:
      break;
  }
  return kUnchecked;
}

bool in_world_band(std::int32_t khz) {
  const std::int64_t hz = std::int64_t{khz} * 1000;
  for (const auto& band : kWorldBands) {
    if (holds(band.edges, hz)) return true;
  }
  return false;
}

std::optional<std::string> allocation_note(const allocation_table& table, std::int32_t khz) {
  if (!table.checked) return std::nullopt;
  const std::int64_t hz = std::int64_t{khz} * 1000;
  for (const auto& segment : table.segments) {
    if (holds(segment, hz)) return std::nullopt;
  }
  const world_band* band = nullptr;
  for (const auto& candidate : kWorldBands) {
    if (holds(candidate.edges, hz)) band = &candidate;
  }
  if (band == nullptr) return std::nullopt;

  std::string granted;
  for (const auto& segment : table.segments) {
    if (segment.high_hz < band->edges.low_hz || segment.low_hz > band->edges.high_hz) continue;
    granted += granted.empty() ? std::string(band->name) + " : " : " et ";
    granted += format_khz(segment.low_hz) + " a " + format_khz(segment.high_hz) + " kHz";
  }
  if (granted.empty()) granted = "aucune allocation sur " + std::string(band->name);
  return format_khz(hz) + " kHz : hors des allocations de " + std::string(table.name) + " (" +
         granted + ", " + std::string(table.source) + ")";
}

}  // namespace velkrin::countries
