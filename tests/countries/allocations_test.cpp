#include "countries/allocations.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "countries/country_file.hpp"

namespace velkrin::countries {
namespace {

std::string country_file_path() {
  const char* given = std::getenv("VELKRIN_COUNTRY_FILE");
  return given != nullptr ? given : "/usr/share/hamradio-files/cty.csv";
}

class AllocationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(country_file_path(), std::ios::binary);
    if (!in) GTEST_SKIP() << country_file_path() << " is missing (hamradio-files)";
    std::stringstream text;
    text << in.rdbuf();
    parsed_ = parse_country_file(text.str());
    ASSERT_TRUE(parsed_.data) << parsed_.error;
  }

  // The entity the owner's call resolves to, as velkrin-journal finds it.
  const country_entity* owner(std::string_view call) const {
    const auto found = resolve_call(*parsed_.data, call);
    return found ? found->entity : nullptr;
  }

  parsed_country_file parsed_;
};

// Every French location, by its prefix in the file: the DXCC number the
// table is keyed on must be the file's, and the table the right one.
TEST_F(AllocationsTest, FrenchLocationsHaveTheirTables) {
  const struct {
    std::string_view prefix;
    int dxcc;
    std::string_view source;
    bool allows_1870_khz;  // 160 m is wider in regions 2 and 3
  } kLocations[] = {
      {"F", 227, "ARCEP 2012-1241", false},          {"TK", 214, "ARCEP 2012-1241", false},
      {"FR", 453, "ARCEP 2012-1241", false},         {"FH", 169, "ARCEP 2012-1241", false},
      {"FG", 79, "ARCEP 2012-1241", true},           {"FM", 84, "ARCEP 2012-1241", true},
      {"FY", 63, "ARCEP 2012-1241", true},           {"FP", 277, "ARCEP 2012-1241", true},
      {"FS", 213, "ARCEP 2012-1241", true},          {"FJ", 516, "ARCEP 2012-1241", true},
      {"FO/c", 36, "ARCEP 2012-1241", true},         {"FT/w", 41, "arrete du 2 mars 2021", false},
      {"FT/g", 99, "arrete du 2 mars 2021", false},  {"FT/j", 124, "arrete du 2 mars 2021", false},
      {"FT/t", 276, "arrete du 2 mars 2021", false}, {"FK", 162, "arrete du 2 mars 2021", true},
      {"FK/c", 512, "arrete du 2 mars 2021", true},  {"FO", 175, "arrete du 2 mars 2021", true},
      {"FO/a", 508, "arrete du 2 mars 2021", true},  {"FO/m", 509, "arrete du 2 mars 2021", true},
      {"FW", 298, "arrete du 2 mars 2021", true},    {"FT/x", 131, "arrete du 2 mars 2021", true},
      {"FT/z", 10, "arrete du 2 mars 2021", true},
  };
  for (const auto& location : kLocations) {
    const country_entity* entity = nullptr;
    for (const auto& candidate : parsed_.data->entities) {
      if (candidate.prefix == location.prefix) entity = &candidate;
    }
    ASSERT_NE(entity, nullptr) << location.prefix;
    EXPECT_EQ(entity->dxcc, location.dxcc) << location.prefix;
    const allocation_table& table = allocations_for(entity);
    EXPECT_EQ(table.source, location.source) << location.prefix;
    EXPECT_EQ(!allocation_note(table, 1870).has_value(), location.allows_1870_khz)
        << location.prefix;
  }
}

// What a QSO's frequency gives for an owner's call: the note in full, or
// nothing (an empty expectation).
TEST_F(AllocationsTest, NotesFrequenciesOutsideTheOwnersAllocations) {
  const struct {
    std::string_view owner;
    std::int32_t khz;
    std::string_view note;
  } kCases[] = {
      {"F4ABC", 1870,
       "1 870 kHz : hors des allocations de France metropolitaine (160 m : 1 810 a 1 850 kHz, "
       "ARCEP 2012-1241)"},
      {"F4ABC", 1810, ""},
      {"F4ABC", 1850, ""},
      {"F4ABC", 1851,
       "1 851 kHz : hors des allocations de France metropolitaine (160 m : "
       "1 810 a 1 850 kHz, ARCEP 2012-1241)"},
      {"F4ABC/P", 52'500,
       "52 500 kHz : hors des allocations de France metropolitaine (6 m : 50 000 a 52 000 kHz, "
       "ARCEP 2012-1241)"},
      {"TK5ABC", 3850,
       "3 850 kHz : hors des allocations de France metropolitaine (80 m : "
       "3 500 a 3 800 kHz, ARCEP 2012-1241)"},
      {"F4ABC", 70'200,
       "70 200 kHz : hors des allocations de France metropolitaine (aucune "
       "allocation sur 4 m, ARCEP 2012-1241)"},
      {"F4ABC", 5352, ""},
      {"F4ABC", 5366, ""},
      {"F4ABC", 5351, ""},  // below 5 351,5 kHz: outside every band, reported otherwise
      {"F4ABC", 7100, ""},
      {"F4ABC", 14'000, ""},
      {"F4ABC", 1'000, ""},
      {"FR4ABC", 52'500,
       "52 500 kHz : hors des allocations de la Reunion et Mayotte (6 m : 50 000 a 52 000 kHz, "
       "ARCEP 2012-1241)"},
      {"FG4ABC", 52'500, ""},
      {"FG4ABC", 145'500, ""},
      {"FK8ABC", 3850, ""},
      {"FK8ABC", 3950,
       "3 950 kHz : hors des allocations de Nouvelle-Caledonie, Polynesie "
       "francaise, Wallis-et-Futuna, Kerguelen, Saint-Paul et Amsterdam "
       "(80 m : 3 500 a 3 900 kHz, arrete du 2 mars 2021)"},
      {"DL1ABC", 3850,
       "3 850 kHz : hors des allocations de la region 1 de l'IARU (80 m : "
       "3 500 a 3 800 kHz, plans de bandes IARU)"},
      {"DL1ABC", 70'200, ""},
      {"W1ABC", 3850, ""},
      {"W1ABC", 7250, ""},
      {"VK2ABC", 7250,
       "7 250 kHz : hors des allocations de la region 3 de l'IARU (40 m : "
       "7 000 a 7 200 kHz, plans de bandes IARU)"},
      {"VK2ABC", 146'500, ""},
      // Adelie Land: Antarctica, but a French call.
      {"FT4YM", 3950,
       "3 950 kHz : hors des allocations de la Terre Adelie (80 m : 3 500 a 3 900 kHz, "
       "arrete du 2 mars 2021)"},
      {"KC4AAA", 3950, ""},    // Antarctica otherwise: any nation, no check
      {"Q1ABC", 1870, ""},     // resolves to nothing: no check
      {"F4ABC/MM", 1870, ""},  // maritime: no location
  };
  for (const auto& c : kCases) {
    const auto note = allocation_note(allocations_for(owner(c.owner), c.owner), c.khz);
    EXPECT_EQ(note.value_or(""), c.note) << c.owner << " on " << c.khz;
  }
}

TEST_F(AllocationsTest, RegionsFollowTheRegionLines) {
  const struct {
    std::string_view call;
    itu_region region;
  } kCalls[] = {
      {"F4ABC", itu_region::one},    {"UA9ABC", itu_region::one},     {"JT1ABC", itu_region::one},
      {"A41ABC", itu_region::one},   {"3B8ABC", itu_region::one},     {"EP2ABC", itu_region::three},
      {"3B9ABC", itu_region::three}, {"BY1ABC", itu_region::three},   {"VK2ABC", itu_region::three},
      {"W1ABC", itu_region::two},    {"OX3ABC", itu_region::two},     {"KH6ABC", itu_region::two},
      {"CE0YAB", itu_region::two},   {"T32ABC", itu_region::three},   {"ZD8ABC", itu_region::one},
      {"VP8ABC", itu_region::two},   {"KC4AAA", itu_region::unknown},
  };
  for (const auto& c : kCalls) {
    const country_entity* entity = owner(c.call);
    ASSERT_NE(entity, nullptr) << c.call;
    EXPECT_EQ(region_of(*entity), c.region) << c.call << " (" << entity->name << ")";
  }
  // Every entity of the file but Antarctica is placed somewhere.
  for (const auto& entity : parsed_.data->entities) {
    if (entity.dxcc == 13) continue;
    EXPECT_NE(region_of(entity), itu_region::unknown) << entity.prefix << " zone " << entity.itu;
  }
}

// Every table lies inside the world bands, so that a frequency a table
// allows is never reported as outside every band.
TEST_F(AllocationsTest, EveryTableLiesInsideTheWorldBands) {
  EXPECT_FALSE(in_world_band(1799));
  EXPECT_TRUE(in_world_band(1800));
  EXPECT_TRUE(in_world_band(2000));
  EXPECT_FALSE(in_world_band(2001));
  EXPECT_TRUE(in_world_band(24'250'000));
  for (const auto& entity : parsed_.data->entities) {
    const allocation_table& table = allocations_for(&entity);
    for (const auto& segment : table.segments) {
      ASSERT_LT(segment.low_hz, segment.high_hz) << table.name;
      const auto low = static_cast<std::int32_t>((segment.low_hz + 999) / 1000);
      const auto high = static_cast<std::int32_t>(segment.high_hz / 1000);
      EXPECT_TRUE(in_world_band(low) && in_world_band(high)) << table.name << " " << low;
    }
  }
}

}  // namespace
}  // namespace velkrin::countries
