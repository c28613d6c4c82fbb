#include "countries/country_source.hpp"

#include <gtest/gtest.h>

#include "countries/worked_entities.hpp"

namespace velkrin::countries {
namespace {

TEST(CountrySource, LooksBesideTheLogbookThenTheProgramThenTheSystem) {
  const std::vector<std::string> places =
      country_file_candidates(std::nullopt, "/home/op/radio/journal_de_bord.txt", "/opt/velkrin/");
  ASSERT_GE(places.size(), 2u);
  EXPECT_EQ(places[0], "/home/op/radio/cty.csv");
  EXPECT_EQ(places[1], "/opt/velkrin/cty.csv");
#ifndef _WIN32
  EXPECT_EQ(places.back(), kSystemCountryFile);
#endif
  EXPECT_EQ(country_file_candidates(std::nullopt, "journal.txt", "")[0], "cty.csv");
  // A file named on the command line is the only one looked at.
  EXPECT_EQ(country_file_candidates("autre.csv", "journal.txt", "/opt/"),
            std::vector<std::string>{"autre.csv"});
  // The supercheck list, which no option names, the same way.
  const std::vector<std::string> lists =
      supercheck_candidates("/home/op/radio/journal_de_bord.txt", "/opt/velkrin/");
  ASSERT_GE(lists.size(), 2u);
  EXPECT_EQ(lists[0], "/home/op/radio/MASTER.SCP");
  EXPECT_EQ(lists[1], "/opt/velkrin/MASTER.SCP");
#ifndef _WIN32
  EXPECT_EQ(lists.back(), kSystemSupercheckFile);
#endif
}

TEST(CountrySource, SaysOnceTheDataIsMoreThanAYearOld) {
  country_source source{"cty.csv", {}};
  source.data.version = "20230502";
  EXPECT_EQ(stale_data_note(source, "20240502"), "");
  EXPECT_NE(stale_data_note(source, "20240503").find("02-05-2023"), std::string::npos);
  source.data.version.clear();
  EXPECT_EQ(stale_data_note(source, "20990101"), "");
}

TEST(WorkedEntities, TellsANewEntityBandOrModeGroup) {
  worked_entities worked;
  const auto group = [](std::string_view mode) { return mode_group_of(mode); };
  EXPECT_TRUE(worked.would_be(227, "20m", group("CW")).new_entity);
  worked.add(227, "20m", group("SSB"));
  const struct {
    std::string_view band, mode;
    bool new_band, new_mode;
  } kCases[] = {
      {"20m", "USB", false, false}, {"20M", "FM", false, false}, {"40m", "SSB", true, false},
      {"20m", "CW", false, true},   {"20m", "FT8", false, true}, {"", "", false, false},
  };
  for (const auto& c : kCases) {
    const novelty told = worked.would_be(227, c.band, group(c.mode));
    EXPECT_FALSE(told.new_entity);
    EXPECT_EQ(told.new_band, c.new_band) << c.band << " " << c.mode;
    EXPECT_EQ(told.new_mode, c.new_mode) << c.band << " " << c.mode;
  }
}

}  // namespace
}  // namespace velkrin::countries
