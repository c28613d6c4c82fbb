#include "adif/confirmations.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "adif/command_line.hpp"
#include "logbook/details_file.hpp"
#include "logbook/line_format.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::adif {
namespace {

using velkrin::testing::read_file;
using velkrin::testing::temp_folder;
using velkrin::testing::write_file;

const logbook_header kOwner{"F4ABC", "01-01-2026"};
// Lines 7 to 10 of the logbook: W1ABC worked twice in a day, VK2XYZ with
// details of its own, and DL1ABD, a mistyped DL1ABC.
const qso_record kQsos[] = {
    {"05-01-2026", 1430, 1440, "W1ABC", "John", 14200, "J3E", "Paris"},
    {"05-01-2026", 1512, 1520, "W1ABC", "John", 14210, "J3E", "Paris"},
    {"10-01-2026", 612, 620, "VK2XYZ", "Bob", 7018, "A1A", "Paris"},
    {"11-01-2026", 2000, 2001, "DL1ABD", "Hans", 14074, "FT8", "Paris"},
};

// A LoTW report in the shape LoTW writes: its header, APP_LoTW_ fields,
// comments after values, a QSO it lists without confirmation.
const std::string kLotwReport =
    "ARRL Logbook of the World Status Report\nGenerated at 2026-02-03 10:00:00\nfor f4abc\n"
    "Query:\n    QSL ONLY: NO\n\n<PROGRAMID:4>LoTW\n\n<APP_LoTW_LASTQSL:19>2026-02-02 09:00:00\n\n"
    "<APP_LoTW_NUMREC:1>5\n\n<eoh>\n\n"
    "<APP_LoTW_OWNCALL:5>F4ABC\n<STATION_CALLSIGN:5>F4ABC\n<CALL:5>W1ABC\n<BAND:3>20M\n"
    "<FREQ:8>14.20000\n<MODE:3>SSB\n<APP_LoTW_MODEGROUP:5>PHONE\n<QSO_DATE:8>20260105\n"
    "<TIME_ON:6>143000\n<QSL_RCVD:1>Y\n<QSLRDATE:8>20260201 // QSL Rcvd Date\n"
    "<APP_LoTW_RXQSL:19>2026-02-01 08:00:00 // QSL record matched/modified at LoTW\n"
    "<DXCC:3>291 // UNITED STATES OF AMERICA\n<GRIDSQUARE:4>FN31\n<STATE:2>CT\n"
    "<CNTY:11>CT,HARTFORD\n<CQZ:2>05\n<ITUZ:2>08\n<eor>\n\n"
    "<APP_LoTW_OWNCALL:5>F4ABC\n<STATION_CALLSIGN:5>F4ABC\n<CALL:5>W1ABC\n<BAND:3>20M\n"
    "<MODE:3>SSB\n<APP_LoTW_MODEGROUP:5>PHONE\n<QSO_DATE:8>20260105\n<TIME_ON:6>151000\n"
    "<QSL_RCVD:1>Y\n<QSLRDATE:8>20260202\n<APP_LoTW_RXQSL:19>2026-02-02 09:00:00\n<eor>\n\n"
    "<APP_LoTW_OWNCALL:5>F4ABC\n<STATION_CALLSIGN:7>F4ABC/P\n<CALL:6>VK2XYZ\n<BAND:3>40M\n"
    "<MODE:2>CW\n<QSO_DATE:8>20260110\n<TIME_ON:4>0612\n<QSL_RCVD:1>Y\n<QSLRDATE:8>20260115\n"
    "<APP_LoTW_RXQSL:19>2026-01-15 21:30:00\n<DXCC:3>150\n<GRIDSQUARE:4>QF44\n<CQZ:2>30\n<eor>\n\n"
    "<APP_LoTW_OWNCALL:5>F4ABC\n<STATION_CALLSIGN:5>F4ABC\n<CALL:6>DL1ABC\n<BAND:3>20M\n"
    "<MODE:4>MFSK\n<SUBMODE:3>FT4\n<APP_LoTW_MODEGROUP:4>DATA\n<QSO_DATE:8>20260111\n"
    "<TIME_ON:6>200100\n<QSL_RCVD:1>Y\n<QSLRDATE:8>20260120\n<eor>\n\n"
    "<APP_LoTW_OWNCALL:5>F4ABC\n<STATION_CALLSIGN:5>F4ABC\n<CALL:5>G4XYZ\n<BAND:3>20M\n"
    "<MODE:3>SSB\n<QSO_DATE:8>20260112\n<TIME_ON:4>1000\n<QSL_RCVD:1>N\n<eor>\n";

class ConfirmationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logbook_ = folder_.file("journal_de_bord.txt");
    details_ = folder_.file("journal_de_bord.details.adi");
    report_ = folder_.file("lotwreport.adi");
    std::string text = format_header(kOwner);
    for (const auto& qso : kQsos) text += format_qso_line(qso);
    write_file(logbook_, text);
    write_file(details_,
               format_details_header(kOwner, "\n") +
                   format_details_record(
                       details_for(kQsos[2], {{"GRIDSQUARE", "QF56"}, {"RST_SENT", "599"}}), "\n"));
  }
  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.push_back(logbook_);
    return run_velkrin_adif(args, out_, err_);
  }
  // The details of the QSO of kQsos[i], as the commands read them.
  std::optional<details_record> details_of(std::size_t i) {
    details_reader reader;
    reader.open(logbook_);
    reader.load(&kOwner);
    const details_record* found = reader.find(*details_key_of(kQsos[i]));
    return found ? std::optional(*found) : std::nullopt;
  }
  static std::string value(const std::optional<details_record>& record, std::string_view name) {
    const std::string* found = record ? record->find(name) : nullptr;
    return found ? *found : "(absent)";
  }

  temp_folder folder_;
  std::string logbook_, details_, report_;
  std::ostringstream out_, err_;
};

TEST_F(ConfirmationsTest, LotwReportFillsTheLotwFieldsOnceAndNamesTheMistypedCall) {
  write_file(report_, kLotwReport);
  const std::string logbook_before = read_file(logbook_);
  ASSERT_EQ(run({"--confirmations", report_}), kExitLinesReported) << err_.str();
  EXPECT_EQ(err_.str(),
            "Sans QSO : enregistrement 4 (ligne 63) : DL1ABC le 11-01-2026 a 20:01, 20m, DATA ; "
            "le plus proche : ligne 10 : DL1ABD le 11-01-2026 a 20:00, 20m, FT8\n"
            "Un indicatif mal saisi se corrige avec velkrin-journal corrige LIGNE indicatif=..., "
            "puis en relisant ce rapport.\n"
            "LoTW : 3 confirmations nouvelles, 0 deja connue, 1 sans QSO, 1 QSO non confirme "
            "ignore.\n"
            "Prochain telechargement LoTW : qso_qslsince=2026-02-02 (derniere confirmation "
            "connue : 2026-02-02 09:00:00).\n");
  EXPECT_EQ(read_file(logbook_), logbook_before);

  const auto first = details_of(0);  // same start as the report's
  EXPECT_EQ(value(first, "LOTW_QSL_RCVD"), "Y");
  EXPECT_EQ(value(first, "LOTW_QSLRDATE"), "20260201");
  EXPECT_EQ(value(first, "QSL_RCVD"), "(absent)");  // the paper card's field
  EXPECT_EQ(value(first, "DXCC"), "291");
  EXPECT_EQ(value(first, "CNTY"), "CT,HARTFORD");
  EXPECT_EQ(value(first, "APP_VELKRIN_CLASS"), "J3E");  // a new record has its key
  const auto second = details_of(1);                    // two minutes from the report's start
  EXPECT_EQ(value(second, "LOTW_QSLRDATE"), "20260202");
  EXPECT_EQ(value(second, "DXCC"), "(absent)");
  const auto own = details_of(2);
  EXPECT_EQ(value(own, "GRIDSQUARE"), "QF56");  // the operator's value stays
  EXPECT_EQ(value(own, "RST_SENT"), "599");
  EXPECT_EQ(value(own, "CQZ"), "30");
  EXPECT_FALSE(details_of(3));
  EXPECT_NE(read_file(details_).find("<APP_VELKRIN_LOTW_LAST_QSL:19>2026-02-02 09:00:00\n<EOH>"),
            std::string::npos);

  // Downloads overlap: the same report again writes nothing.
  const std::string details_before = read_file(details_);
  const auto written = std::filesystem::last_write_time(details_);
  ASSERT_EQ(run({"--confirmations", report_}), kExitLinesReported);
  EXPECT_NE(err_.str().find("LoTW : 0 confirmation nouvelle, 3 deja connues, 1 sans QSO"),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(read_file(details_), details_before);
  EXPECT_EQ(std::filesystem::last_write_time(details_), written);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 3);

  // A later download moves the remembered date on, in place of the old one.
  std::string later = kLotwReport;
  later.replace(later.find("2026-02-02 09:00:00\n<eor>"), 19, "2026-02-05 07:00:00");
  write_file(report_, later);
  ASSERT_EQ(run({"--confirmations", report_}), kExitLinesReported);
  EXPECT_NE(err_.str().find("qso_qslsince=2026-02-05"), std::string::npos) << err_.str();
  const std::string header = read_file(details_).substr(0, read_file(details_).find("<EOH>"));
  EXPECT_EQ(header.find("2026-02-02 09:00:00"), std::string::npos) << header;
  EXPECT_NE(header.find("<APP_VELKRIN_LOTW_LAST_QSL:19>2026-02-05 07:00:00\n"), std::string::npos);
  EXPECT_EQ(value(details_of(1), "LOTW_QSLRDATE"), "20260202");
}

TEST_F(ConfirmationsTest, SimulationShowsTheChangesAndWritesNothing) {
  write_file(report_, kLotwReport);
  const std::string details_before = read_file(details_);
  ASSERT_EQ(run({"--confirmations", report_, "--simulation"}), kExitLinesReported);
  EXPECT_EQ(out_.str().substr(0, out_.str().find('\n')),
            "ligne 7 : W1ABC le 05-01-2026 a 14:30, 20m, J3E : LOTW_QSL_RCVD=Y, "
            "LOTW_QSLRDATE=20260201, DXCC=291, CQZ=05, ITUZ=08, GRIDSQUARE=FN31, STATE=CT, "
            "CNTY=CT,HARTFORD");
  EXPECT_NE(err_.str().find("3 confirmations nouvelles, 0 deja connue, 1 sans QSO, 1 QSO non "
                            "confirme ignore (simulation, rien n'est ecrit)."),
            std::string::npos)
      << err_.str();
  EXPECT_EQ(read_file(details_), details_before);
}

TEST_F(ConfirmationsTest, EqslInboxRecordsTheCardAndTheReportItGave) {
  write_file(report_,
             "Received eQSLs for F4ABC\nfor QSOs between 01-Jan-2026 and 31-Jan-2026\n"
             "<PROGRAMID:21>eQSL.cc DownloadInBox\n<EOH>\n"
             "<CALL:5>W1ABC<QSO_DATE:8>20260105<TIME_ON:4>1430<BAND:3>20M<MODE:3>SSB"
             "<RST_SENT:2>57<QSL_SENT:1>Y<QSL_SENT_VIA:1>E<QSLMSG:7>Tnx QSO<GRIDSQUARE:6>FN31PR"
             "<EOR>\n");
  ASSERT_EQ(run({"--confirmations", report_}), kExitAllExported) << err_.str();
  EXPECT_EQ(err_.str(), "eQSL : 1 confirmation nouvelle, 0 deja connue, 0 sans QSO.\n");
  const auto record = details_of(0);
  EXPECT_EQ(value(record, "EQSL_QSL_RCVD"), "Y");
  EXPECT_EQ(value(record, "EQSL_QSLRDATE").size(), 8u);  // the inbox gives none: today
  EXPECT_EQ(value(record, "RST_RCVD"), "57");
  for (const char* name : {"RST_SENT", "GRIDSQUARE", "QSL_SENT", "QSLMSG", "QSL_RCVD"}) {
    EXPECT_EQ(value(record, name), "(absent)") << name;
  }
}

// A report whose origin or station is not certain writes nothing.
TEST_F(ConfirmationsTest, RefusesAReportItCannotTrust) {
  const std::string plain =
      "<STATION_CALLSIGN:5>F4ABC<CALL:5>W1ABC<BAND:3>20M<MODE:3>SSB<QSO_DATE:8>20260105"
      "<TIME_ON:4>1430<QSL_RCVD:1>Y<EOR>\n";
  std::string other = kLotwReport;
  other.replace(other.find("<STATION_CALLSIGN:5>F4ABC"), 25, "<STATION_CALLSIGN:8>TK/F4ABC");
  const struct {
    std::string report;
    std::vector<std::string> options;
    std::string message;
  } kCases[] = {
      {plain, {}, "ne dit pas s'il vient de LoTW ou d'eQSL"},
      {kLotwReport, {"--service", "eqsl"}, "est un rapport LoTW, pas eQSL"},
      {other, {}, "confirme des QSO de TK/F4ABC, pas de F4ABC"},
      {kLotwReport, {"--service", "qrz"}, "--service attend lotw ou eqsl"},
  };
  const std::string details_before = read_file(details_);
  for (const auto& c : kCases) {
    write_file(report_, c.report);
    std::vector<std::string> args{"--confirmations", report_};
    args.insert(args.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(run(args), kExitFailure) << c.message;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_EQ(read_file(details_), details_before) << c.message;
  }
  // Told where it comes from, the plain file is read.
  write_file(report_, plain);
  EXPECT_EQ(run({"--confirmations", report_, "--service", "lotw"}), kExitAllExported) << err_.str();
}

TEST(Confirmations, PairsTheNearestAndNeverOneQsoTwice) {
  // Confirmation 0 at 14:30 and 1 at 14:40; QSOs at 14:31 (0) and 14:50 (1).
  EXPECT_EQ(match_candidates({{0, 0, 1}, {1, 0, 9}, {1, 1, 10}, {0, 1, 20}}, 2),
            (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(match_candidates({{0, 0, 5}, {1, 0, 0}}, 3), (std::vector<std::int64_t>{-1, 0, -1}));
}

TEST(Confirmations, CallsOneCharacterApart) {
  const struct {
    const char* a;
    const char* b;
    bool apart;
  } kCases[] = {{"DL1ABC", "DL1ABD", true},  {"DL1ABC", "DL1AB", true},
                {"DL1ABC", "DL11ABC", true}, {"DL1ABC", "DL1BAC", true},
                {"DL1ABC", "DL1ABC", false}, {"DL1ABC", "DL2ABD", false},
                {"DL1ABC", "DL1A", false},   {"W1AB", "W1BA", true}};
  for (const auto& c : kCases) {
    EXPECT_EQ(one_character_apart(c.a, c.b), c.apart) << c.a << " " << c.b;
    EXPECT_EQ(one_character_apart(c.b, c.a), c.apart) << c.b << " " << c.a;
  }
}

}  // namespace
}  // namespace velkrin::adif
