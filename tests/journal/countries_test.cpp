// velkrin-journal with the country file and the supercheck list, in-process
// on real files: the entity indicatif gives, stats --par, and the notes of
// verifie. Expected entities are read from the packaged country file
// (hamradio-files), or VELKRIN_COUNTRY_FILE; the tests skip without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "countries/country_file.hpp"
#include "journal/command_line.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::journal {
namespace {

using testing::read_file;
using testing::write_file;

const logbook_header kOwner{"F5XYZ", "01-01-2020"};

qso_record qso(const std::string& call, int khz, const std::string& mode, int debut = 900) {
  return {"05-02-2023", debut, debut + 5, call, "Jo", khz, mode, "Paris_15"};
}

class JournalCountries : public ::testing::Test {
 protected:
  struct result {
    int status;
    std::string out;
    std::string err;
  };
  void SetUp() override {
    const char* given = std::getenv("VELKRIN_COUNTRY_FILE");
    countries_ = given != nullptr ? given : "/usr/share/hamradio-files/cty.csv";
    const std::string text = read_file(countries_);
    if (text.empty()) GTEST_SKIP() << countries_ << " is missing (hamradio-files)";
    parsed_ = countries::parse_country_file(text);
    ASSERT_TRUE(parsed_.data) << parsed_.error;
    // The list beside the logbook comes before any other.
    write_file(folder_.file("MASTER.SCP"), "# test\nF4ABC\nDL1XYZ\n");
  }
  // Lines 1 to 6 the header, then the QSOs from line 7.
  void write_logbook(const std::vector<qso_record>& qsos) {
    std::string text = format_header(kOwner);
    for (const qso_record& each : qsos) text += format_qso_line(each);
    write_file(logbook_, text);
  }
  result run(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--fichier-pays") == args.end()) {
      args.insert(args.end(), {"--fichier-pays", countries_});
    }
    args.push_back(logbook_);
    std::ostringstream out, err;
    const int status = run_velkrin_journal(args, out, err);
    return {status, out.str(), err.str()};
  }
  // "Pays : Japan (JA), DXCC 339, AS, zone CQ 25, zone ITU 45." as the file
  // has the entity of `call`.
  std::string entity_line(std::string_view call) const {
    const auto found = countries::resolve_call(*parsed_.data, call);
    if (!found || found->entity == nullptr) return "?";
    const countries::country_entity& e = *found->entity;
    return "Pays : " + e.name + " (" + e.prefix + "), DXCC " + std::to_string(e.dxcc) + ", " +
           std::string(found->continent) + ", zone CQ " + std::to_string(found->cq) +
           ", zone ITU " + std::to_string(found->itu);
  }

  testing::temp_folder folder_;
  const std::string logbook_ = folder_.file("journal_de_bord.txt");
  std::string countries_;
  countries::parsed_country_file parsed_;
};

TEST_F(JournalCountries, IndicatifSaysTheEntityAndWhatWouldBeNew) {
  write_logbook({qso("DL1XYZ", 14074, "FT8"), qso("DL2ABC/P", 7020, "A1A", 905),
                 qso("JA1ABC", 21074, "FT8", 910)});
  // Germany confirmed through another station than DL1XYZ; Japan by eQSL
  // alone, which the DXCC does not take.
  write_file(
      details_path_for(logbook_),
      format_details_header(kOwner, "\n") +
          format_details_record(
              details_for(qso("DL2ABC/P", 7020, "A1A", 905), {{"LOTW_QSL_RCVD", "Y"}}), "\n") +
          format_details_record(
              details_for(qso("JA1ABC", 21074, "FT8", 910), {{"EQSL_QSL_RCVD", "Y"}}), "\n"));
  const std::string kWorked = "Pays deja contacte : ";
  const std::string kAnyOther =
      " ; une autre bande ou un autre mode serait nouveau pour ce pays.\n";
  const struct {
    std::string call;
    int status;
    std::string said;
  } cases[] = {
      {"DL1XYZ", kExitSuccess,
       "Pas encore confirme.\n" + entity_line("DL1XYZ") + ".\n" + kWorked +
           "2 QSO, sur 40m et 20m, en CW et donnees" + kAnyOther + "Pays confirme par LoTW.\n"},
      {"DM9ZZ", kExitAnswer,
       entity_line("DM9ZZ") + ".\n" + kWorked + "2 QSO, sur 40m et 20m, en CW et donnees" +
           kAnyOther + "Pays confirme par LoTW.\n"},
      {"JA1XYZ", kExitAnswer,
       entity_line("JA1XYZ") + ".\n" + kWorked + "1 QSO, sur 15m, en donnees" + kAnyOther +
           "Pays confirme par eQSL : ne compte pas pour le DXCC.\n"},
      {"W1AW", kExitAnswer,
       entity_line("W1AW") + ".\nNouveau pays : aucun QSO avec ce pays dans le journal.\n"},
      {"TO9ZZZ", kExitAnswer, entity_line("TO9ZZZ") + " (incertain).\n"},
      {"DL1XYZ/MM", kExitSuccess, "Pays : /MM ou /AM : aucune entite DXCC.\n"},
      {"QQ1ABC", kExitAnswer, "Pays : entite inconnue du fichier des pays.\n"},
  };
  for (const auto& c : cases) {
    const result told = run({"indicatif", c.call});
    EXPECT_EQ(told.status, c.status) << c.call << "\n" << told.err;
    EXPECT_NE(told.out.find("\n" + c.said), std::string::npos) << c.call << "\n" << told.out;
  }
  // Without the country file, the answer is as it always was.
  const result plain = run({"indicatif", "DL1XYZ", "--fichier-pays", folder_.file("absent.csv")});
  EXPECT_EQ(plain.status, kExitFailure);
  EXPECT_NE(plain.err.find("le fichier des pays"), std::string::npos) << plain.err;
}

TEST_F(JournalCountries, StatsCountByEntityOrContinent) {
  const qso_record imported = qso("4U1ABC", 21074, "FT8", 1000);  // Japan, say its details
  write_logbook({qso("DL1XYZ", 14074, "FT8"), qso("DL2ABC", 7020, "A1A", 905),
                 qso("JA1XYZ", 21074, "FT8"), imported, qso("F4ABC/MM", 14200, "J3E")});
  write_file(details_path_for(logbook_),
             format_details_header(kOwner, "\n") +
                 format_details_record(details_for(imported, {{"DXCC", "339"}}), "\n"));
  const std::string full(40, '#');
  const std::string half(20, '#');
  const result continents = run({"stats", "--par", "continent"});
  EXPECT_EQ(continents.status, kExitSuccess) << continents.err;
  EXPECT_TRUE(
      continents.out.ends_with("\n\nPar continent :\n"
                               "Europe            EU  2  " +
                               full + "\n" + "Asie              AS  2  " + full + "\n" +
                               "aucun ou inconnu      1  " + half + "\n"))
      << continents.out;
  // The DXCC field of the details wins over the call: 4U1ABC counts for Japan.
  const result entities = run({"stats", "--par", "pays"});
  EXPECT_NE(entities.out.find("\n\nPar pays (2 entites DXCC) :\n"), std::string::npos)
      << entities.out;
  EXPECT_NE(entities.out.find("  JA  339  2  " + full + "\n"), std::string::npos) << entities.out;
  EXPECT_TRUE(entities.out.ends_with("  1  " + half + "\n")) << entities.out;  // /MM
  EXPECT_EQ(run({"stats", "--par", "pays", "--fichier-pays", folder_.file("absent.csv")}).status,
            kExitFailure);
}

TEST_F(JournalCountries, VerifieNotesEntitiesAllocationsAndTypos) {
  write_logbook({
      qso("DL1XYZ", 1870, "A1A"),        // 7: outside France's 160 m
      qso("DL1XYZ", 1840, "A1A", 905),   // 8
      qso("F4ABC", 7055, "J3E", 910),    // 9
      qso("F4ABC", 7055, "J3E", 915),    // 10
      qso("F4ABD", 7055, "J3E", 920),    // 11: once, one letter from F4ABC
      qso("QQ1ABC", 14074, "FT8", 925),  // 12: no entity
      qso("DL2ABC", 5403, "J3E", 930),   // 13: a 60 m channel of some countries
  });
  const result checked = run({"verifie"});
  EXPECT_EQ(checked.status, kExitSuccess) << checked.err;
  EXPECT_EQ(checked.out,
            "ligne 7 : note : 1 870 kHz : hors des allocations de France metropolitaine (160 m : "
            "1 810 a 1 850 kHz, ARCEP 2012-1241)\n"
            "ligne 12 : note : QQ1ABC ne correspond a aucune entite du fichier des pays\n"
            "ligne 13 : note : 5403 kHz (60m) : hors des allocations de France metropolitaine "
            "(ARCEP 2012-1241) et des bandes amateur de toutes les regions de l'IARU ; seuls "
            "quelques pays attribuent cette bande (licence a verifier)\n"
            "ligne 11 : note : F4ABD n'est pas dans la liste des indicatifs actifs (MASTER.SCP) "
            "; F4ABC, contacte 2 fois, differe d'un caractere\n"
            "Aucun probleme, 4 notes, 7 QSO lus.\n");
}

}  // namespace
}  // namespace velkrin::journal
