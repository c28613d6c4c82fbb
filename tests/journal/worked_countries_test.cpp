// velkrin-journal pays and diplomes, in-process on real files: a small
// logbook whose details carry DXCC, STATE, GRIDSQUARE and confirmations,
// read against the packaged country file (VELKRIN_COUNTRY_FILE names
// another); expected entities and zones are read from that file, so that a
// newer one keeps them true.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "countries/country_file.hpp"
#include "countries/country_source.hpp"
#include "journal/command_line.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::journal {
namespace {

using testing::write_file;

const logbook_header kOwner{"F5XYZ", "01-01-1980"};

struct logged {
  qso_record qso;
  std::vector<details_field> details;  // none: no details record
};

// Lines 7 on, in this order.
const std::vector<logged> kLogbook = {
    {{"05-02-2020", 905, 910, "DL1XYZ", "Hans", 14074, "FT8", "Paris"},
     {{"LOTW_QSL_RCVD", "Y"}}},                                                // 7
    {{"06-02-2020", 1000, 1010, "DL1XYZ", "Hans", 7020, "A1A", "Paris"}, {}},  // 8
    {{"07-02-2020", 1100, 1110, "F4ABC", "Jo", 7055, "J3E", "Paris"},
     {{"STATE", "35"}, {"QSL_RCVD", "Y"}}},                                  // 9
    {{"08-02-2020", 1200, 1210, "F5AAA", "Luc", 3700, "J3E", "Paris"}, {}},  // 10
    // Sicily counts as Italy; eQSL alone confirms nothing for DXCC.
    {{"09-02-2020", 1300, 1310, "IT9ABC", "Gio", 50313, "FT8", "Paris"},
     {{"GRIDSQUARE", "jm77ab"}, {"EQSL_QSL_RCVD", "Y"}}},                                      // 11
    {{"10-02-2020", 1400, 1410, "W1AW", "Bob", 14200, "J3E", "Paris"}, {{"QSL_RCVD", "V"}}},   // 12
    {{"11-02-2020", 1500, 1510, "F5ABC/MM", "Max", 14074, "FT8", "Paris"}, {}},                // 13
    {{"12-02-2020", 1600, 1610, "Q1ABC", "Zed", 14074, "FT8", "Paris"}, {}},                   // 14
    {{"01-03-1985", 1700, 1710, "DM2ABC", "Kurt", 14020, "A1A", "Paris"}, {{"DXCC", "229"}}},  // 15
    {{"13-02-2020", 1800, 1810, "G4ABC", "Tom", 144174, "FT8", "Paris"},
     {{"GRIDSQUARE", "IO91"}, {"LOTW_QSL_RCVD", "Y"}}},  // 16
    // The details' DXCC wins over France's generic TO prefix.
    {{"14-02-2020", 1900, 1910, "TO5ZZZ", "Rene", 14074, "FT8", "Paris"}, {{"DXCC", "63"}}},  // 17
    {{"15-02-2020", 2000, 2010, "TO7ZZZ", "Rene", 14074, "FT8", "Paris"}, {}},                // 18
};

std::string country_file_path() {
  const char* given = std::getenv("VELKRIN_COUNTRY_FILE");
  return given != nullptr ? given : "/usr/share/hamradio-files/cty.csv";
}

class JournalAwards : public ::testing::Test {
 protected:
  struct result {
    int status;
    std::string out;
    std::string err;
  };
  void SetUp() override {
    std::ifstream in(country_file_path(), std::ios::binary);
    if (!in) GTEST_SKIP() << country_file_path() << " is missing (hamradio-files)";
    std::stringstream text;
    text << in.rdbuf();
    parsed_ = countries::parse_country_file(text.str());
    ASSERT_TRUE(parsed_.data) << parsed_.error;
    std::string lines = format_header(kOwner);
    std::string records = format_details_header(kOwner, "\n");
    for (const logged& one : kLogbook) {
      lines += format_qso_line(one.qso);
      if (!one.details.empty()) {
        records += format_details_record(details_for(one.qso, one.details), "\n");
      }
    }
    write_file(logbook_, lines);
    write_file(details_path_for(logbook_), records);
  }
  result run(std::vector<std::string> args) {
    args.insert(args.end(), {"--fichier-pays", country_file_path(), logbook_});
    std::ostringstream out, err;
    const int status = run_velkrin_journal(args, out, err);
    return {status, out.str(), err.str()};
  }
  // The DXCC entity of that number, as the file names it.
  const countries::country_entity& entity(int dxcc) const {
    for (const auto& one : parsed_.data->entities) {
      if (one.dxcc == dxcc && !one.starred) return one;
    }
    ADD_FAILURE() << "no entity " << dxcc;
    return parsed_.data->entities.front();
  }
  // The row of an entity: the line that starts with its prefix and a blank.
  static std::string row_of(const std::string& out, const std::string& prefix) {
    for (std::size_t at = 0; at < out.size();) {
      const std::size_t end = out.find('\n', at);
      const std::string line = out.substr(at, end - at);
      if (line.starts_with(prefix + " ")) return line;
      at = end == std::string::npos ? out.size() : end + 1;
    }
    return {};
  }

  countries::parsed_country_file parsed_;
  testing::temp_folder folder_;
  const std::string logbook_ = folder_.file("journal_de_bord.txt");
};

TEST_F(JournalAwards, PaysListsEntitiesAndCountsTheRestApart) {
  const result listed = run({"pays"});
  ASSERT_EQ(listed.status, kExitSuccess) << listed.err;
  const struct {
    int dxcc;
    std::vector<std::string> shown;  // in the row, in this order
  } kRows[] = {
      {230, {"230", "40m 20m", "CW donnees", "05-02-2020", "oui (LoTW)"}},
      {227, {"227", "80m 40m 20m", "phonie donnees", "07-02-2020", "oui (carte)"}},
      {248, {"248", "6m", "donnees", "09-02-2020", "non (eQSL seul)"}},
      {291, {"291", "NA", "20m", "phonie", "10-02-2020", "oui (carte)"}},
      {223, {"223", "2m", "donnees", "13-02-2020", "oui (LoTW)"}},
      {63, {"63", "SA", "20m", "donnees", "14-02-2020", "non"}},
  };
  for (const auto& expected : kRows) {
    const countries::country_entity& known = entity(expected.dxcc);
    const std::string row = row_of(listed.out, known.prefix);
    ASSERT_NE(row.find(known.name), std::string::npos) << known.prefix << "\n" << listed.out;
    std::size_t at = 0;
    for (const std::string& part : expected.shown) {
      at = row.find(part, at);
      ASSERT_NE(at, std::string::npos) << part << " in: " << row;
    }
  }
  for (const std::string_view said :
       {"\n6 entites DXCC contactees, 4 confirmees (cartes QSL et LoTW ;",
        "\n1 QSO sans entite DXCC (/MM, /AM, ou DXCC=0 dans les details) : compte a part.\n",
        "\n1 QSO avec une entite supprimee dans les details (DXCC=229) : compte a part.\n",
        "\n1 QSO dont l'indicatif ne donne aucun pays : compte a part ;\n"
        "  velkrin-journal verifie les montre.\n",
        "\n1 QSO rattache a la France par ses prefixes TO ou TX"}) {
    EXPECT_NE(listed.out.find(said), std::string::npos) << said << "\n" << listed.out;
  }

  // Band endorsements: C confirmed on that band, W worked only.
  const result grid = run({"pays", "--par-bande"});
  ASSERT_EQ(grid.status, kExitSuccess) << grid.err;
  EXPECT_NE(grid.out.find("Prefixe  Entite"), std::string::npos) << grid.out;
  const struct {
    int dxcc;
    std::string cells;  // 80m 40m 20m 6m 2m, the bands worked
  } kGrid[] = {{230, ".    W    C   .   ."},
               {227, "W    C    W   .   ."},
               {248, ".    .    .   W   ."},
               {223, ".    .    .   .   C"}};
  for (const auto& expected : kGrid) {
    const std::string row = row_of(grid.out, entity(expected.dxcc).prefix);
    EXPECT_TRUE(row.ends_with(expected.cells)) << row << "\n" << grid.out;
  }

  const result source = run({"pays", "--source"});
  EXPECT_EQ(source.out, "Fichier des pays : " + country_file_path() +
                            "\nVersion : " + countries::version_date(parsed_.data->version) + "\n");
}

TEST_F(JournalAwards, DiplomesCountsEachAwardByItsOwnConfirmations) {
  const result summary = run({"diplomes"});
  ASSERT_EQ(summary.status, kExitSuccess) << summary.err;
  // Zones as the file gives them: DL, F and G share one, confirmed by LoTW
  // and a card; Sicily's own (eQSL only), W1AW's (card) and French
  // Guiana's (from the details' DXCC).
  const auto zone_of = [&](std::string_view call) {
    return countries::resolve_call(*parsed_.data, call)->entity != nullptr
               ? countries::resolve_call(*parsed_.data, call)->cq
               : 0;
  };
  std::set<int> worked = {zone_of("DL1XYZ"), zone_of("IT9ABC"), zone_of("W1AW"), entity(63).cq};
  const std::set<int> confirmed = {zone_of("DL1XYZ"), zone_of("W1AW")};
  std::string unconfirmed;
  for (const int zone : worked) {
    if (!confirmed.contains(zone)) unconfirmed += " " + std::to_string(zone);
  }
  for (const std::string& said : std::vector<std::string>{
           "DXCC (entites) : 6 contactees, 4 confirmees, sur ",
           "WAZ (zones CQ) : " + std::to_string(worked.size()) + " contactees, " +
               std::to_string(confirmed.size()) + " confirmees, sur 40\n",
           "  a confirmer :" + unconfirmed + "\n",
           // LoTW does not count for WAC: Europe by F4ABC's card.
           "WAC (continents) : 3 contactes, 2 confirmes, sur 6\n  manquants : AF AS OC\n"
           "  a confirmer : SA\n",
           "DDFM (departements) : 1 contacte, 1 confirme, sur 96\n",
           "  2 QSO avec la France ou la Corse sans departement (STATE) : lignes 10, 18\n",
           "  6m : 1 contacte, 0 confirme\n  2m : 1 contacte, 1 confirme\n"}) {
    EXPECT_NE(summary.out.find(said), std::string::npos) << said << "\n" << summary.out;
  }
  const std::size_t ddfm = summary.out.find("DDFM");
  EXPECT_NE(summary.out.find(" 34 36 ", ddfm), std::string::npos) << "35 is worked";

  const struct {
    std::string award;
    std::string row;
  } kInFull[] = {
      {"departements", "35    Ille-et-Vilaine          confirme  07-02-2020   F4ABC"},
      {"wac", "SA         contacte  14-02-2020   TO5ZZZ        17"},
      {"LOCATORS", "6m     JM77   contacte  09-02-2020   IT9ABC        11"},
  };
  for (const auto& c : kInFull) {
    const result full = run({"diplomes", "--diplome", c.award});
    EXPECT_EQ(full.status, kExitSuccess) << full.err;
    EXPECT_NE(full.out.find(c.row), std::string::npos) << c.award << "\n" << full.out;
  }
  const result all = run({"diplomes", "--diplome", "dxcc"});
  EXPECT_NE(row_of(all.out, entity(230).prefix).find("confirmee"), std::string::npos);
  EXPECT_NE(row_of(all.out, entity(260).prefix).find("manquante"), std::string::npos) << all.out;
}

TEST_F(JournalAwards, FailsWithoutCountryDataOrWithAnUnknownAward) {
  std::ostringstream out, err;
  const std::vector<std::string> missing = {"pays", "--fichier-pays", folder_.file("absent.csv"),
                                            logbook_};
  EXPECT_EQ(run_velkrin_journal(missing, out, err), kExitFailure);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str().find("Erreur : "), 0u) << err.str();

  const result unknown = run({"diplomes", "--diplome", "IOTA"});
  EXPECT_EQ(unknown.status, kExitFailure);
  EXPECT_NE(unknown.err.find("--diplome attend DXCC, WAZ, WAC, DDFM ou LOCATORS, pas \"IOTA\""),
            std::string::npos)
      << unknown.err;
}

}  // namespace
}  // namespace velkrin::journal
