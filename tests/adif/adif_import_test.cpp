#include "adif/adif_import.hpp"

#include <gtest/gtest.h>

#include "adif/logbook_import.hpp"
#include "logbook/line_format.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin::adif {
namespace {

// A record from "NAME=value;NAME=value".
adif_read_record record_of(std::string_view fields) {
  adif_read_record record;
  record.ordinal = 1;
  record.line = 1;
  while (!fields.empty()) {
    const auto end = fields.find(';');
    const std::string_view field = fields.substr(0, end);
    const auto equals = field.find('=');
    record.fields.push_back(
        {std::string(field.substr(0, equals)), std::string(field.substr(equals + 1))});
    fields = end == std::string_view::npos ? std::string_view() : fields.substr(end + 1);
  }
  return record;
}

constexpr std::string_view kBase =
    "QSO_DATE=20260201;TIME_ON=090515;CALL=F5ABC;FREQ=14.0745;MODE=FT8;MY_GRIDSQUARE=JN18;";

TEST(AdifImportTest, RecordsBecomeTheLinesVelkrinWrites) {
  const struct {
    std::string fields, expected;  // the line without its end, or the reason
  } cases[] = {
      {std::string(kBase),
       "01-02-2026    905    905       F5ABC       -                14075 kHz   FT8    JN18"},
      {"QSO_DATE=19991231;TIME_ON=2359;TIME_OFF=0001;CALL=k1abc/p;NAME= Jean Luc ;FREQ=7,0555;"
       "MODE=SSB;SUBMODE=LSB;MY_CITY=Saint Malo;MY_GRIDSQUARE=IN88",
       "31-12-1999   2359    1         k1abc/p     Jean_Luc          7056 kHz   J3E    Saint_Malo"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=W1AW;NAME=Andr\xe9;FREQ=144.3;MODE=CW;MY_CITY=Caen",
       "01-02-2026   1200    1200      W1AW        Andr\xc3\xa9          144300 kHz   A1A    "
       "Caen"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=F4ABCDEFGHIJ;FREQ=10368.1;MODE=MFSK;SUBMODE=FT4;"
       "MY_CITY=Un_lieu_bien_plus_long_que_sa_colonne",
       "01-02-2026   1200    1200      F4ABCDEFGHIJ   -               10368100 kHz   FT4    "
       "Un_lieu_bien_plus_long_que_sa_colonne"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=K1;MODE=CW", "champ manquant : FREQ, non importe"},
      {"CALL=K1", "champs manquants : QSO_DATE, TIME_ON, FREQ, MODE, non importe"},
      {"QSO_DATE=20260230;TIME_ON=1200;CALL=K1;FREQ=7;MODE=CW",
       "QSO_DATE invalide (\"20260230\"), non importe"},
      {"QSO_DATE=20260201;TIME_ON=1260;CALL=K1;FREQ=7;MODE=CW",
       "TIME_ON invalide (\"1260\"), non importe"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=K1;FREQ=0.0004;MODE=CW",
       "FREQ invalide (\"0.0004\"), non importe"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=W1AW;FREQ=7;MODE=CW",
       "pas de lieu d'emission (ni MY_CITY ni MY_GRIDSQUARE), non importe ; --lieu-par-defaut "
       "LIEU pour l'importer"},
      {std::string(kBase) + "STATION_CALLSIGN=F5XYZ",
       "indicatif de la station F5XYZ, pas celui du journal (F4ABC), non importe ; "
       "--autre-indicatif pour l'importer"},
      // Windows-1252 text: its punctuation and letters, not C1 controls (and
      // its five unassigned bytes, C1 controls under Windows, become "_").
      {std::string(kBase) + "NAME=Fran\x9C"
                            "oise;MY_CITY=Saint-L\x92\xE9"
                            "an_\x80\x93\x94\x96\x81",
       "01-02-2026    905    905       F5ABC       Fran\xc5\x93oise       14075 kHz   FT8    "
       "Saint-L\xe2\x80\x99\xc3\xa9\x61n_\xe2\x82\xac\xe2\x80\x9c\xe2\x80\x9d\xe2\x80\x93_"},
      // What the export would refuse is not written.
      {std::string(kBase) + "NAME=\xc2\x9b"
                            "31m",
       "01-02-2026    905    905       F5ABC       _31m             14075 kHz   FT8    JN18"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=F4HAL/;FREQ=7;MODE=CW;MY_CITY=Caen",
       "CALL invalide (\"F4HAL/\" ; lettres, chiffres et /, au moins une lettre et un chiffre), "
       "non importe"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=F5 ABC;FREQ=7;MODE=CW;MY_CITY=Caen",
       "CALL invalide (\"F5 ABC\" ; lettres, chiffres et /, au moins une lettre et un chiffre), "
       "non importe"},
      {"QSO_DATE=20260201;TIME_ON=1200;CALL=F5\x1b[2J\x07;FREQ=7;MODE=CW;MY_CITY=Caen",
       "CALL invalide (\"F5^[[2J^G\" ; lettres, chiffres et /, au moins une lettre et un chiffre), "
       "non importe"},
      // The owner operating portable is the owner (the rest of the rule is
      // is_owner_station's).
      {std::string(kBase) + "STATION_CALLSIGN=f4abc/p",
       "01-02-2026    905    905       F5ABC       "
       "-                14075 kHz   FT8    JN18"},
  };
  const import_settings settings{"F4ABC", {}, "", false};
  for (const auto& c : cases) {
    const imported_qso got = import_record(record_of(c.fields), settings);
    const std::string shown =
        got.qso ? std::string(trim_right(format_qso_line(*got.qso, ""))) : got.reason;
    EXPECT_EQ(shown, c.expected) << c.fields;
  }
}

TEST(AdifImportTest, StationAndPlace) {
  const auto other =
      import_record(record_of(std::string(kBase) + "OPERATOR=F5XYZ"), {"F4ABC", {}, "", true});
  EXPECT_TRUE(other.qso);
  const auto city =
      import_record(record_of(std::string(kBase) + "MY_CITY=Paris"), {"F4ABC", {}, "Lyon", false});
  ASSERT_TRUE(city.qso);
  EXPECT_EQ(city.qso->lieu, "Paris");
}

// The details keep every field but those the line and its header give back
// exactly, so that the export can give each one back.
TEST(AdifImportTest, DetailsKeepWhatTheLineCannotGiveBack) {
  // A case's fields come first: the defaults after them are repeats.
  constexpr std::string_view kDefaults =
      "QSO_DATE=20260201;TIME_ON=0905;CALL=F5ABC;FREQ=14.074;MODE=FT8;MY_CITY=Rennes";
  const struct {
    std::string fields;
    std::string kept;  // beyond the key, as "NAME=value;...", and TIME_ON with seconds
  } cases[] = {
      {"", ""},
      {"RST_SENT=-10;GRIDSQUARE=JO62;COMMENT= ;APP_LOTW_RXQSL=2026-02-01 10:11:12",
       "RST_SENT=-10;GRIDSQUARE=JO62;APP_LOTW_RXQSL=2026-02-01 10:11:12"},
      {"NAME= Jean ", ""},
      {"NAME=Fran\x9c"
       "oise",
       ""},
      {"NAME=Jos\xe9 Luis", "NAME=Jos\xc3\xa9 Luis"},
      {"NAME=-", ""},
      {"FREQ=14.07400", ""},
      {"FREQ=14,074", ""},
      {"FREQ=14.074123", "FREQ=14.074123"},
      {"TIME_ON=090515", "TIME_ON=090515"},
      {"MODE=MFSK;SUBMODE=FT4", ""},
      {"MODE=SSB;SUBMODE=LSB", "SUBMODE=LSB"},
      {"TIME_OFF=0910", ""},
      {"TIME_OFF=091030", "TIME_OFF=091030"},
      {"TIME_ON=2359;TIME_OFF=0001;QSO_DATE_OFF=20260202", ""},
      {"QSO_DATE_OFF=20260201", "QSO_DATE_OFF=20260201"},
      {"STATION_CALLSIGN=f4abc;OPERATOR=F4ABC", "OPERATOR=F4ABC"},
      {"STATION_CALLSIGN=F4ABC/P", "STATION_CALLSIGN=F4ABC/P"},
      {"MY_CITY=Saint Malo;MY_GRIDSQUARE=IN88", "MY_CITY=Saint Malo;MY_GRIDSQUARE=IN88"},
      {"MY_CITY=IN88", "MY_CITY=IN88"},
      {"MY_CITY= ;MY_GRIDSQUARE=JN18", ""},
      {"MY_CITY= ;MY_GRIDSQUARE=JN18 ab", "MY_GRIDSQUARE=JN18 ab"},
      {"COMMENT=a;COMMENT=b;\xc3\x89TAT=x", "COMMENT=a"},
  };
  for (const auto& c : cases) {
    const adif_read_record record = record_of(
        c.fields.empty() ? std::string(kDefaults) : c.fields + ";" + std::string(kDefaults));
    const imported_qso imported = import_record(record, {"F4ABC", {}, "", false});
    ASSERT_TRUE(imported.qso) << c.fields << ": " << imported.reason;
    const details_record details = details_of(record, *imported.qso, "F4ABC");
    std::string kept;
    for (const auto& field : details.fields) {
      if (is_key_field(field.name) && (field.name != "TIME_ON" || field.value.size() == 4) &&
          field.name != "SUBMODE") {
        continue;
      }
      kept += (kept.empty() ? "" : ";") + field.name + "=" + field.value;
    }
    EXPECT_EQ(kept, c.kept) << c.fields;
    EXPECT_EQ(details.fields.empty(), c.kept.empty()) << c.fields;
    if (!details.fields.empty()) {
      EXPECT_EQ(details.key(), details_key_of(*imported.qso)) << c.fields;
    }
  }
  // Fields given twice and names the ASCII export cannot write are said.
  const imported_qso twice =
      import_record(record_of("COMMENT=a;COMMENT=b;\xc3\x89TAT=x;" + std::string(kDefaults)),
                    {"F4ABC", {}, "", false});
  EXPECT_EQ(twice.dropped, (std::vector<std::string>{"COMMENT", "\xc3\x89TAT"}));
}

// The export's comparison without a string of its own says what comparing
// logbook_word's string says, ASCII or not.
TEST(AdifImportTest, ReadsAsWordAgreesWithLogbookWord) {
  const struct {
    std::string_view value, word;
    bool reads;
  } cases[] = {{"Jean", "Jean", true},
               {" Jean\t", "Jean", true},
               {"Jean Pierre", "Jean_Pierre", true},
               {"a\tb\x7f"
                "c",
                "a_b_c", true},
               {"", "-", true},
               {"   ", "-", true},
               {"-", "-", true},
               {"Jean", "Jea", false},
               {"Jea", "Jean", false},
               {"JN03", "jn03", false},
               {"H\xc3\xa9l\xc3\xa8ne", "H\xc3\xa9l\xc3\xa8ne", true},
               {"H\xe9l\xe8ne", "H\xc3\xa9l\xc3\xa8ne", true},
               {"x\xc2\x85y", "x_y", true},
               {"H\xc3\xa9l\xc3\xa8ne", "Helene", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(reads_as_word(c.value, c.word), c.reads) << c.value;
    EXPECT_EQ(logbook_word(c.value) == c.word, c.reads) << c.value;
  }
}

// Whatever the class, the export gives back the record's mode and submode.
TEST(AdifImportTest, ClassesExportToTheSameModeAndSubmode) {
  class_table classes;
  ASSERT_FALSE(add_class("psk31=J2B", classes));
  EXPECT_TRUE(add_class("PSK31", classes));
  const struct {
    std::string_view mode, submode, expected;
  } cases[] = {{"SSB", "", "J3E"},
               {"SSB", "USB", "J3E"},
               {"cw", "", "A1A"},
               {"AM", "", "A3E"},
               {"FM", "", "F3E"},
               {"RTTY", "", "F1B"},
               {"FT8", "", "FT8"},
               {"MFSK", "FT4", "FT4"},
               {"FT4", "", "FT4"},
               {"PSK", "PSK31", "J2B"},
               {"PSK", "PSK250", "PSK/PSK250"},
               {"JT65", "JT65B", "JT65/JT65B"},
               {"SSTV", "", "SSTV"},
               {"USB", "", "J3E"}};
  for (const auto& c : cases) {
    const std::string emission_class = class_of(c.mode, c.submode, classes);
    EXPECT_EQ(emission_class, c.expected) << c.mode << "/" << c.submode;
    if (c.expected == "J2B") continue;
    const auto exported = mode_of(emission_class, 14074, {});
    ASSERT_TRUE(exported) << emission_class;
    if (exported->mode != "SSB") {
      const auto wanted = parse_adif_mode(std::string(c.mode) +
                                          (c.submode.empty() ? "" : "/" + std::string(c.submode)));
      EXPECT_EQ(*exported, *wanted) << emission_class;
    }
  }
}

TEST(AdifImportTest, FrequenciesEndpointsAndAdifFiles) {
  const struct {
    std::string_view mhz;
    std::int32_t khz;  // 0 for none
  } frequencies[] = {{"14.074", 14074},
                     {"14.0745", 14075},
                     {"14.07449", 14074},
                     {"7", 7000},
                     {".5", 500},
                     {"0.0004", 0},
                     {"-7", 0},
                     {"7.0.1", 0},
                     {"abc", 0},
                     {"", 0},
                     {"2147483.647", 2147483647},
                     {"2147483.648", 0}};
  for (const auto& f : frequencies) EXPECT_EQ(khz_of_mhz(f.mhz).value_or(0), f.khz) << f.mhz;

  const struct {
    std::string_view text;
    bool ok;
    std::uint32_t address;
    std::uint16_t port;
  } endpoints[] = {
      {"2237", true, 0x7f000001, 2237},     {"224.0.0.73:2238", true, 0xe0000049, 2238},
      {"localhost:9", true, 0x7f000001, 9}, {"0.0.0.0:2237", true, 0, 2237},
      {"256.0.0.1:2237", false, 0, 0},      {"1.2.3:2237", false, 0, 0},
      {"127.0.0.1:", false, 0, 0},          {"127.0.0.1:65536", false, 0, 0},
      {"host:2237", false, 0, 0},           {"0", false, 0, 0}};
  for (const auto& e : endpoints) {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    EXPECT_EQ(parse_endpoint(e.text, address, port), e.ok) << e.text;
    if (e.ok) {
      EXPECT_EQ(std::pair(address, port), std::pair(e.address, e.port)) << e.text;
    }
  }

  EXPECT_TRUE(looks_like_adif("<call:5>F4ABC<eor>"));
  EXPECT_TRUE(looks_like_adif("Export\n<ADIF_VER:5>3.1.4<eoh>"));
  EXPECT_FALSE(looks_like_adif(format_header({"F4ABC", "01-02-2026"})));
  EXPECT_FALSE(looks_like_adif("01-02-2026 <pas de champ>"));
}

}  // namespace
}  // namespace velkrin::adif
