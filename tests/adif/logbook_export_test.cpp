#include "adif/logbook_export.hpp"

#include <gtest/gtest.h>

#include "logbook/line_format.hpp"
#include "logbook/logbook_reader.hpp"

namespace velkrin::adif {
namespace {

const logbook_header kOwner{"F4ABC", "01-02-2026"};

qso_record qso(std::string date, std::int32_t debut, std::int32_t fin, std::int32_t khz,
               std::string mode) {
  return {std::move(date), debut, fin, "f4xyz", "Helene", khz, std::move(mode), "Saint_Malo"};
}

struct export_output {
  std::string adif;
  std::size_t exported = 0;
  std::size_t reported = 0;
  std::vector<std::string> messages;
};

export_settings test_settings() {
  export_settings settings;
  settings.description = "Test";
  settings.created = "20260201 120000";
  return settings;
}

export_output run(std::string_view text, const export_settings& settings = test_settings()) {
  text_source source(text);
  logbook_reader reader(source);
  export_output output;
  const export_result result = export_logbook(
      reader, settings,
      [&](std::string_view piece) {
        output.adif += piece;
        return platform::status::success();
      },
      [&](std::string_view message) { output.messages.emplace_back(message); });
  output.exported = result.exported;
  output.reported = result.reported;
  return output;
}

TEST(LogbookExportTest, WritesHeaderAndOneRecordPerLine) {
  const std::string text =
      format_header(kOwner) + format_qso_line(qso("31-12-2025", 2350, 10, 7055, "J3E"));
  const export_output result = run(text);
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
    const export_output result = run(format_header(kOwner) + c.line +
                                     format_qso_line(qso("01-02-2026", 905, 930, 7055, "J3E")));
    EXPECT_EQ(result.exported, 1u) << c.line;
    ASSERT_EQ(result.messages.size(), 1u) << c.line;
    EXPECT_EQ(result.messages[0].rfind("ligne 7 : " + std::string(c.reason), 0), 0u)
        << c.line << " gave " << result.messages[0];
  }
}

TEST(LogbookExportTest, QsosWithoutAnOwnerHaveNoStationCallsign) {
  const std::string line = format_qso_line(qso("01-02-2026", 905, 930, 7055, "J3E"));
  const export_output result = run(line + format_header(kOwner) + line);
  EXPECT_EQ(result.exported, 2u);
  const auto second = result.adif.find("<EOR>");
  EXPECT_EQ(result.adif.find("STATION_CALLSIGN"), result.adif.find("STATION_CALLSIGN", second));
}

TEST(LogbookExportTest, LeavesOutCallSignsNoServiceAcceptsAndKeysTypedAtThePrompt) {
  for (const std::string call : {"?", "-F5ABC-", ":45", "F5XY\x1b[DZ", "F4ABC/"}) {
    qso_record bad = qso("01-02-2026", 905, 930, 7055, "J3E");
    bad.indicatif = call;
    const export_output result = run(format_header(kOwner) + format_qso_line(bad));
    EXPECT_EQ(result.exported, 0u) << call;
    ASSERT_EQ(result.messages.size(), 1u) << call;
    EXPECT_TRUE(result.messages[0].starts_with("ligne 7 : ")) << result.messages[0];
  }
}

// A place that is a locator (WSJT-X gives only that) says where the station
// was; anything else is a city.
TEST(LogbookExportTest, PlacesThatAreLocatorsAreGridSquares) {
  const struct {
    std::string_view place, field;
  } cases[] = {{"JN37ki", "<MY_GRIDSQUARE:6>JN37ki "},
               {"JN18", "<MY_GRIDSQUARE:4>JN18 "},
               {"JN37KI55", "<MY_GRIDSQUARE:8>JN37KI55 "},
               {"JN37K", "<MY_CITY:5>JN37K "},
               {"JS18", "<MY_CITY:4>JS18 "},
               {"JN18KY", "<MY_CITY:6>JN18KY "},
               {"Paris_15", "<MY_CITY:8>Paris 15 "}};
  for (const auto& c : cases) {
    qso_record located = qso("01-02-2026", 905, 930, 7055, "J3E");
    located.lieu = c.place;
    const export_output result = run(format_header(kOwner) + format_qso_line(located));
    EXPECT_NE(result.adif.find(c.field), std::string::npos) << c.place << "\n" << result.adif;
  }
}

TEST(LogbookExportTest, KeepsOnlyTheDaysAskedFor) {
  std::string text = format_header(kOwner);
  for (const char* date : {"30-01-2026", "01-02-2026", "02-02-2026", "03-02-2026"}) {
    text += format_qso_line(qso(date, 905, 930, 7055, "J3E"));
  }
  export_settings settings = test_settings();
  settings.from = calendar_date{2026, 2, 1};
  settings.to = calendar_date{2026, 2, 2};
  const export_output result = run(text, settings);
  EXPECT_EQ(result.exported, 2u);
  EXPECT_EQ(result.reported, 0u);
  EXPECT_EQ(result.adif.find("20260130"), std::string::npos);
  EXPECT_EQ(result.adif.find("20260203"), std::string::npos);
}

TEST(LogbookExportTest, WarnsAboutCharactersWithoutAsciiLetter) {
  qso_record euro = qso("01-02-2026", 905, 930, 7055, "J3E");
  euro.lieu = "Cafe_\xe2\x82\xac";
  const export_output result = run(format_header(kOwner) + format_qso_line(euro));
  EXPECT_EQ(result.exported, 1u);
  EXPECT_EQ(result.reported, 0u);
  EXPECT_EQ(result.messages,
            std::vector<std::string>{
                "ligne 7 : attention : caractere non ASCII remplace par \"?\" dans MY_CITY"});
  EXPECT_NE(result.adif.find("<MY_CITY:6>Cafe ?"), std::string::npos);
}

// The export converts every QSO into one converted_qso: nothing of a QSO
// may stay for the next, whatever their shapes.
TEST(LogbookExportTest, AConversionReusedFromQsoToQsoGivesWhatAFreshOneGives) {
  const details_record full{{{"CALL", "F4XYZ"},
                             {"TIME_ON", "090512"},
                             {"NAME", "H\xc3\xa9l\xc3\xa8ne Marie"},
                             {"FREQ", "7.05512"},
                             {"RST_SENT", "59"},
                             {"COMMENT", "tr\xc3\xa8s bon \xe2\x82\xac"},
                             {"\xc3\x89TAT", "x"},
                             {"MY_GRIDSQUARE", "IN88"},
                             {"QSL_SENT", "Y"}}};
  const details_record short_one{{{"MODE", "MFSK"}, {"SUBMODE", "FT4"}, {"NOTES", "a"}}};
  qso_record named = qso("01-02-2026", 905, 930, 7055, "J3E");
  named.prenom = "H\xc3\xa9l\xc3\xa8ne_Marie";
  qso_record bad_time = named;
  bad_time.fin = 975;
  qso_record located = qso("02-02-2026", 2350, 5, 14074, "FT8");
  located.lieu = "IN88";
  const struct {
    const qso_record* line;
    const details_record* details;
  } sequence[] = {{&named, &full},   {&located, nullptr},  {&bad_time, &full},
                  {&located, &full}, {&named, &short_one}, {&located, &short_one},
                  {&named, &full},   {&named, nullptr}};
  const auto shown = [](const converted_qso& converted) {
    std::string text = converted.error + "|";
    append_adif_record(converted.record, "\n", text);
    for (const auto name : converted.replaced) text.append("?").append(name);
    for (const auto name : converted.left_out) text.append("!").append(name);
    return text;
  };
  converted_qso reused;
  for (std::size_t i = 0; i < std::size(sequence); ++i) {
    const auto& [line, details] = sequence[i];
    convert_qso(*line, "F4ABC", {}, details, reused);
    EXPECT_EQ(shown(reused), shown(convert_qso(*line, "F4ABC", {}, details))) << i;
  }
}

}  // namespace
}  // namespace velkrin::adif
