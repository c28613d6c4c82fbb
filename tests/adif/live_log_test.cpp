// The live log driven in-process, datagram by datagram: what it tells of
// each QSO's DXCC entity against the entities worked in the logbook.
#include "adif/live_log.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "logbook/line_format.hpp"
#include "support/temp_folder.hpp"
#include "test_country_file.hpp"
#include "wsjtx/datagram_builder.hpp"

namespace velkrin::adif {
namespace {

// A "Logged ADIF" datagram of one QSO of F4XYZ.
std::string logged(std::string_view call, std::string_view time, std::string_view mhz,
                   std::string_view mode) {
  const auto field = [](std::string_view name, std::string_view value) {
    return "<" + std::string(name) + ":" + std::to_string(value.size()) + ">" + std::string(value) +
           " ";
  };
  const std::string adif = "<EOH>" + field("CALL", call) + field("MODE", mode) +
                           field("QSO_DATE", "20260201") + field("TIME_ON", time) +
                           field("FREQ", mhz) + field("STATION_CALLSIGN", "F4XYZ") +
                           field("MY_GRIDSQUARE", "JN18") + "<EOR>";
  return wsjtx::testing::datagram().header(12).utf8(adif).bytes();
}

TEST(LiveLogTest, TellsANewEntityBandOrModeAgainstTheLogbook) {
  const velkrin::testing::temp_folder folder;
  const std::string logbook = folder.file("journal_de_bord.txt");
  velkrin::testing::write_file(logbook, format_header({"F4XYZ", "01-01-2026"}) +
                                            format_qso_line({"05-01-2026", 1200, 1205, "F5AAA",
                                                             "Paul", 14074, "FT8", "JN18"}));
  countries::parsed_country_file parsed = countries::parse_country_file(kFewCountriesFile);
  ASSERT_TRUE(parsed.data) << parsed.error;
  const countries::country_source source{"cty.csv", std::move(*parsed.data)};
  command_options options;
  options.logbook = logbook;
  std::ostringstream out, err;
  live_log log(options, &source, out, err);
  ASSERT_FALSE(log.start());

  const struct {
    std::string datagram;
    std::string_view told;  // after "QSO inscrit : ..."
  } cases[] = {
      {logged("F4BBB", "0900", "14.074", "FT8"), ""},
      {logged("TK4ABC", "0901", "14.074", "FT8"), " ; nouveau pays ! (Corsica)"},
      {logged("TK4XYZ", "0902", "14.074", "FT8"), ""},  // Corsica is worked since
      {logged("F4CCC", "0903", "7.074", "FT8"), " ; nouvelle bande pour ce pays (France)"},
      {logged("F4DDD", "0904", "14.020", "CW"), " ; nouveau mode pour ce pays (France)"},
      {logged("F4EEE", "0905", "3.700", "SSB"),
       " ; nouvelle bande pour ce pays, nouveau mode pour ce pays (France)"},
      {logged("IT9ABC", "0906", "14.074", "FT8"), " ; nouveau pays ! (Italy)"},
      {logged("I1ABC", "0907", "14.074", "FT8"), ""},  // Sicily counts as Italy
      {logged("F4ABC/MM", "0908", "14.074", "FT8"), ""},
      {logged("TO5ABC", "0909", "14.074", "FT8"),
       " ; pays a verifier (indicatif TO/TX rattache a la France par defaut)"},
      {logged("Q1ABC", "0910", "14.074", "FT8"), ""},
  };
  for (const auto& c : cases) {
    out.str("");
    log.take(c.datagram);
    const std::string line = out.str();
    EXPECT_TRUE(line.starts_with("QSO inscrit : ")) << line << err.str();
    const std::size_t end = line.find(" kHz, ");
    ASSERT_NE(end, std::string::npos) << line;
    // The mode, then what is told.
    const std::size_t mode_end = line.find_first_of(" \n", end + 6);
    EXPECT_EQ(line.substr(mode_end), std::string(c.told) + "\n") << line;
  }
  EXPECT_FALSE(log.lost_a_qso()) << err.str();
}

}  // namespace
}  // namespace velkrin::adif
