#include "adif/logbook_export.hpp"

#include <gtest/gtest.h>

#include "logbook/line_format.hpp"

namespace velkrin::adif {
namespace {

const logbook_header kOwner{"F4ABC", "01-02-2026"};

qso_record qso(std::string date, std::int32_t debut, std::int32_t fin, std::int32_t khz,
               std::string mode) {
  return {std::move(date), debut, fin, "f4xyz", "Helene", khz, std::move(mode), "Saint_Malo"};
}

export_result run(std::string_view text) {
  return export_logbook(text, {"Test", "20260201 120000", {}, ""});
}

TEST(LogbookExportTest, WritesHeaderAndOneRecordPerLine) {
  const std::string text =
      format_header(kOwner) + format_qso_line(qso("31-12-2025", 2350, 10, 7055, "J3E"));
  const export_result result = run(text);
  EXPECT_EQ(result.adif,
            "Test\n<ADIF_VER:5>3.1.4\n<PROGRAMID:7>Velkrin\n<PROGRAMVERSION:" +
                std::to_string(program_version().size()) + ">" + std::string(program_version()) +
                "\n<CREATED_TIMESTAMP:15>20260201 120000\n<EOH>\n"
                "<QSO_DATE:8>20251231 <TIME_ON:4>2350 <QSO_DATE_OFF:8>20260101 <TIME_OFF:4>0010 "
                "<CALL:5>F4XYZ <NAME:6>Helene <FREQ:5>7.055 <BAND:3>40m <MODE:3>SSB "
                "<SUBMODE:3>LSB <MY_CITY:10>Saint Malo <STATION_CALLSIGN:5>F4ABC <EOR>\n");
  EXPECT_EQ(result.exported, 1u);
  EXPECT_EQ(result.reported, 0u);
  EXPECT_TRUE(result.messages.empty());
}

TEST(LogbookExportTest, ReportsEachUnreadableValueWithItsLine) {
  const struct {
    std::string line;
    std::string_view reason;
  } cases[] = {
      {format_qso_line(qso("01-02-2026", 2400, 10, 7055, "J3E")), "heure de debut 2400 invalide"},
      {format_qso_line(qso("01-02-2026", 10, 1260, 7055, "J3E")), "heure de fin 1260 invalide"},
      {format_qso_line(qso("01-02-2026", 10, 20, 0, "J3E")), "frequence 0 kHz invalide"},
      {format_qso_line(qso("01-02-2026", 10, 20, 14070, "j2b")),
       "classe d'emission \"J2B\" inconnue : indiquer son mode avec --mode J2B=MODE[/SOUS_MODE]"},
      {"01-02-2026   abc    930   F4XYZ Helene 7055 kHz J3E Rennes\n",
       "debut \"abc\" n'est pas un nombre entier"},
      {"01-02-2026 905 930 F4XYZ Helene 7055 kHz J3E\n", "ligne non reconnue"},
      {"01-02-2026 905 930 F4XYZ Helene 7055 MHz J3E Rennes\n", "ligne non reconnue"},
  };
  for (const auto& c : cases) {
    const export_result result = run(format_header(kOwner) + c.line +
                                     format_qso_line(qso("01-02-2026", 905, 930, 7055, "J3E")));
    EXPECT_EQ(result.exported, 1u) << c.line;
    ASSERT_EQ(result.messages.size(), 1u) << c.line;
    EXPECT_EQ(result.messages[0].rfind("ligne 7 : " + std::string(c.reason), 0), 0u)
        << c.line << " gave " << result.messages[0];
  }
}

TEST(LogbookExportTest, ReadsValuesWiderThanTheirColumns) {
  const qso_record wide{"1-2-2026",
                        905,
                        2359,
                        "F4ABCDEFGHI",
                        "Jean-Christophe-Charles",
                        1'296'200,
                        "FT4",
                        "Le_Mont-Saint-Michel_et_sa_baie_a_maree_haute"};
  const logbook_contents contents = read_logbook(format_header(kOwner) + format_qso_line(wide));
  ASSERT_EQ(contents.qsos.size(), 1u);
  const qso_record& read = contents.qsos[0].qso;
  EXPECT_EQ(format_qso_line(read), format_qso_line(wide));
  EXPECT_EQ(contents.qsos[0].line, 7u);
}

TEST(LogbookExportTest, EachHeaderBlockGivesTheOwnerOfTheQsosBelowIt) {
  const std::string line = format_qso_line(qso("01-02-2026", 905, 930, 7055, "J3E"));
  // The echo line of a header rewrite, with its accent in CP1252 and in UTF-8
  // (the end-to-end check has CP850 and English), is no QSO.
  const logbook_contents contents =
      read_logbook(line + format_header(kOwner) + "ECHO est activ\xe9.\n" + line +
                   format_header({"F5XYZ", "01-03-2026"}) + line + "ECHO est activ\xc3\xa9.\n");
  ASSERT_EQ(contents.qsos.size(), 3u);
  EXPECT_EQ(contents.qsos[0].owner, "");
  EXPECT_EQ(contents.qsos[1].owner, "F4ABC");
  EXPECT_EQ(contents.qsos[2].owner, "F5XYZ");
  EXPECT_TRUE(contents.unreadable.empty());
  // Without an owner the record has no STATION_CALLSIGN.
  EXPECT_EQ(run(line).adif.find("STATION_CALLSIGN"), std::string::npos);
}

TEST(LogbookExportTest, WarnsAboutCharactersWithoutAsciiLetter) {
  qso_record euro = qso("01-02-2026", 905, 930, 7055, "J3E");
  euro.lieu = "Cafe_\xe2\x82\xac";
  const export_result result = run(format_header(kOwner) + format_qso_line(euro));
  EXPECT_EQ(result.exported, 1u);
  EXPECT_EQ(result.reported, 0u);
  EXPECT_EQ(result.messages,
            std::vector<std::string>{
                "ligne 7 : attention : caractere non ASCII remplace par \"?\" dans MY_CITY"});
  EXPECT_NE(result.adif.find("<MY_CITY:6>Cafe ?"), std::string::npos);
}

}  // namespace
}  // namespace velkrin::adif
