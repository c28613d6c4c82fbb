// velkrin-adif --importe and --ecoute, run as built: logbooks made by velkrin
// itself, ADIF files in the shapes other programs write, and datagrams built
// from the protocol's layout. VELKRIN_ADIF_PROGRAM (with VELKRIN_LAUNCHER
// before it) runs another build of velkrin-adif against the same cases.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/run_program.hpp"
#include "support/temp_folder.hpp"
#include "wsjtx/datagram_builder.hpp"

namespace velkrin::testing {
namespace {

std::vector<std::string> adif_command(std::vector<std::string> args) {
  std::vector<std::string> command;
  if (const char* launcher = std::getenv("VELKRIN_LAUNCHER")) {
    std::istringstream words(launcher);
    for (std::string word; words >> word;) command.push_back(word);
  }
  const char* program = std::getenv("VELKRIN_ADIF_PROGRAM");
  command.push_back(program != nullptr && *program != '\0' ? program : VELKRIN_ADIF_PROGRAM);
  command.insert(command.end(), args.begin(), args.end());
  return command;
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
       "Champs non repris (le journal n'a pas de colonne pour eux) : GRIDSQUARE (1), RST_SENT "
       "(1), RST_RCVD (1)."},
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

// Once the new logbook is in place, nothing that fails after can undo the
// import: a failing close of the old file must not be reported as a failure.
TEST_F(ImportEndToEnd, AFailingCloseAfterTheImportIsNoFailure) {
  if (std::getenv("VELKRIN_LAUNCHER") != nullptr || std::system("strace -V >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs strace and a Linux build";
  }
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
// "QSO Logged", "Logged ADIF"), and garbage; ended by Ctrl-C.
TEST_F(ImportEndToEnd, LogsWhatWsjtxSendsUntilInterrupted) {
  make_logbook({}, "", "F5XYZ");
  const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size), 0);
  ::close(probe);  // the port is free again, for the program to take
  const std::string port = std::to_string(ntohs(address.sin_port));

  const auto command = adif_command({"--ecoute=127.0.0.1:" + port});
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::chdir(folder_.path().c_str()) != 0) ::_exit(126);
    const int out = ::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  const auto wait_for = [&](const std::string& file, const std::string& text) {
    for (int tries = 0; tries < 300; ++tries) {
      if (read_file(folder_.file(file)).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  ASSERT_TRUE(wait_for("err.txt", "A l'ecoute")) << read_file(folder_.file("err.txt"));
  const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
  const auto send = [&](const std::string& bytes) {
    ::sendto(sender, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
             sizeof address);
  };
  using wsjtx::testing::datagram;
  send(datagram().header(0).u32(3).utf8("2.7.0").utf8("abc").bytes());
  send(wsjtx::testing::qso_logged_f4abc().bytes());
  send(datagram()
           .header(12)
           .utf8("<adif_ver:5>3.1.1\n<programid:6>WSJT-X\n<EOH>\n<call:5>F4ABC <gridsquare:4>JN03 "
                 "<mode:3>FT8 <qso_date:8>20260201 <time_on:6>090515 <time_off:6>090630 "
                 "<freq:9>14.074000 <station_callsign:5>F5XYZ <my_gridsquare:4>JN18 <eor>")
           .bytes());
  send("garbage");
  ASSERT_TRUE(wait_for("err.txt", "Datagramme ignore")) << read_file(folder_.file("err.txt"));
  ::close(sender);
  ::kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(without_cr(read_file(folder_.file("out.txt"))),
            "QSO inscrit : F4ABC le 01-02-2026 a 0905, 14074 kHz, FT8\n"
            "QSO deja dans le journal, ignore : F4ABC le 01-02-2026 a 0905, 14074 kHz, FT8\n");
  EXPECT_EQ(qso_lines(logbook()),
            "01-02-2026    905    906       F4ABC       -                14074 kHz   FT8    JN18"
            "                     \n");
}

}  // namespace
}  // namespace velkrin::testing
