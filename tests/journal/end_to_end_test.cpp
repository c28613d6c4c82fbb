// velkrin-journal run as a program on a logbook that velkrin itself wrote.
// VELKRIN_PROGRAM and VELKRIN_JOURNAL_PROGRAM (with VELKRIN_LAUNCHER before
// each) choose other builds, so that the Windows programs run the same cases
// under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/run_program.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::testing {
namespace {

std::vector<std::string> journal_command(const std::vector<std::string>& args) {
  return program_command(VELKRIN_JOURNAL_DEFAULT_PROGRAM, "VELKRIN_JOURNAL_PROGRAM", args);
}

// CR LF on a Windows console, LF elsewhere.
std::string without_cr(std::string text) {
  std::erase(text, '\r');
  return text;
}

class JournalEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // A header, then three QSOs typed at velkrin's prompts, the third a
    // portable form of the first station.
    const std::string input =
        "4\n1\nF5XYZ 01-01-2026\n1\n0\n"
        "1\n01-02-2026 0905 930 F4ABC Andr\xc3\xa9 7055 J3E Paris_15\n1\n1\n"
        "02-02-2026 1200 1210 DL1XYZ Hans 14074 FT8 Lyon\n1\n1\n"
        "03-02-2026 2359 5 f4abc/p - 14010 A1A Brest\n1\n0\n5\n";
    const program_run created =
        run_program(program_command(VELKRIN_DEFAULT_PROGRAM), folder_.path().string(), input);
    ASSERT_EQ(created.status, 0);
  }
  program_run journal(const std::vector<std::string>& args) {
    return run_program(journal_command(args), folder_.path().string(), "");
  }
  temp_folder folder_;
};

TEST_F(JournalEndToEnd, ReadsWhatVelkrinWrote) {
  const program_run listed = journal({"liste", "--court"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.err, "");
  EXPECT_NE(without_cr(listed.out)
                .find("01-02-2026  09:05  09:30  F4ABC        7055  40m    "
                      "LSB (J3E)"),
            std::string::npos)
      << listed.out;

  const program_run worked = journal({"indicatif", "F4ABC/M", "journal_de_bord.txt"});
  EXPECT_EQ(worked.status, 0);
  EXPECT_TRUE(without_cr(worked.out).starts_with("F4ABC : 2 QSO, du 01-02-2026 au 03-02-2026.\n"))
      << worked.out;
  EXPECT_EQ(journal({"indicatif", "G4AAA"}).status, 1);

  const program_run checked = journal({"verifie"});
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(without_cr(checked.out),
            "ligne 9 : note : fin avant le debut (passe minuit ?)\n"
            "Aucun probleme, 1 note, 3 QSO lus.\n");
  EXPECT_EQ(journal({"doublons"}).status, 0);
}

// A QSO typed in velkrin gets its reports, then is corrected and removed,
// each time through a copy renamed over the logbook.
TEST_F(JournalEndToEnd, TypedQsoIsCompletedCorrectedAndRemoved) {
  const program_run completed = journal({"complete", "7", "RST_SENT=59", "rst_rcvd=57"});
  EXPECT_EQ(completed.status, 0) << completed.err;
  EXPECT_NE(without_cr(journal({"fiche", "7"}).out).find("Report recu                 RST_RCVD"),
            std::string::npos);
  EXPECT_NE(journal({"csv"}).out.find(",F5XYZ,7,59,57,,,,,,,,,,,,,,\n"), std::string::npos);
  const program_run exported =
      run_program(program_command(VELKRIN_ADIF_DEFAULT_PROGRAM, "VELKRIN_ADIF_PROGRAM",
                                  {"-o", "-", "journal_de_bord.txt"}),
                  folder_.path().string(), "");
  // The details' fields, before the DXCC entity's when a country file is found.
  EXPECT_NE(exported.out.find("<RST_SENT:2>59 <RST_RCVD:2>57 <"), std::string::npos)
      << exported.out << exported.err;

  const program_run corrected = journal({"corrige", "7", "indicatif=F4ABD"});
  EXPECT_EQ(corrected.status, 0) << corrected.err;
  EXPECT_NE(without_cr(corrected.out).find("\napres : 01-02-2026    905    930       F4ABD "),
            std::string::npos)
      << corrected.out;
  EXPECT_NE(journal({"csv"}).out.find(",F4ABD,"), std::string::npos);
  EXPECT_NE(journal({"csv"}).out.find(",F5XYZ,7,59,57,,,,,,,,,,,,,,\n"), std::string::npos);

  EXPECT_EQ(journal({"supprime", "8"}).status, 0);
  const program_run checked = journal({"verifie"});
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_EQ(without_cr(checked.out),
            "ligne 8 : note : fin avant le debut (passe minuit ?)\n"
            "Aucun probleme, 1 note, 2 QSO lus.\n");
}

// pays, indicatif and the export give each QSO the same entity, on QSOs
// typed into velkrin and on QSOs imported with details (a DXCC field there
// wins over the call: TO5ABC is in French Guiana, not France).
TEST_F(JournalEndToEnd, PaysIndicatifAndExportAgreeOnEntities) {
  std::ofstream(folder_.path() / "qsos.adi")
      << "import\n<EOH>\n"
         "<CALL:6>IT9ABC<QSO_DATE:8>20260203<TIME_ON:4>1000<FREQ:6>14.200<MODE:3>SSB<EOR>\n"
         "<CALL:6>TO5ABC<QSO_DATE:8>20260204<TIME_ON:4>1100<FREQ:6>14.020<MODE:2>CW"
         "<DXCC:2>63<QSL_RCVD:1>Y<EOR>\n";
  const auto adif = [&](const std::vector<std::string>& args) {
    return run_program(program_command(VELKRIN_ADIF_DEFAULT_PROGRAM, "VELKRIN_ADIF_PROGRAM", args),
                       folder_.path().string(), "");
  };
  ASSERT_EQ(adif({"--importe", "qsos.adi", "--lieu-par-defaut", "Paris"}).status, 0);
  const program_run listed = journal({"pays"});
  if (listed.status == 2) GTEST_SKIP() << "no country file: " << listed.err;
  const std::string pays = without_cr(listed.out);
  EXPECT_NE(pays.find("\n4 entites DXCC contactees, 1 confirmee"), std::string::npos) << pays;
  // Each call as the export gives it, then as pays and indicatif do.
  const std::string exported = adif({"-o", "-"}).out;
  for (const auto& [call, dxcc] : std::vector<std::pair<std::string, std::string>>{
           {"F4ABC", "227"}, {"DL1XYZ", "230"}, {"IT9ABC", "248"}, {"TO5ABC", "63"}}) {
    const std::size_t at = exported.find("<CALL:" + std::to_string(call.size()) + ">" + call);
    ASSERT_NE(at, std::string::npos) << call;
    EXPECT_EQ(exported.find("<DXCC:", at),
              exported.find("<DXCC:" + std::to_string(dxcc.size()) + ">" + dxcc, at))
        << call << "\n"
        << exported;
    EXPECT_NE(pays.find(" " + dxcc + "  "), std::string::npos) << call << "\n" << pays;
    EXPECT_NE(without_cr(journal({"indicatif", call}).out).find(", DXCC " + dxcc + ","),
              std::string::npos)
        << call;
  }
}

// A LoTW report in the shape LoTW writes (its header, APP_LoTW_ fields, a
// call worked twice in a day, a busted call) is recorded, and pays and
// diplomes count what it confirms.
TEST_F(JournalEndToEnd, LotwReportConfirmsForPaysAndDiplomes) {
  const auto adif = [&](const std::vector<std::string>& args) {
    return run_program(program_command(VELKRIN_ADIF_DEFAULT_PROGRAM, "VELKRIN_ADIF_PROGRAM", args),
                       folder_.path().string(), "");
  };
  std::ofstream(folder_.path() / "qsos.adi")
      << "import\n<EOH>\n"
         "<CALL:5>W1ABC<QSO_DATE:8>20260205<TIME_ON:4>1430<FREQ:6>14.200<MODE:3>SSB<EOR>\n"
         "<CALL:5>W1ABC<QSO_DATE:8>20260205<TIME_ON:4>1512<FREQ:6>14.210<MODE:3>SSB<EOR>\n";
  ASSERT_EQ(adif({"--importe", "qsos.adi", "--lieu-par-defaut", "Paris"}).status, 0);
  const auto lotw_record = [](const std::string& call, const std::string& date,
                              const std::string& time, const std::string& band,
                              const std::string& mode) {
    const auto field = [](const std::string& name, const std::string& value) {
      return "<" + name + ":" + std::to_string(value.size()) + ">" + value + "\n";
    };
    return field("APP_LoTW_OWNCALL", "F5XYZ") + field("STATION_CALLSIGN", "F5XYZ") +
           field("CALL", call) + field("BAND", band) + field("MODE", mode) +
           field("QSO_DATE", date) + field("TIME_ON", time) + field("QSL_RCVD", "Y") +
           field("QSLRDATE", "20260301") + field("APP_LoTW_RXQSL", "2026-03-01 10:00:00") +
           "<eor>\n\n";
  };
  std::ofstream(folder_.path() / "lotwreport.adi")
      << "ARRL Logbook of the World Status Report\nGenerated at 2026-03-02 08:00:00\n"
         "for f5xyz\n\n<PROGRAMID:4>LoTW\n<APP_LoTW_LASTQSL:19>2026-03-01 10:00:00\n"
         "<APP_LoTW_NUMREC:1>4\n<eoh>\n\n"
      << lotw_record("W1ABC", "20260205", "143000", "20M", "SSB")
      << lotw_record("W1ABC", "20260205", "151000", "20M", "SSB")
      << lotw_record("DL1XYZ", "20260202", "120000", "20M", "FT8")
      << lotw_record("DL1XYA", "20260202", "130000", "20M", "FT8");
  const program_run confirmed = adif({"--confirmations", "lotwreport.adi"});
  EXPECT_EQ(confirmed.status, 1) << confirmed.err;
  EXPECT_NE(confirmed.err.find("DL1XYA le 02-02-2026 a 13:00, 20m, DATA ; le plus proche : ligne "
                               "8 : DL1XYZ"),
            std::string::npos)
      << confirmed.err;
  EXPECT_NE(confirmed.err.find("LoTW : 3 confirmations nouvelles"), std::string::npos);

  const program_run listed = journal({"pays"});
  if (listed.status == 2) GTEST_SKIP() << "no country file: " << listed.err;
  EXPECT_NE(without_cr(listed.out).find("\n3 entites DXCC contactees, 2 confirmees"),
            std::string::npos)
      << listed.out;
  EXPECT_NE(
      without_cr(journal({"diplomes"}).out).find("DXCC (entites) : 3 contactees, 2 confirmees"),
      std::string::npos);
}

// A reader whose output waits on a pager that nobody reads keeps velkrin
// waiting for nothing: a QSO confirmed meanwhile is recorded at once.
TEST_F(JournalEndToEnd, ReaderWaitingOnItsOutputKeepsVelkrinWaitingForNothing) {
  const std::string path = folder_.file("journal_de_bord.txt");
  std::string text = read_file(path);
  const std::string last_line = text.substr(text.rfind('\n', text.size() - 2) + 1);
  for (int n = 0; n < 12000; ++n) text += last_line;  // liste streams past 10,000
  write_file(path, text);
  for (const std::string command : {"csv", "liste"}) {
    stalled_program reader(journal_command({command}), folder_.path().string());
    ASSERT_TRUE(reader.wait_until_stalled()) << command;
    const auto [run, kept_waiting] =
        run_beside(reader, program_command(VELKRIN_DEFAULT_PROGRAM), folder_.path().string(),
                   "1\n04-02-2026 1000 1010 G4AAA Bill 3700 J3E Paris\n1\n0\n5\n");
    EXPECT_FALSE(kept_waiting) << command << " kept velkrin waiting";
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(run.err, "") << command;
  }
  text = read_file(path);
  EXPECT_NE(text.find("G4AAA"), text.rfind("G4AAA")) << "not both QSOs recorded";
}

TEST_F(JournalEndToEnd, CsvIsWrittenAsBytesAndNeverOverAFile) {
  const program_run to_output = journal({"csv", "--excel"});
  EXPECT_EQ(to_output.status, 0);
  EXPECT_TRUE(
      to_output.out.starts_with("\xef\xbb\xbf"
                                "date;debut;fin;"));
  EXPECT_NE(to_output.out.find("01/02/2026;09:05;09:30;F4ABC;Andr\xc3\xa9;7055;7,055;40m;SSB;LSB;"
                               "J3E;Paris 15;F5XYZ;7;;;;;;;;;;;;;;;;\r\n"),
            std::string::npos)
      << to_output.out;
  EXPECT_EQ(to_output.out.find("\r\r"), std::string::npos);

  EXPECT_EQ(journal({"csv", "-o", "qso.csv"}).status, 0);
  const std::string written = read_file(folder_.file("qso.csv"));
  EXPECT_TRUE(
      written.ends_with("2026-02-03,23:59,00:05,F4ABC/P,,14010,14.01,20m,CW,,A1A,Brest,"
                        "F5XYZ,9,,,,,,,,,,,,,,,,\n"))
      << written;
  const program_run refused = journal({"csv", "-o", "qso.csv"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(without_cr(refused.err),
            "Erreur : \"qso.csv\" existe deja ; --force pour le remplacer.\n");
  EXPECT_EQ(journal({"csv", "-o", "qso.csv", "--force", "--derniers", "1"}).status, 0);
  EXPECT_EQ(read_file(folder_.file("qso.csv")).find("F4ABC,Andr"), std::string::npos);

  const program_run missing = journal({"stats", "absent.txt"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(without_cr(missing.err)
                  .starts_with("Erreur : le journal de bord \"absent.txt\" n'a "
                               "pas pu etre lu ("));
}

}  // namespace
}  // namespace velkrin::testing
