// Whole dialogues run in-process, from a string of answers to a string of
// screens, with the logbook in a fresh folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "console/console.hpp"
#include "dialogue/logbook_creation.hpp"
#include "dialogue/menu.hpp"
#include "dialogue/qso_entry.hpp"
#include "logbook/line_format.hpp"
#include "support/screens.hpp"
#include "support/temp_folder.hpp"

namespace velkrin {
namespace {

namespace fs = std::filesystem;
using velkrin::testing::read_file;
using velkrin::testing::write_file;

const std::string kCls = velkrin::testing::kClear;
const std::string kChoice = velkrin::testing::kMenuChoicePrompt;
const std::string kMenu = velkrin::testing::kMenuScreen;
const std::string kReturn = velkrin::testing::kReturnPrompt;
const std::string kInvalid = velkrin::testing::kInvalidNumberLine;
const std::string kEntry = velkrin::testing::kEntryScreen;
const std::string kQso1Answers = "01-02-2024\n0905\n930\nF4XYZ\nJean\n14070\nSSB\nParis\n";
const qso_record kQso1{"01-02-2024", 905, 930, "F4XYZ", "Jean", 14070, "SSB", "Paris"};
const std::string kQso1Summary = kCls +
                                 "Resume de la saisie : \n"
                                 "-------------------\n"
                                 "QSO du 01-02-2024\n"
                                 "De 0905 T.U \xc3\xa0 0930 T.U\n"
                                 "Avec F4XYZ   Jean  sur 14070 kHz ,en SSB .\n"
                                 "Depuis Paris .\n\n\n"
                                 "Validez vous la saisie ? ( 1 Oui / 0 Non ) : ";
const std::string kQso2Answers = "03-04-2024 1200 1230 F5ZZZ Marie 7050 CW Lyon_2e\n";
const qso_record kQso2{"03-04-2024", 1200, 1230, "F5ZZZ", "Marie", 7050, "CW", "Lyon_2e"};
const std::string kRecorded = velkrin::testing::kRecordedScreen;
const std::string kMissing = velkrin::testing::kMissingLogbook;

const logbook_header kOwner{"F4ABC", "01-01-2024"};

const std::string kTildes(84, '~');
const std::string kWarning =
    kCls + "!!!! ATTENTION !!!!   ATTENTION !!!!   ATTENTION !!!! ATTENTION !!!! ATTENTION !!!!\n" +
    kTildes +
    "\nVerifiez dans le dossier du programme l'existance d'un fichier ' journal_de_bord.txt '.\n" +
    kTildes +
    "\n\n"
    "Si un journal existe deja, son entete, avec la date de debut et votre indicatif, sera "
    "remplace.\n\n"
    "Si vous souhaitez creer un nouveau Journal de Bord, vous pouvez renommer le fichier, cela le "
    "sauvegardera.\n\n"
    "Vous pourrez ensuite creer votre nouveau Journal de Bord\n\n"
    "Taper 1 pour continuer et creer un Journal de Bord.\n\n"
    "Taper 0 pour sortir et verifier la presence d'un Journal de Bord. (Ou Archiver le "
    "precedent)\n\n"
    "Ensuite, redemarrer de nouveau Velkrin .\n\n"
    "Votre Choix : ";
const std::string kHeaderEntry = kCls +
                                 "Nous allons preparer le Journal de Bord\n\n"
                                 "Quels est votre indicatif ? : "
                                 "A quelle date creez vous ce journal ? (JJ-MM-AAAA) : ";
const std::string kCreated = velkrin::testing::kCreatedLines;

std::string header_confirmation(const std::string& indicatif, const std::string& date) {
  return kCls + "Votre Indicatif est : " + indicatif + "\nVous creez ce journal le " + date +
         " : \n\n1 pour valider / 0 pour refaire la saisie : ";
}

// Output that calls a hook with everything shown so far at each flush, that
// is before every read.
struct hooked_buffer : std::stringbuf {
  std::function<void(const std::string&)> on_flush;
  int sync() override {
    if (on_flush) on_flush(str());
    return 0;
  }
};

// Input typed one character at a time, as at a keyboard: none is ever at
// hand ahead, so the program flushes before each read.
struct typed_input : std::streambuf {
  explicit typed_input(std::string text) : text_(std::move(text)) {}

 protected:
  int_type underflow() override {
    if (next_ >= text_.size()) return traits_type::eof();
    char* c = &text_[next_++];
    setg(c, c, c + 1);
    return traits_type::to_int_type(*c);
  }

 private:
  std::string text_;
  std::size_t next_ = 0;
};

struct run_result {
  int status = -1;
  std::string out;
  std::string err;
};

class DialogueTest : public ::testing::Test {
 protected:
  run_result run(const std::string& answers,
                 std::function<void(const std::string&)> on_flush = nullptr) {
    typed_input typed(answers);
    std::istream in(&typed);
    hooked_buffer buffer;
    buffer.on_flush = std::move(on_flush);
    std::ostream out(&buffer);
    std::ostringstream err;
    console io(in, out, err);
    run_result result;
    result.status = run_menu(io, logbook_);
    result.out = buffer.str();
    result.err = err.str();
    return result;
  }
  void create_logbook() { write_file(path_, format_header(kOwner)); }
  std::string logbook() const { return read_file(path_); }

  velkrin::testing::temp_folder folder_;
  std::string path_ = folder_.file("journal_de_bord.txt");
  logbook_file logbook_{path_};
};

TEST_F(DialogueTest, MenuAndReturnPrompt) {
  const std::string row = version_row();
  EXPECT_EQ(row.size(), 50u);
  EXPECT_TRUE(row.starts_with("##  Version 1") && row.ends_with("##")) << row;
  struct {
    std::string answers;
    std::string shown;
  } cases[] = {
      {"0\n", kMenu},
      {"0", kMenu},
      {"", kMenu},                             // end of input
      {"7\n0\n0\n", kMenu + kReturn + kMenu},  // 0 redraws the menu
      {"7\n5\n", kMenu + kReturn},             // anything else ends
      {"2 0 3 -1\n", kMenu + kReturn + kMenu + kReturn},
      {"x\n0\n", kMenu + kInvalid + kChoice},  // only the prompt again
      {"7\nx\n5\n", kMenu + kReturn + kInvalid + kReturn},
      {"7\n", kMenu + kReturn},
  };
  for (const auto& c : cases) {
    const run_result result = run(c.answers);
    EXPECT_EQ(result.status, 0) << c.answers;
    EXPECT_EQ(result.out, c.shown) << c.answers;
    EXPECT_EQ(result.err, "") << c.answers;
  }
  EXPECT_TRUE(fs::is_empty(folder_.path()));
}

TEST_F(DialogueTest, FullQsoIsShownBackAndRecorded) {
  // Answered line by line, or typed ahead on one line.
  for (const std::string& answers :
       {"1\n" + kQso1Answers + "1\n0\n0\n0\n",
        std::string("1\n01-02-2024 0905 930 F4XYZ Jean 14070 SSB Paris 1 0 0 0\n")}) {
    create_logbook();
    const run_result result = run(answers);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kMenu + kEntry + kQso1Summary + kRecorded + kReturn + kMenu);
    EXPECT_EQ(logbook(), format_header(kOwner) +
                             "01-02-2024    905    930       F4XYZ       Jean             14070 "
                             "kHz   SSB    Paris                    \n");
  }
}

TEST_F(DialogueTest, AnswerOtherThanOneAtConfirmationAsksEveryFieldAgain) {
  create_logbook();
  const run_result result = run("1\n" + kQso1Answers + "2\n" + kQso2Answers + "1\n0\n5\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.find(kMenu + kEntry + kQso1Summary + kEntry), 0u);
  EXPECT_EQ(logbook(), format_header(kOwner) + format_qso_line(kQso2));
}

TEST_F(DialogueTest, TwoQsosInOneVisit) {
  create_logbook();
  // 2 at the "nouveau QSO" question starts another QSO, like 1.
  const run_result result = run("1\n" + kQso1Answers + "1\n2\n" + kQso2Answers + "1\n0\n5\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.find(kMenu + kEntry + kQso1Summary + kRecorded + kEntry), 0u);
  EXPECT_TRUE(result.out.ends_with(kRecorded + kReturn));
  EXPECT_EQ(logbook(), format_header(kOwner) + format_qso_line(kQso1) + format_qso_line(kQso2));
}

TEST_F(DialogueTest, MissingLogbookIsReportedAndNothingIsWritten) {
  const run_result result = run("1\n0\n0\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kMenu + kMissing + kReturn + kMenu);
  EXPECT_TRUE(fs::is_empty(folder_.path()));
}

TEST_F(DialogueTest, LogbookDeletedBetweenTwoQsos) {
  create_logbook();
  const run_result result = run("1\n" + kQso1Answers + "1\n1\n5\n", [&](const std::string& shown) {
    if (shown.find(kRecorded) != std::string::npos) fs::remove(path_);
  });
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kMenu + kEntry + kQso1Summary + kRecorded + kMissing + kReturn);
  EXPECT_FALSE(fs::exists(path_));
}

// Archived by hand while the QSO was typed: the QSO starts a new file, and
// only standard error says so.
TEST_F(DialogueTest, LogbookVanishedDuringTheQsoStartsANewOneWithANote) {
  create_logbook();
  const run_result result = run("1\n" + kQso1Answers + "1\n0\n5\n", [&](const std::string& shown) {
    if (shown.ends_with(kEntry) && fs::exists(path_))
      fs::rename(path_, folder_.file("archive.txt"));
  });
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kMenu + kEntry + kQso1Summary + kRecorded + kReturn);
  EXPECT_EQ(result.err, new_logbook_message() + "\n");
  EXPECT_EQ(logbook(), format_qso_line(kQso1));
  EXPECT_EQ(read_file(folder_.file("archive.txt")), format_header(kOwner));
}

TEST_F(DialogueTest, EntryResetsTimesAndFrequencyButKeepsWords) {
  qso_record qso = kQso1;
  for (bool exists : {true, false}) {
    if (exists) create_logbook();
    std::istringstream in;  // ends at once
    std::ostringstream out;
    std::ostringstream err;
    console io(in, out, err);
    qso.debut = 905;
    qso.fin = 930;
    qso.frequence = 14070;
    const dialogue_outcome outcome = qso_entry(io, logbook_, qso);
    EXPECT_EQ(outcome, exists ? dialogue_outcome::quit : dialogue_outcome::back_to_menu);
    const qso_record expected{"01-02-2024", 0, 0, "F4XYZ", "Jean", 0, "SSB", "Paris"};
    EXPECT_EQ(format_qso_line(qso), format_qso_line(expected)) << exists;
    fs::remove(path_);
  }
}

TEST_F(DialogueTest, EndOfInputMidQsoRecordsNothing) {
  for (const std::string& answers : {std::string("1\n01-02-2024\n905\n"), "1\n" + kQso1Answers,
                                     "1\n" + kQso1Answers + "2\n" + kQso1Answers}) {
    create_logbook();
    const run_result result = run(answers);
    EXPECT_EQ(result.status, 0) << answers;
    EXPECT_EQ(logbook(), format_header(kOwner)) << answers;
    EXPECT_EQ(result.out.find("Votre QSO est valide"), std::string::npos) << answers;
  }
}

TEST_F(DialogueTest, WarningAnswerZeroQuitsAndTouchesNothing) {
  write_file(path_, "fait a la main\n");
  const run_result result = run("4\n0\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kMenu + kWarning);
  EXPECT_EQ(logbook(), "fait a la main\n");
}

TEST_F(DialogueTest, CreationAsksAgainOnZeroThenWritesTheConfirmedHeaderOnce) {
  bool touched_early = false;
  const run_result result =
      run("4\n1\nF4OLD\n01-01-2020\n0\nF4ABC 01-01-2024\n1\n0\n0\n", [&](const std::string& shown) {
        if (shown.find(kCreated) == std::string::npos && fs::exists(path_)) touched_early = true;
      });
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kMenu + kWarning + kHeaderEntry +
                            header_confirmation("F4OLD", "01-01-2020") + kHeaderEntry +
                            header_confirmation("F4ABC", "01-01-2024") + kCreated + kReturn +
                            kMenu);
  EXPECT_FALSE(touched_early);
  EXPECT_EQ(logbook(), format_header(kOwner));
}

TEST_F(DialogueTest, UnwritableLogbookEndsWithStatusOneAndAMessage) {
  fs::create_directory(path_);
  const std::string reason =
      "Erreur : le journal de bord \"journal_de_bord.txt\" n'a pas pu etre ecrit (";

  const run_result qso = run("1\n" + kQso1Answers + "1\n0\n0\n");
  EXPECT_EQ(qso.status, 1);
  EXPECT_EQ(qso.out, kMenu + kEntry + kQso1Summary);
  EXPECT_NE(qso.err.find(reason), std::string::npos) << qso.err;
  EXPECT_NE(qso.err.find("dossier"), std::string::npos) << qso.err;
  EXPECT_NE(qso.err.find(format_qso_line(kQso1)), std::string::npos) << qso.err;

  const run_result creation = run("4\n1\nF4ABC\n01-01-2024\n1\n0\n0\n");
  EXPECT_EQ(creation.status, 1);
  EXPECT_EQ(creation.out,
            kMenu + kWarning + kHeaderEntry + header_confirmation("F4ABC", "01-01-2024"));
  EXPECT_NE(creation.err.find(reason), std::string::npos) << creation.err;

  EXPECT_TRUE(fs::is_directory(path_) && fs::is_empty(path_));
}

}  // namespace
}  // namespace velkrin
