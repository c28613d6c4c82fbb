// velkrin-adif --importe and --ecoute, run as built: logbooks made by velkrin
// itself, ADIF files in the shapes other programs write, and datagrams built
// from the protocol's layout. VELKRIN_ADIF_PROGRAM (with VELKRIN_LAUNCHER
// before it) runs another build of velkrin-adif against the same cases.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "adif/test_country_file.hpp"
#include "support/live_programs.hpp"
#include "support/run_program.hpp"
#include "support/temp_folder.hpp"
#include "wsjtx/datagram_builder.hpp"

namespace velkrin::testing {
namespace {

// velkrin's standard input that records one QSO, G4AAA, and ends.
const std::string kRecordOneQso = "1\n04-02-2026 1000 1010 G4AAA Bill 3700 J3E Paris\n1\n0\n5\n";

std::vector<std::string> adif_command(std::vector<std::string> args) {
  return program_command(VELKRIN_ADIF_PROGRAM, "VELKRIN_ADIF_PROGRAM", args);
}

std::string without_cr(std::string text) {
  std::erase(text, '\r');
  return text;
}

// The QSO lines of a logbook (after its six header lines).
std::string qso_lines(const std::string& logbook) {
  std::size_t at = 0;
  for (int line = 0; line < 6 && at != std::string::npos; ++line) {
    at = logbook.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  return at == std::string::npos ? "" : logbook.substr(at);
}

class ImportEndToEnd : public ::testing::Test {
 protected:
  // A logbook of `owner` made with velkrin, with the QSOs typed (one answer
  // line each), in `folder` (the test's own by default).
  void make_logbook(const std::vector<std::string>& qsos, const std::string& folder = "",
                    const std::string& owner = "F4ABC") {
    std::string answers = "4\n1\n" + owner + " 01-02-2026\n1\n0\n";
    for (std::size_t i = 0; i < qsos.size(); ++i) {
      answers +=
          (i == 0 ? "1\n" : "") + qsos[i] + "\n1\n" + (i + 1 < qsos.size() ? "1\n" : "0\n0\n");
    }
    answers += "0\n";
    const auto run = run_program({VELKRIN_DEFAULT_PROGRAM},
                                 folder.empty() ? folder_.path().string() : folder, answers);
    ASSERT_EQ(run.status, 0) << run.out;
  }
  // Its messages with LF line ends, as Windows' CR LF are taken back.
  program_run adif(std::vector<std::string> args) {
    program_run run = run_program(adif_command(std::move(args)), folder_.path().string(), "");
    run.out = without_cr(run.out);
    run.err = without_cr(run.err);
    return run;
  }
  std::string logbook() const { return read_file(folder_.file("journal_de_bord.txt")); }

  temp_folder folder_;
};

TEST_F(ImportEndToEnd, ExportedThenImportedGivesTheSameLinesAndASecondImportNothing) {
  const std::vector<std::string> typed = {
      "01-02-2026 0905 930 DL1XYZ Hans 7055 J3E Paris_15",
      "31-12-2025 2350 10 K1ABC/P - 14025 A1A Saint_Malo",
      "02-02-2026 0 5 EA3XYZ Pau 14074 FT8 JN18",
      "02-02-2026 1200 1201 G4ABC Bob 7047 FT4 Le_Conquet",
      "03-02-2026 1300 1310 ON4XYZ Luc 145500 F3E Namur",
      "03-02-2026 1400 1410 VK2ABCDEFGH Un_prenom_tres_long 28120 A3E "
      "Un_lieu_bien_plus_long_que_sa_colonne",
      "03-02-2026 1500 1510 W1AW Hiram 3580 F1B Caen",
      "03-02-2026 1600 1610 JA1ABC Taro 50313 JT9 Lyon"};
  make_logbook(typed);
  const auto exported = adif({"-o", "export.adi"});
  ASSERT_EQ(exported.status, 0) << exported.err;

  temp_folder other;
  make_logbook({}, other.path().string());
  std::filesystem::copy_file(other.file("journal_de_bord.txt"), folder_.file("vide.txt"));
  const auto imported = adif({"--importe", "export.adi", "vide.txt"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_NE(imported.err.find("8 QSO importes, 0 doublon ignore, 0 enregistrement signale."),
            std::string::npos)
      << imported.err;
  EXPECT_EQ(read_file(folder_.file("vide.txt")), logbook());

  const auto again = adif({"--importe", "export.adi", "vide.txt"});
  EXPECT_EQ(again.status, 0);
  EXPECT_NE(again.err.find("0 QSO importe, 8 doublons ignores"), std::string::npos) << again.err;
  EXPECT_EQ(read_file(folder_.file("vide.txt")), logbook());
}

// An export whose output waits on a pager that nobody reads keeps velkrin
// waiting for nothing: a QSO confirmed meanwhile is recorded at once.
TEST_F(ImportEndToEnd, ExportWaitingOnItsOutputKeepsVelkrinWaitingForNothing) {
  make_logbook({"01-02-2026 0905 930 DL1XYZ Hans 7055 J3E Paris_15"});
  std::string text = logbook();
  const std::string last_line = text.substr(text.rfind('\n', text.size() - 2) + 1);
  for (int n = 0; n < 3000; ++n) text += last_line;
  write_file(folder_.file("journal_de_bord.txt"), text);
  stalled_program exporter(adif_command({"-o", "-"}), folder_.path().string());
  ASSERT_TRUE(exporter.wait_until_stalled());
  const auto [run, kept_waiting] =
      run_beside(exporter, {VELKRIN_DEFAULT_PROGRAM}, folder_.path().string(), kRecordOneQso);
  EXPECT_FALSE(kept_waiting) << "the export kept velkrin waiting";
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::string after = logbook();
  EXPECT_NE(after.find("G4AAA", after.size() - 106), std::string::npos) << "not recorded last";
}

TEST_F(ImportEndToEnd, ReadsTheFilesOtherProgramsWrite) {
  const struct {
    std::string name, adi;
    std::vector<std::string> args;
    int status;
    std::string lines;    // added to the logbook, each trimmed of its blanks
    std::string message;  // found on standard error
  } cases[] = {
      {"WSJT-X",
       "WSJT-X ADIF Export\n<adif_ver:5>3.1.1\n<programid:6>WSJT-X\n<EOH>\n"
       "<call:6>DL1XYZ <gridsquare:4>JO62 <mode:3>FT8 <rst_sent:3>-10 <rst_rcvd:3>-12 "
       "<qso_date:8>20260201 <time_on:6>090515 <qso_date_off:8>20260201 <time_off:6>090630 "
       "<band:3>20m <freq:9>14.075215 <station_callsign:5>F4ABC <my_gridsquare:6>JN18du "
       "<eor>\n",
       {},
       0,
       "01-02-2026 905 906 DL1XYZ - 14075 kHz FT8 JN18du\n",
       "1 QSO importe, 0 doublon ignore, 0 enregistrement signale."},
      {"LoTW report, CR LF, type indicators, another station",
       "ARRL Logbook of the World Status Report\r\n<PROGRAMID:4>LoTW\r\n<eoh>\r\n"
       "<CALL:5>W1ABC\r\n<BAND:3>20M\r\n<FREQ:8>14.20000\r\n<MODE:3>SSB\r\n<QSO_DATE:8:D>20250510"
       "\r\n<TIME_ON:6>143000\r\n<QSL_RCVD:1>Y\r\n<STATION_CALLSIGN:5>F4ABC\r\n<eor>\r\n"
       "<CALL:5>W2ABC\r\n<FREQ:5>7.030\r\n<MODE:2>CW\r\n<QSO_DATE:8>20250511\r\n<TIME_ON:4>0100"
       "\r\n<STATION_CALLSIGN:6>TM4ABC\r\n<eor>\r\n",
       {"--lieu-par-defaut", "Rennes"},
       1,
       "10-05-2025 1430 1430 W1ABC - 14200 kHz J3E Rennes\n",
       "enregistrement 2 (ligne 13) : indicatif de la station TM4ABC, pas celui du journal "
       "(F4ABC)"},
      {"no header, mixed case, application fields, characters counted, --classe",
       "<Call:5>EA8XY<Name:4>Jos\xc3\xa9 <freq:7>3.57300<MODE:3>PSK<submode:5>PSK31"
       "<QSO_date:8>20260301<Time_On:4>2000<My_City:7>Quimper<APP_LOGGER_ID:3>x17<eOr>",
       {"--classe", "PSK31=J2B"},
       0,
       "01-03-2026 2000 2000 EA8XY Jos\xc3\xa9 3573 kHz J2B Quimper\n",
       "enregistrement 1 (ligne 1) : longueurs comptees en caracteres"},
      {"missing FREQ and a truncated last record",
       "<CALL:4>K1AA<MODE:2>CW<QSO_DATE:8>20260301<TIME_ON:4>2000<MY_CITY:4>Caen<EOR>\n"
       "<CALL:4>K2AA<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2100<MY_CITY:4>Caen\n",
       {},
       1,
       "",
       "enregistrement 1 (ligne 1) : champ manquant : FREQ, non importe\nenregistrement 2 (ligne "
       "2) : pas de <EOR>"},
      {"Windows-1252 text",
       "<CALL:4>K1AA<NAME:9>Fran\x9c"
       "oise<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2000"
       "<MY_CITY:11>Saint-L\x92\xe9"
       "an<EOR>\n",
       {},
       0,
       "01-03-2026 2000 2000 K1AA Fran\xc5\x93oise 14000 kHz A1A Saint-L\xe2\x80\x99\xc3\xa9"
       "an\n",
       "1 QSO importe"},
      {"a wrong length swallows no record",
       "<CALL:4>K1AA<COMMENT:999999999>Nice QSO<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301"
       "<TIME_ON:4>2000<MY_CITY:4>Caen<EOR>\n"
       "<CALL:4>K2AA<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2100<MY_CITY:4>Caen<EOR>\n",
       {},
       1,
       "01-03-2026 2100 2100 K2AA - 14000 kHz A1A Caen\n",
       "enregistrement 1 (ligne 1) : champ COMMENT annonce 999999999 octets, plus qu'un "
       "enregistrement n'en tient (1048576), non importe\n1 QSO importe, 0 doublon ignore, 1 "
       "enregistrement signale."},
      {"call signs the export refuses, the owner portable",
       "<CALL:6>F4HAL/M<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2000<EOR>\n"
       "<CALL:6>F5 ABC<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2010<EOR>\n"
       "<CALL:4>K1AA<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2020"
       "<STATION_CALLSIGN:7>F4ABC/P<EOR>\n",
       {"--lieu-par-defaut", "Caen"},
       1,
       "01-03-2026 2020 2020 K1AA - 14000 kHz A1A Caen\n",
       "enregistrement 1 (ligne 1) : CALL invalide (\"F4HAL/\" ; lettres, chiffres et /, au moins "
       "une lettre et un chiffre), non importe\nenregistrement 2 (ligne 2) : CALL invalide (\"F5 "
       "ABC\" ; lettres, chiffres et /, au moins une lettre et un chiffre), non importe"},
  };
  for (const auto& c : cases) {
    make_logbook({});
    const std::string before = logbook();
    write_file(folder_.file("in.adi"), c.adi);
    std::vector<std::string> args = {"--importe", "in.adi"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto run = adif(args);
    EXPECT_EQ(run.status, c.status) << c.name << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << "\n" << run.err;
    std::string lines;
    std::istringstream added(qso_lines(logbook()));
    for (std::string line, word; std::getline(added, line);) {
      std::istringstream words(line);
      for (bool first = true; words >> word; first = false) lines += (first ? "" : " ") + word;
      lines += "\n";
    }
    EXPECT_EQ(lines, c.lines) << c.name;
    EXPECT_EQ(logbook().substr(0, before.size()), before) << c.name;
    std::filesystem::remove(folder_.file("journal_de_bord.txt"));
    std::filesystem::remove(folder_.file("journal_de_bord.details.adi"));
  }
}

TEST_F(ImportEndToEnd, RefusesWhatItCannotImportAndChangesNothing) {
  write_file(folder_.file("in.adi"),
             "<CALL:4>K1AA<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2000<EOR>");
  const auto missing = adif({"--importe", "in.adi", "--lieu-par-defaut", "Caen"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("n'existe pas"), std::string::npos) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(folder_.file("journal_de_bord.txt")));

  // Notepad's "Unicode": the import writes nothing to what it cannot read.
  std::string utf16 = "\xff\xfe";
  for (const char c : std::string("Journal de Bord de : F4ABC\r\n")) utf16 += std::string{c, '\0'};
  write_file(folder_.file("journal_de_bord.txt"), utf16);
  // The listener says the same before it listens, not that a header is missing.
  for (const char* way : {"--importe=in.adi", "--ecoute=127.0.0.1:2237"}) {
    const auto unicode = adif({way, "--lieu-par-defaut", "Caen"});
    EXPECT_EQ(unicode.status, 2) << way;
    EXPECT_NE(unicode.err.find("n'a pas pu etre lu (il est enregistre en UTF-16 ; l'ouvrir avec "
                               "le Bloc-notes et l'enregistrer en UTF-8)"),
              std::string::npos)
        << unicode.err;
    EXPECT_EQ(logbook(), utf16);
  }

  write_file(folder_.file("journal_de_bord.txt"), "pas d'en-tete\n");
  const auto headless = adif({"--importe", "in.adi", "--lieu-par-defaut", "Caen"});
  EXPECT_EQ(headless.status, 2);
  EXPECT_NE(headless.err.find("n'a pas d'en-tete"), std::string::npos) << headless.err;
  EXPECT_EQ(logbook(), "pas d'en-tete\n");

  const auto dropped = adif({"in.adi"});
  EXPECT_EQ(dropped.status, 2);
  EXPECT_NE(dropped.err.find("velkrin-adif --importe \"in.adi\""), std::string::npos)
      << dropped.err;
  EXPECT_FALSE(std::filesystem::exists(folder_.file("in.adi.adi")));

  // No room for the new logbook: it stays as it was, and nothing is left.
  std::filesystem::remove(folder_.file("journal_de_bord.txt"));
  make_logbook({"01-02-2026 0905 930 DL1XYZ Hans 7055 J3E Paris_15"});
  const std::string before = logbook();
  write_file(folder_.file("notes.txt"), "pas de l'ADIF\n");
  const auto not_adif = adif({"--importe", "notes.txt"});
  EXPECT_EQ(not_adif.status, 2);
  EXPECT_NE(not_adif.err.find("n'est pas un fichier ADIF"), std::string::npos) << not_adif.err;
  std::filesystem::remove(folder_.file("notes.txt"));
  EXPECT_EQ(logbook(), before);
  auto command = adif_command({"--importe", "in.adi", "--lieu-par-defaut", "Caen"});
  std::string shell = "trap '' XFSZ; ulimit -f 1; exec";
  for (const auto& word : command) shell += " '" + word + "'";
  const auto full = run_program({"/bin/sh", "-c", shell}, folder_.path().string(), "");
  EXPECT_EQ(full.status, 2) << full.err;
  EXPECT_NE(full.err.find("aucun QSO n'a ete importe"), std::string::npos) << full.err;
  EXPECT_EQ(logbook(), before);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in.adi", "journal_de_bord.txt"}));
}

// One FT8 QSO with `call` of the station F5XYZ, as an ADIF record; with
// `cut`, one byte short of the call sign, which comes last.
std::string adif_record(const std::string& call, const std::string& time = "090515",
                        bool cut = false) {
  const std::string fields = "<mode:3>FT8 <qso_date:8>20260201 <time_on:6>" + time +
                             " <freq:9>14.074000 <station_callsign:5>F5XYZ "
                             "<my_gridsquare:4>JN18 <call:" +
                             std::to_string(call.size()) + ">";
  return fields + (cut ? call.substr(0, call.size() - 1) : call + " <eor>\n");
}

// An ADIF file holding that record.
std::string adif_text(const std::string& call, const std::string& time = "090515",
                      bool cut = false) {
  return "<adif_ver:5>3.1.1\n<EOH>\n" + adif_record(call, time, cut);
}

// The same as a "Logged ADIF" datagram.
std::string logged_adif(const std::string& call, const std::string& time = "090515",
                        bool cut = false) {
  return wsjtx::testing::datagram().header(12).utf8(adif_text(call, time, cut)).bytes();
}

// An import whose lines (--simulation) or messages wait on a pager that
// nobody reads keeps velkrin waiting for nothing: it writes neither while it
// holds the logbook.
TEST_F(ImportEndToEnd, ImportWaitingOnItsOutputKeepsVelkrinWaitingForNothing) {
  std::string adif = "<adif_ver:5>3.1.1\n<EOH>\n";
  const auto two = [](int n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
  for (int n = 0; n < 300; ++n) {
    const std::string call = std::string("DL1") + char('A' + n % 26) + char('A' + n / 26);
    adif += adif_record(call, "10" + two(n / 60) + two(n % 60));
  }
  write_file(folder_.file("qsos.adi"), adif);
  const struct {
    const char* owner;  // F5XYZ takes the records, F4ABC reports each one
    stalled_program::stream stalled;
  } cases[] = {{"F5XYZ", stalled_program::stream::output},
               {"F4ABC", stalled_program::stream::errors}};
  for (const auto& c : cases) {
    temp_folder made;
    make_logbook({}, made.path().string(), c.owner);
    std::filesystem::copy_file(made.file("journal_de_bord.txt"),
                               folder_.file("journal_de_bord.txt"),
                               std::filesystem::copy_options::overwrite_existing);
    stalled_program importer(adif_command({"--importe", "qsos.adi", "--simulation"}),
                             folder_.path().string(), c.stalled);
    ASSERT_TRUE(importer.wait_until_stalled()) << c.owner;
    const auto [run, kept_waiting] =
        run_beside(importer, {VELKRIN_DEFAULT_PROGRAM}, folder_.path().string(), kRecordOneQso);
    EXPECT_FALSE(kept_waiting) << c.owner << ": the import kept velkrin waiting";
    EXPECT_EQ(run.err, "") << c.owner;
    EXPECT_NE(logbook().find("G4AAA"), std::string::npos) << c.owner;
  }
}

// Once the new logbook is in place, nothing that fails after can undo the
// import: a failing close of the old file must not be reported as a failure.
TEST_F(ImportEndToEnd, AFailingCloseAfterTheImportIsNoFailure) {
  if (std::getenv("VELKRIN_LAUNCHER") != nullptr || std::system("strace -V >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs strace and a Linux build";
  }
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "LeakSanitizer cannot run under strace";
#endif
  make_logbook({});
  const std::string before = logbook();
  write_file(folder_.file("in.adi"),
             "<CALL:4>K1AA<MODE:2>CW<FREQ:2>14<QSO_DATE:8>20260301<TIME_ON:4>2000<EOR>");
  const auto traced = [&](const std::string& injection) {
    std::vector<std::string> command = {
        "strace", "-qq", "-o", "trace.txt", "-e", "trace=close,rename,renameat,renameat2"};
    if (!injection.empty()) command.insert(command.end(), {"-e", injection});
    for (const auto& word : adif_command({"--importe", "in.adi", "--lieu-par-defaut", "Caen"})) {
      command.push_back(word);
    }
    return run_program(command, folder_.path().string(), "");
  };
  // A first run finds which close comes first after the new logbook took
  // the old one's place; the second makes that close and every later one fail.
  ASSERT_EQ(traced("").status, 0);
  std::istringstream trace(read_file(folder_.file("trace.txt")));
  int closes = 0;
  for (std::string line; std::getline(trace, line) && line.find("rename") != 0;) {
    if (line.starts_with("close(")) ++closes;
  }
  write_file(folder_.file("journal_de_bord.txt"), before);
  const auto run = traced("inject=close:error=EIO:when=" + std::to_string(closes + 1) + "+");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("n'a pas pu"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("1 QSO importe,"), std::string::npos) << run.err;
  EXPECT_NE(read_file(folder_.file("trace.txt")).find("EIO (Input/output error) (INJECTED)"),
            std::string::npos);
  EXPECT_EQ(qso_lines(logbook()),
            "01-03-2026   2000    2000      K1AA        -"
            "                14000 kHz   A1A    Caen"
            "                     \n");
}

// The live log: datagrams as WSJT-X sends them for one QSO (a heartbeat,
// "QSO Logged", "Logged ADIF"), a record cut short, and garbage; ended by
// Ctrl-C.
TEST_F(ImportEndToEnd, LogsWhatWsjtxSendsUntilInterrupted) {
  make_logbook({}, "", "F5XYZ");
  write_file(folder_.file("pays.csv"), std::string(adif::kFewCountriesFile));
  const std::uint16_t port = free_udp_port();
  background_program running(
      adif_command({"--ecoute=127.0.0.1:" + std::to_string(port), "--fichier-pays", "pays.csv"}),
      folder_.path().string());
  ASSERT_TRUE(running.wait_for("A l'ecoute")) << running.err();
  const datagram_sender wsjtx;
  using wsjtx::testing::datagram;
  wsjtx.send(datagram().header(0).u32(3).utf8("2.7.0").utf8("abc").bytes(), "127.0.0.1", port);
  wsjtx.send(wsjtx::testing::qso_logged_f4abc().bytes(), "127.0.0.1", port);
  wsjtx.send(datagram()
                 .header(12)
                 .utf8("<adif_ver:5>3.1.1\n<programid:6>WSJT-X\n<EOH>\n<call:5>F4ABC "
                       "<gridsquare:4>JN03 <mode:3>FT8 <qso_date:8>20260201 <time_on:6>090515 "
                       "<time_off:6>090630 <freq:9>14.074000 <station_callsign:5>F5XYZ "
                       "<my_gridsquare:4>JN18 <eor>")
                 .bytes(),
             "127.0.0.1", port);
  // Cut short, the call sign would read DL1XY.
  wsjtx.send(logged_adif("DL1XYZ", "100000", true), "127.0.0.1", port);
  wsjtx.send("garbage", "127.0.0.1", port);
  ASSERT_TRUE(running.wait_for("Datagramme ignore")) << running.err();
  EXPECT_EQ(running.stop(), 0);
  EXPECT_EQ(running.out(),
            "QSO inscrit : F4ABC le 01-02-2026 a 0905, 14074 kHz, FT8 ; nouveau pays ! (France)\n"
            "QSO deja dans le journal, ignore : F4ABC le 01-02-2026 a 0905, 14074 kHz, FT8\n"
            "QSO non inscrit : pas de <EOR>, l'enregistrement s'arrete avant sa fin\n");
  EXPECT_EQ(qso_lines(logbook()),
            "01-02-2026    905    906       F4ABC       -                14074 kHz   FT8    JN18"
            "                     \n");
  // The details keep what the line has no column for, the seconds among them.
  const std::string details = read_file(folder_.file("journal_de_bord.details.adi"));
  EXPECT_NE(details.find("<CALL:5>F4ABC<QSO_DATE:8>20260201<TIME_ON:6>090515"), std::string::npos)
      << details;
  EXPECT_NE(details.find("<GRIDSQUARE:4>JN03"), std::string::npos) << details;
  // The import refuses the same bytes for the same reason.
  write_file(folder_.file("coupe.adi"), adif_text("DL1XYZ", "100000", true));
  const auto imported = adif({"--importe", "coupe.adi"});
  EXPECT_EQ(imported.status, 1);
  EXPECT_NE(imported.err.find("pas de <EOR>, l'enregistrement s'arrete avant sa fin"),
            std::string::npos)
      << imported.err;
}

// A QSO that cannot be written is given back whole, the logbook named as it
// is, and the run ends with status 2; Ctrl-C still ends it cleanly after a
// new logbook had to be started.
TEST_F(ImportEndToEnd, ListenerReportsALostQsoAndStillEndsOnCtrlC) {
  make_logbook({}, "", "F5XYZ");
  std::filesystem::rename(folder_.file("journal_de_bord.txt"), folder_.file("carnet.txt"));
  const std::uint16_t port = free_udp_port();
  background_program running(
      adif_command({"--ecoute=127.0.0.1:" + std::to_string(port), "carnet.txt"}),
      folder_.path().string());
  ASSERT_TRUE(running.wait_for("A l'ecoute")) << running.err();
  const datagram_sender wsjtx;
  std::filesystem::remove(folder_.file("carnet.txt"));
  wsjtx.send(logged_adif("DL1ABC"), "127.0.0.1", port);
  ASSERT_TRUE(running.wait_for("n'existait plus")) << running.err();
  std::filesystem::remove(folder_.file("carnet.txt"));
  std::filesystem::create_directory(folder_.file("carnet.txt"));
  wsjtx.send(logged_adif("DL2ABC"), "127.0.0.1", port);
  ASSERT_TRUE(running.wait_for("QSO non inscrit", true)) << running.out();
  EXPECT_EQ(running.stop(), 2) << running.err();
  const std::string err = running.err();
  EXPECT_NE(err.find("Erreur : le journal de bord \"carnet.txt\" n'a pas pu etre ecrit"),
            std::string::npos)
      << err;
  // The line to copy by hand, then the end, each on its own line.
  const auto line = err.find("01-02-2026    905");
  ASSERT_NE(line, std::string::npos) << err;
  EXPECT_NE(err.find(" DL2ABC ", line), std::string::npos) << err;
  EXPECT_EQ(err.find('\n', line) + 1, err.find("Fin de l'ecoute.\n")) << err;
}

// Ctrl-C while the first record of a datagram of three waits for the
// logbook's lock: the two others are left, and said to be.
TEST_F(ImportEndToEnd, ListenerStopsBetweenTheRecordsOfADatagram) {
  if (std::getenv("VELKRIN_LAUNCHER") != nullptr) GTEST_SKIP() << "the lock held is POSIX's";
  make_logbook({}, "", "F5XYZ");
  const std::uint16_t port = free_udp_port();
  background_program running(adif_command({"--ecoute=127.0.0.1:" + std::to_string(port)}),
                             folder_.path().string());
  ASSERT_TRUE(running.wait_for("A l'ecoute")) << running.err();
  const int held = ::open(folder_.file("journal_de_bord.txt").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const datagram_sender wsjtx;
  wsjtx.send(wsjtx::testing::datagram()
                 .header(12)
                 .utf8(adif_text("DL1ONE") + adif_record("DL2TWO") + adif_record("DL3THR"))
                 .bytes(),
             "127.0.0.1", port);
  // Until the listener waits for the lock (a waiter in /proc/locks).
  const std::string waiter = "-> FLOCK";
  for (int tries = 0; tries < 500 && read_file("/proc/locks").find(waiter) == std::string::npos;
       ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(running.pid(), SIGINT);
  ::close(held);
  running.stop();
  EXPECT_NE(running.err().find("Interrompu : 2 enregistrements de ce datagramme non inscrits."),
            std::string::npos)
      << running.err();
  EXPECT_EQ(running.err().find("DL2TWO"), std::string::npos) << running.err();
  EXPECT_EQ(logbook().find("DL2TWO"), std::string::npos);
  EXPECT_EQ(logbook().find("DL3THR"), std::string::npos);
}

// An import renaming its copy of the logbook into place while the listener
// receives a QSO that the import also brings: the QSO is written once.
TEST_F(ImportEndToEnd, ListenerAndImportRacingWriteAQsoOnce) {
  make_logbook({}, "", "F5XYZ");
  {
    // Enough lines for the import's copy to last a moment.
    std::string lines;
    const std::string line =
        "01-01-2020    905    906       K1ABC       -                14074 kHz   FT8    JN18\n";
    for (int i = 0; i < 200'000; ++i) lines += line;
    std::ofstream(folder_.file("journal_de_bord.txt"), std::ios::app | std::ios::binary) << lines;
  }
  const std::uint16_t port = free_udp_port();
  background_program running(adif_command({"--ecoute=127.0.0.1:" + std::to_string(port)}),
                             folder_.path().string());
  ASSERT_TRUE(running.wait_for("A l'ecoute")) << running.err();
  const datagram_sender wsjtx;
  constexpr int kRounds = 2;
  for (int round = 0; round < kRounds; ++round) {
    const std::string call = "DL" + std::to_string(round) + "RACE";
    write_file(folder_.file("in.adi"), adif_text(call));
    std::thread import([&] { (void)adif({"--importe", "in.adi"}); });
    // The datagram goes out while the import's copy is being written.
    for (int tries = 0; tries < 5000; ++tries) {
      bool copying = false;
      for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
        copying =
            copying || entry.path().filename().string().find("velkrin-tmp") != std::string::npos;
      }
      if (copying) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    wsjtx.send(logged_adif(call), "127.0.0.1", port);
    import.join();
    ASSERT_TRUE(running.wait_for(call, true)) << running.out();
    std::size_t written = 0;
    for (std::size_t at = 0; (at = logbook().find(" " + call + " ", at)) != std::string::npos;
         ++at) {
      ++written;
    }
    EXPECT_EQ(written, 1u) << call << "\n" << running.out();
  }
  EXPECT_EQ(running.stop(), 0);
}

// In multicast mode only what was sent to the group, and only from this
// machine's own addresses or those of --accepte, is logged.
TEST_F(ImportEndToEnd, ListenerTakesOnlyTheGroupFromAcceptedSenders) {
  make_logbook({}, "", "F5XYZ");
  // Beside the logbook, it is found first, and knows none of these calls.
  write_file(folder_.file("cty.csv"), std::string(adif::kNoCountriesFile));
  const std::uint16_t port = free_udp_port();
  const std::string group = "224.0.0.73:" + std::to_string(port);
  {
    background_program running(adif_command({"--ecoute=" + group}), folder_.path().string());
    ASSERT_TRUE(running.wait_for("Ctrl-C pour finir")) << running.err();
    // The senders' line may come in a write of its own, after the first.
    EXPECT_TRUE(running.wait_for("127.0.0.1")) << running.err();
    const datagram_sender local;
    const datagram_sender stranger("127.0.0.2");
    local.send(logged_adif("DL1UNI"), "127.0.0.1", port);
    stranger.send(logged_adif("DL2STR"), "224.0.0.73", port);
    local.send(logged_adif("DL3OWN"), "224.0.0.73", port);
    ASSERT_TRUE(running.wait_for("DL3OWN", true)) << running.out() << running.err();
    EXPECT_EQ(running.stop(), 0);
    EXPECT_EQ(running.out(), "QSO inscrit : DL3OWN le 01-02-2026 a 0905, 14074 kHz, FT8\n");
    EXPECT_NE(running.err().find("Datagramme refuse : envoye par 127.0.0.2"), std::string::npos)
        << running.err();
  }
  background_program running(adif_command({"--ecoute=" + group, "--accepte", "127.0.0.2"}),
                             folder_.path().string());
  ASSERT_TRUE(running.wait_for("Ctrl-C pour finir")) << running.err();
  const datagram_sender stranger("127.0.0.2");
  stranger.send(logged_adif("DL2STR"), "224.0.0.73", port);
  ASSERT_TRUE(running.wait_for("DL2STR", true)) << running.out() << running.err();
  EXPECT_EQ(running.stop(), 0);
  EXPECT_EQ(running.out(), "QSO inscrit : DL2STR le 01-02-2026 a 0905, 14074 kHz, FT8\n");
}

}  // namespace
}  // namespace velkrin::testing
