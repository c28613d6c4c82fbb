// Whole runs of the built program: standard input bytes in, standard output
// bytes, exit status and logbook bytes out. The program to run comes from the
// build, or from VELKRIN_PROGRAM (with VELKRIN_LAUNCHER before it), so that
// the same cases check another build; VELKRIN_LINE_END=crlf says that build
// writes CRLF line ends on standard output and in new logbooks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_program.hpp"
#include "support/screens.hpp"
#include "support/temp_folder.hpp"

namespace velkrin::testing {
namespace {

const std::string kRule(96, '-');
const std::string kHeader = kRule + "\n" +
                            "Journal de Bord de : F4ABC        .   Date de debut du Journal : "
                            "01-02-2026   .\n"
                            "En Heure Universelle (UTC)\n" +
                            kRule + "\n" +
                            "Date      ;  Debut;  Fin  ;    Indicatif;  Prenom        ; Frequence;"
                            "   Mode;  Lieu d'emission; \n" +
                            kRule + "\n";
const std::string kQsoAnswers = "01-02-2026 0905 930 DL1XYZ Hans 7055 J3E Paris_15\n";
const std::string kQsoLine =
    "01-02-2026    905    930       DL1XYZ      Hans              7055 kHz   J3E    Paris_15"
    "                 \n";
const std::string kSummaryScreen = kClear +
                                   "Resume de la saisie : \n"
                                   "-------------------\n"
                                   "QSO du 01-02-2026\n"
                                   "De 0905 T.U \xc3\xa0 0930 T.U\n"
                                   "Avec DL1XYZ   Hans  sur 7055 kHz ,en J3E .\n"
                                   "Depuis Paris_15 .\n\n\n"
                                   "Validez vous la saisie ? ( 1 Oui / 0 Non ) : ";
const std::string kCreationAnswers = "4\n1\nF4ABC 01-02-2026\n1\n";
// A new header for an existing logbook, and the block it gives.
const std::string kNewHeaderAnswers = "4\n1\nF5XYZ 03-04-2027\n1\n";
const std::string kNewHeader = [] {
  std::string header = kHeader;
  header.replace(header.find("F4ABC       "), 12, "F5XYZ       ");
  header.replace(header.find("01-02-2026  "), 12, "03-04-2027  ");
  return header;
}();

class EndToEnd : public ::testing::Test {
 protected:
  // Runs the program in the test's folder.
  program_run run(const std::string& input) {
    return run_program(program_command(VELKRIN_DEFAULT_PROGRAM), folder_.path().string(), input);
  }
  std::string logbook_path() const { return folder_.file("journal_de_bord.txt"); }
  std::string logbook() const { return read_file(logbook_path()); }
  bool logbook_present() const { return std::filesystem::exists(logbook_path()); }

  // The names in the test's folder, which should hold the logbook and
  // nothing else (no lock or temporary file) after any run.
  std::vector<std::string> folder_entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  // `text` with each "\n" written as `eol`.
  static std::string with_line_ends(const std::string& text, const std::string& eol) {
    std::string converted;
    for (char c : text) {
      if (c == '\n') {
        converted += eol;
      } else {
        converted += c;
      }
    }
    return converted;
  }

  // The bytes the program under test writes for `text` on its standard
  // output (screen) or in a logbook it created (file).
  static std::string native(const std::string& text) {
    const char* line_end = std::getenv("VELKRIN_LINE_END");
    if (line_end == nullptr || std::string(line_end) != "crlf") return text;
    return with_line_ends(text, "\r\n");
  }

  temp_folder folder_;
};

TEST_F(EndToEnd, MenuThenQuitShowsExactlyTheMenu) {
  const program_run result = run("0\n");
  EXPECT_EQ(result.out, native(kMenuScreen));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(logbook_present());
}

TEST_F(EndToEnd, OtherChoiceLeadsToReturnPromptAndBack) {
  const program_run result = run("7\n0\n0\n");
  EXPECT_EQ(result.out, native(kMenuScreen + kReturnPrompt + kMenuScreen));
  EXPECT_EQ(result.status, 0);
}

TEST_F(EndToEnd, NonZeroAtReturnPromptEnds) {
  const program_run result = run("7\n5\n");
  EXPECT_EQ(result.out, native(kMenuScreen + kReturnPrompt));
  EXPECT_EQ(result.status, 0);
}

TEST_F(EndToEnd, InvalidAnswersAreAskedAgain) {
  const program_run result = run("abc def\n99999999999\n7\nx\n5\n");
  const std::string& invalid = kInvalidNumberLine;
  EXPECT_EQ(result.out, native(kMenuScreen + invalid + "Votre choix : " + invalid +
                               "Votre choix : " + kReturnPrompt + invalid + kReturnPrompt));
  EXPECT_EQ(result.status, 0);
}

TEST_F(EndToEnd, EndOfInputEndsWithStatusZero) {
  for (const std::string input : {"", "\n  \n", "7\n", "abc", "4\n1\nF4ABC"}) {
    const program_run result = run(input);
    EXPECT_EQ(result.status, 0) << input;
    EXPECT_EQ(result.err, "") << input;
    EXPECT_FALSE(logbook_present()) << input;
  }
}

TEST_F(EndToEnd, CreationWithoutLogbookWritesExactlyTheHeader) {
  const program_run result = run(kCreationAnswers + "5\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(logbook(), native(kHeader));
  EXPECT_TRUE(result.out.ends_with(
      native("1 pour valider / 0 pour refaire la saisie : " + kCreatedLines + kReturnPrompt)))
      << result.out;
}

TEST_F(EndToEnd, WarningAnswerZeroEndsAndTouchesNothing) {
  write_file(logbook_path(), "mon ancien journal\n");
  const program_run result = run("4\n0\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.ends_with(native("Votre Choix : "))) << result.out;
  EXPECT_EQ(logbook(), "mon ancien journal\n");
}

TEST_F(EndToEnd, CreationConfirmationZeroAsksAgainAndWritesOnce) {
  const program_run result = run("4\n1\nXX1XX 99-99-9999\n0\nF4ABC 01-02-2026\n1\n5\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(logbook(), native(kHeader));
}

TEST_F(EndToEnd, FullQsoIsShownAndRecorded) {
  ASSERT_EQ(run(kCreationAnswers + "5\n").status, 0);
  const program_run result = run("1\n" + kQsoAnswers + "1\n0\n5\n");
  EXPECT_EQ(result.out,
            native(kMenuScreen + kEntryScreen + kSummaryScreen + kRecordedScreen + kReturnPrompt));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(logbook(), native(kHeader + kQsoLine));
}

TEST_F(EndToEnd, ConfirmationTwoAsksAgainAndWritesNothing) {
  ASSERT_EQ(run(kCreationAnswers + "5\n").status, 0);
  const program_run result = run("1\n" + kQsoAnswers + "2\n" + kQsoAnswers + "2\n");
  // After the second refusal the entry screen comes a third time, and the
  // input ends at its first prompt.
  const std::string third_entry = kEntryScreen.substr(0, kEntryScreen.find("Debut"));
  EXPECT_EQ(result.out, native(kMenuScreen + kEntryScreen + kSummaryScreen + kEntryScreen +
                               kSummaryScreen + third_entry));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(logbook(), native(kHeader));
}

TEST_F(EndToEnd, TwoQsosInOneVisitTypedAhead) {
  // Everything on one line: the prompts are still written, one after another.
  const program_run result = run("4 1 F4ABC 01-02-2026 1 5\n");
  ASSERT_EQ(result.status, 0);
  const std::string qso = "01-02-2026 0905 930 DL1XYZ Hans 7055 J3E Paris_15 1 ";
  const program_run second = run("1 " + qso + "1 " + qso + "0 5");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, native(kMenuScreen + kEntryScreen + kSummaryScreen + kRecordedScreen +
                               kEntryScreen + kSummaryScreen + kRecordedScreen + kReturnPrompt));
  EXPECT_EQ(logbook(), native(kHeader + kQsoLine + kQsoLine));
}

TEST_F(EndToEnd, QsoWithoutLogbookSaysItDoesNotExist) {
  const program_run result = run("1\n5\n");
  EXPECT_EQ(result.out, native(kMenuScreen + kMissingLogbook + kReturnPrompt));
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(logbook_present());
}

TEST_F(EndToEnd, NewHeaderKeepsEveryQsoLine) {
  // Under Windows this logbook has CRLF line ends throughout.
  ASSERT_EQ(run(kCreationAnswers + "5\n").status, 0);
  ASSERT_EQ(run("1\n" + kQsoAnswers + "1\n1\n" + kQsoAnswers + "1\n0\n5\n").status, 0);
  const program_run result = run(kNewHeaderAnswers + "5\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(logbook(), native(kNewHeader + kQsoLine + kQsoLine));
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"journal_de_bord.txt"});
}

TEST_F(EndToEnd, LogbookKeepsItsOwnLineEnds) {
  // A logbook made on Linux (LF) keeps LF under Windows, one made under
  // Windows (CRLF) keeps CRLF under Linux; the header is recognised in both.
  for (const std::string eol : {"\n", "\r\n"}) {
    write_file(logbook_path(), with_line_ends(kHeader + kQsoLine, eol));
    ASSERT_EQ(run("1\n" + kQsoAnswers + "1\n0\n0\n" + kNewHeaderAnswers + "5\n").status, 0);
    EXPECT_EQ(logbook(), with_line_ends(kNewHeader + kQsoLine + kQsoLine, eol))
        << (eol == "\n" ? "LF" : "CRLF");
  }
}

TEST_F(EndToEnd, HandMadeFileKeepsItsContentBehindTheHeader) {
  // The header goes in front through a temporary file renamed over the
  // logbook, in the file's line ends, or the platform's when it has none.
  const struct {
    std::string content;
    std::string header;
  } cases[] = {
      {"mes notes\n", kNewHeader},
      {"mes notes\r\nsuite\n", with_line_ends(kNewHeader, "\r\n")},
      {"mes notes", native(kNewHeader)},
  };
  for (const auto& c : cases) {
    write_file(logbook_path(), c.content);
    const program_run result = run(kNewHeaderAnswers + "5\n");
    EXPECT_EQ(result.status, 0) << c.content;
    EXPECT_EQ(logbook(), c.header + c.content) << c.content;
    EXPECT_EQ(folder_entries(), std::vector<std::string>{"journal_de_bord.txt"}) << c.content;
  }
}

TEST_F(EndToEnd, ConcurrentRunsNeverLoseOrMixALine) {
  // Two runs append QSOs while a third appends some and then puts a header in
  // front of a hand-made file, which replaces the file under the appenders.
  constexpr int kQsosPerRun = 60;
  constexpr int kQsosBeforeHeader = 10;
  write_file(logbook_path(), "mes notes\n");
  const auto qsos = [](const std::string& lieu, int count) {
    std::string answers = "1 ";
    for (int i = 0; i < count; ++i) {
      answers +=
          "01-02-2026 0905 930 DL1XYZ Hans 7055 J3E " + lieu + (i + 1 < count ? " 1 1 " : " 1 0 ");
    }
    return answers;
  };
  const std::string inputs[] = {
      qsos("Paris_15", kQsosPerRun) + "5\n", qsos("Lyon_2", kQsosPerRun) + "5\n",
      qsos("Brest", kQsosBeforeHeader) + "0\n" + kNewHeaderAnswers + "5\n"};
  program_run results[3];
  {
    std::vector<std::jthread> runs;
    for (int i = 0; i < 3; ++i) runs.emplace_back([&, i] { results[i] = run(inputs[i]); });
  }
  for (const program_run& result : results) EXPECT_EQ(result.status, 0) << result.err;

  const std::string content = logbook();
  const std::string start = kNewHeader + "mes notes\n";
  ASSERT_EQ(content.substr(0, start.size()), start);
  std::map<std::string, int> lines;
  std::istringstream rest(content.substr(start.size()));
  for (std::string line; std::getline(rest, line);) ++lines[line + "\n"];
  // kQsoLine with another place in its last column.
  const auto qso_line = [](const std::string& lieu) {
    const std::size_t lieu_column = kQsoLine.find("Paris_15");
    return kQsoLine.substr(0, lieu_column) + lieu +
           std::string(kQsoLine.size() - 1 - lieu_column - lieu.size(), ' ') + "\n";
  };
  EXPECT_EQ(lines, (std::map<std::string, int>{{qso_line("Paris_15"), kQsosPerRun},
                                               {qso_line("Lyon_2"), kQsosPerRun},
                                               {qso_line("Brest"), kQsosBeforeHeader}}));
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"journal_de_bord.txt"});
}

TEST_F(EndToEnd, UnwritableLogbookFailsWithMessageAndStatusOne) {
  std::filesystem::create_directory(logbook_path());
  const program_run qso = run("1\n" + kQsoAnswers + "1\n0\n5\n");
  EXPECT_EQ(qso.status, 1);
  EXPECT_EQ(qso.out, native(kMenuScreen + kEntryScreen + kSummaryScreen));
  EXPECT_NE(qso.err.find("journal_de_bord.txt"), std::string::npos) << qso.err;
  EXPECT_NE(qso.err.find(kQsoLine.substr(0, 104)), std::string::npos) << qso.err;

  const program_run creation = run(kCreationAnswers + "5\n");
  EXPECT_EQ(creation.status, 1);
  EXPECT_EQ(creation.out.find("succes"), std::string::npos);
  EXPECT_NE(creation.err.find("n'a pas pu etre ecrit"), std::string::npos) << creation.err;
  EXPECT_TRUE(std::filesystem::is_directory(logbook_path()));
}

// Notepad's "Unicode": no reader takes it, so nothing may be added to it;
// the QSO is handed back as for any write that failed.
TEST_F(EndToEnd, Utf16LogbookIsRefusedAndLeftAsItIs) {
  std::string utf16 = "\xff\xfe";
  for (const char c : with_line_ends(kHeader + kQsoLine, "\r\n")) utf16 += std::string{c, '\0'};
  write_file(logbook_path(), utf16);
  const std::string reason =
      "n'a pas pu etre ecrit (il est enregistre en UTF-16 ; l'ouvrir avec le Bloc-notes et "
      "l'enregistrer en UTF-8).";
  const program_run qso = run("1\n" + kQsoAnswers + "1\n0\n5\n");
  EXPECT_EQ(qso.status, 1);
  EXPECT_EQ(qso.out, native(kMenuScreen + kEntryScreen + kSummaryScreen));
  EXPECT_NE(qso.err.find(reason), std::string::npos) << qso.err;
  EXPECT_NE(qso.err.find(kQsoLine.substr(0, 104)), std::string::npos) << qso.err;
  EXPECT_EQ(logbook(), utf16);

  const program_run creation = run(kNewHeaderAnswers + "5\n");
  EXPECT_EQ(creation.status, 1);
  EXPECT_EQ(creation.out.find("succes"), std::string::npos);
  EXPECT_NE(creation.err.find(reason), std::string::npos) << creation.err;
  EXPECT_EQ(logbook(), utf16);
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"journal_de_bord.txt"});
}

}  // namespace
}  // namespace velkrin::testing
