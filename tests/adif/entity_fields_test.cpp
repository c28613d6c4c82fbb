// The DXCC entity fields of the export, against the country file that Debian
// packages (VELKRIN_COUNTRY_FILE names another): expected values are read
// from the file itself, so that a newer file keeps them true.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "adif/logbook_export.hpp"
#include "logbook/line_format.hpp"
#include "test_country_file.hpp"

namespace velkrin::adif {
namespace {

using five_fields = std::map<std::string, std::string, std::less<>>;

class EntityFieldsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* given = std::getenv("VELKRIN_COUNTRY_FILE");
    const std::string path = given != nullptr ? given : "/usr/share/hamradio-files/cty.csv";
    std::ifstream in(path, std::ios::binary);
    if (!in) GTEST_SKIP() << path << " is missing (hamradio-files)";
    std::stringstream text;
    text << in.rdbuf();
    countries::parsed_country_file parsed = countries::parse_country_file(text.str());
    ASSERT_TRUE(parsed.data) << parsed.error;
    data_ = std::move(*parsed.data);
  }

  // The five fields as the file's entity of that prefix gives them, its
  // name and number being `named`'s.
  five_fields as_entity(std::string_view prefix, std::string_view named = "") const {
    const countries::country_entity& place = entity(prefix);
    const countries::country_entity& dxcc = entity(named.empty() ? prefix : named);
    return {{"DXCC", std::to_string(dxcc.dxcc)},
            {"COUNTRY", dxcc.name},
            {"CQZ", std::to_string(place.cq)},
            {"ITUZ", std::to_string(place.itu)},
            {"CONT", place.continent}};
  }
  const countries::country_entity& entity(std::string_view prefix) const {
    for (const auto& entity : data_.entities) {
      if (entity.prefix == prefix) return entity;
    }
    ADD_FAILURE() << prefix << " is not in the file";
    return data_.entities.front();
  }

  countries::country_data data_;
};

TEST_F(EntityFieldsTest, ExportWritesTheEntityOfEachCallAndKeepsTheDetails) {
  const five_fields italy = as_entity("I");
  five_fields italy_dxcc_of_details = italy;
  italy_dxcc_of_details["DXCC"] = "248";  // the details' own, as typed
  five_fields france_cq_of_details = as_entity("F");
  france_cq_of_details["CQZ"] = "99";
  const struct {
    std::string call;
    details_record details;
    five_fields expected;
  } cases[] = {
      {"F4ABC", {}, as_entity("F")},
      {"TK4ABC", {}, as_entity("TK")},
      {"IT9ABC", {}, as_entity("IT9", "I")},  // starred: Italy's number and name
      {"F4ABC/MM", {}, {{"DXCC", "0"}}},
      {"Q1ABC", {}, {}},
      // Corsica's call, but the details say Italy: Italy's entity throughout.
      {"TK4ABC", {{{"DXCC", "248"}}}, italy_dxcc_of_details},
      // A number that the file does not know: only the details' DXCC.
      {"TK4ABC", {{{"DXCC", "9999"}}}, {{"DXCC", "9999"}}},
      {"F4ABC", {{{"CQZ", "99"}}}, france_cq_of_details},
  };
  ASSERT_EQ(entity("I").dxcc, 248);
  entity_lookup lookup(data_);
  converted_qso converted;
  for (const auto& c : cases) {
    const qso_record qso{"01-02-2026", 905, 930, c.call, "", 14074, "FT8", "Rennes"};
    const details_record* details = c.details.fields.empty() ? nullptr : &c.details;
    const entity_fields& entity =
        lookup.fields(c.call, details != nullptr ? details->find("DXCC") : nullptr);
    convert_qso(qso, "F4XYZ", {}, details, converted, &entity);
    ASSERT_EQ(converted.error, "") << c.call;
    five_fields found;
    for (const adif_field& field : converted.record) {
      if (std::find(entity_fields::kNames.begin(), entity_fields::kNames.end(), field.name) !=
          entity_fields::kNames.end()) {
        EXPECT_TRUE(found.emplace(field.name, field.value).second) << c.call << " " << field.name;
      }
    }
    EXPECT_EQ(found, c.expected) << c.call;
  }
}

// The export counts the calls that only France's generic TO/TX prefixes
// give, and finds the newest QSO for the note on a stale file.
TEST_F(EntityFieldsTest, ExportCountsUncertainCallsAndFindsTheNewestQso) {
  if (data_.prefixes.contains("TO5") || data_.prefixes.contains("TX5")) {
    GTEST_SKIP() << "the file gives TO5 or TX5 an entity of its own";
  }
  std::string text = format_header({"F4XYZ", "01-02-2026"});
  for (const auto& [date, call] : {std::pair{"03-02-2026", "TO5ABC"},
                                   {"09-03-2026", "TX5XYZ"},
                                   {"05-02-2026", "TO5ABC"},
                                   {"01-01-2026", "F4ABC"}}) {
    text += format_qso_line({date, 905, 930, call, "Paul", 14074, "FT8", "Rennes"});
  }
  text_source source(text);
  logbook_reader reader(source);
  entity_lookup lookup(data_);
  export_settings settings;
  settings.entities = &lookup;
  const export_result result = export_logbook(
      reader, settings, [](std::string_view) { return platform::status::success(); },
      [](std::string_view message) { ADD_FAILURE() << message; });
  EXPECT_EQ(result.exported, 4u);
  EXPECT_EQ(result.uncertain_entities, 3u);
  EXPECT_EQ(result.newest, "20260309");
}

// The answers kept by call sign are those the file gives, for calls
// enough to make the table grow, and for calls too long for its slots.
TEST(EntityLookupTest, KeepsEachCallsOwnAnswer) {
  countries::parsed_country_file parsed = countries::parse_country_file(kFewCountriesFile);
  ASSERT_TRUE(parsed.data) << parsed.error;
  const countries::country_data& data = *parsed.data;
  std::vector<std::string> calls = {"", "TK/F4ABCDEFGHIJKLMNOPQRS", "F4ABCDEFGHIJKLMNOPQRSTUV"};
  for (int i = 0; i < 3000; ++i) {
    static constexpr const char* kPrefixes[] = {"F", "TK", "I", "IT9", "TO", "Q", "F4ABC/MM/"};
    calls.push_back(kPrefixes[i % 7] + std::to_string(i % 10) + std::to_string(i));
  }
  entity_lookup lookup(data);
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string& call : calls) {
      const entity_fields expected = fields_for(data, call, nullptr);
      const entity_fields& found = lookup.fields(call, nullptr);
      EXPECT_EQ(found.values, expected.values) << call << " pass " << pass;
      EXPECT_EQ(found.uncertain, expected.uncertain) << call;
    }
  }
}

}  // namespace
}  // namespace velkrin::adif
