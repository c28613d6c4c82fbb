#include "logbook/details_file.hpp"

#include <gtest/gtest.h>

#include <string>

#include "logbook/line_format.hpp"
#include "logbook/logbook_file.hpp"
#include "logbook/logbook_reader.hpp"
#include "support/temp_folder.hpp"

namespace velkrin {
namespace {

using velkrin::testing::read_file;
using velkrin::testing::write_file;

const logbook_header kOwner{"F4ABC", "01-01-2024"};
const qso_record kQso{"02-03-2024", 905, 930, "dl1xyz", "Hans", 14074, "FT8", "Paris"};

TEST(DetailsPath, IsNamedAfterTheLogbook) {
  EXPECT_EQ(details_path_for("journal_de_bord.txt"), "journal_de_bord.details.adi");
  EXPECT_EQ(details_path_for("dir/2025.txt"), "dir/2025.details.adi");
  EXPECT_EQ(details_path_for("journal"), "journal.details.adi");
  EXPECT_EQ(details_path_for("journal.log"), "journal.log.details.adi");
}

// The key that the line alone gives finds the record written for it, after
// any edit of the columns outside the key, and never after an edit inside it.
TEST(DetailsKey, JoinsALineToItsRecordOnly) {
  const details_record record =
      details_for(kQso, {{"TIME_ON", "090515"}, {"RST_SENT", "-10"}, {"CALL", "X"}});
  ASSERT_TRUE(record.key());
  EXPECT_EQ(*record.key(), *details_key_of(kQso));
  EXPECT_EQ(*record.find("CALL"), "DL1XYZ");
  EXPECT_EQ(*record.find("TIME_ON"), "090515");
  EXPECT_EQ(*record.find("BAND"), "20m");
  EXPECT_EQ(*record.find(kClassField), "FT8");
  EXPECT_TRUE(record.has_more_than_key());

  const struct {
    void (*edit)(qso_record&);
    bool same_key;
  } kEdits[] = {
      {[](qso_record& q) { q.prenom = "Johann"; }, true},
      {[](qso_record& q) { q.fin = 1010; }, true},
      {[](qso_record& q) { q.lieu = "Lyon"; }, true},
      {[](qso_record& q) { q.frequence = 14076; }, true},
      {[](qso_record& q) { q.indicatif = "DL1XYY"; }, false},
      {[](qso_record& q) { q.debut = 906; }, false},
      {[](qso_record& q) { q.date = "03-03-2024"; }, false},
      {[](qso_record& q) { q.frequence = 7074; }, false},
      {[](qso_record& q) { q.mode = "MFSK"; }, false},
  };
  for (std::size_t i = 0; i < std::size(kEdits); ++i) {
    qso_record edited = kQso;
    kEdits[i].edit(edited);
    EXPECT_EQ(*details_key_of(edited) == *record.key(), kEdits[i].same_key) << "edit " << i;
  }
}

class DetailsFileTest : public ::testing::Test {
 protected:
  std::string logbook_path() const { return folder_.file("journal_de_bord.txt"); }
  std::string details_path() const { return details_path_for(logbook_path()); }

  void write_logbook(const std::vector<qso_record>& qsos) {
    std::string text = format_header(kOwner);
    for (const auto& qso : qsos) text += format_qso_line(qso);
    write_file(logbook_path(), text);
  }

  // The record that the shared reader hands with line `line`.
  std::optional<details_record> details_of_line(std::size_t line) {
    details_reader details;
    file_source source;
    EXPECT_TRUE(source.open(logbook_path(), &details).ok());
    logbook_reader reader(source);
    reader.attach_details(details);
    logbook_item item;
    while (reader.next(item)) {
      if (item.line == line && item.details) return *item.details;
    }
    return std::nullopt;
  }

  velkrin::testing::temp_folder folder_;
};

struct no_follower : logbook_follower {
  void restart() override {}
  void header(const logbook_header&) override {}
  void qso(const qso_record&) override {}
};

TEST_F(DetailsFileTest, AppendsTheRecordBeforeItsLineAndReusesAnOrphan) {
  write_logbook({});
  const details_record record =
      details_for(kQso, {{"RST_SENT", "-10"}, {"COMMENT", "\xc3\xa9t\xc3\xa9"}});
  no_follower follower;
  ASSERT_FALSE(append_qso_checked(
                   logbook_file{logbook_path()}, kQso, follower, [] { return true; }, &record)
                   .error);
  const std::string first = read_file(details_path());
  EXPECT_NE(first.find("<APP_VELKRIN_LOGBOOK_OWNER:5>F4ABC"), std::string::npos);
  EXPECT_EQ(*details_of_line(7), record);

  // A run killed after the record, before its line; then one killed halfway
  // through the next record: the next append cuts the torn record off and
  // takes the whole one as its own.
  write_file(details_path(), first + "<CALL:6>G4ABC<QSO_DA");
  write_logbook({});
  ASSERT_FALSE(append_qso_checked(
                   logbook_file{logbook_path()}, kQso, follower, [] { return true; }, &record)
                   .error);
  EXPECT_EQ(read_file(details_path()), first);
  EXPECT_EQ(*details_of_line(7), record);
}

TEST_F(DetailsFileTest, LeavesTheDetailsOfAnotherLogbookUnread) {
  write_logbook({kQso});
  write_file(details_path(),
             format_details_header({"F4ABC", "01-01-2020"}, "\n") +
                 format_details_record(details_for(kQso, {{"RST_SENT", "1"}}), "\n"));
  EXPECT_FALSE(details_of_line(7));
  details_reader details;
  details.open(logbook_path());
  EXPECT_EQ(details.load(&kOwner), details_state::other_logbook);
  EXPECT_NE(details_notice(details, logbook_path()).find("autre journal"), std::string::npos);

  no_follower follower;
  const details_record record = details_for(kQso, {{"RST_SENT", "2"}});
  const auto done = append_qso_checked(
      logbook_file{logbook_path()}, kQso, follower, [] { return true; }, &record);
  EXPECT_TRUE(done.error);
  EXPECT_FALSE(done.appended);
}

TEST_F(DetailsFileTest, EditsKeepEachLineWithItsDetails) {
  qso_record other = kQso;
  other.indicatif = "G4ABC";
  write_logbook({kQso, other, kQso});
  const logbook_file logbook{logbook_path()};

  // complete: a typed QSO gets its reports; lines 7 and 9 share the key.
  qso_edit complete{qso_edit_kind::complete, 7, std::nullopt,
                    [](qso_record& qso, details_record& details) -> std::optional<std::string> {
                      if (details.fields.empty()) details = details_for(qso, {});
                      details.set("RST_SENT", "59");
                      return std::nullopt;
                    }};
  ASSERT_FALSE(edit_qso(logbook, complete).error);
  ASSERT_TRUE(details_of_line(9));
  EXPECT_EQ(*details_of_line(9)->find("RST_SENT"), "59");

  // corrige: the call sign changes; the details follow line 7 and stay
  // for line 9, which still holds the old key.
  qso_edit correct{qso_edit_kind::correct, 7, format_qso_line(kQso, ""),
                   [](qso_record& qso, details_record&) -> std::optional<std::string> {
                     qso.indicatif = "DL1XYY";
                     return std::nullopt;
                   }};
  const qso_edit_result corrected = edit_qso(logbook, correct);
  ASSERT_FALSE(corrected.error);
  ASSERT_FALSE(corrected.refusal);
  EXPECT_NE(read_file(logbook_path()).find("DL1XYY"), std::string::npos);
  EXPECT_EQ(*details_of_line(7)->find("CALL"), "DL1XYY");
  EXPECT_EQ(*details_of_line(9)->find("CALL"), "DL1XYZ");
  // The line no longer reads as expected: refused, nothing changed.
  const std::string before = read_file(logbook_path());
  EXPECT_TRUE(edit_qso(logbook, correct).refusal);
  EXPECT_EQ(read_file(logbook_path()), before);

  // supprime: line 9 goes, and with it the old key's details.
  ASSERT_FALSE(edit_qso(logbook, {qso_edit_kind::remove, 9, std::nullopt, {}}).error);
  const std::string details = read_file(details_path());
  EXPECT_EQ(details.find("<CALL:6>DL1XYZ"), std::string::npos) << details;
  EXPECT_NE(details.find("<CALL:6>DL1XYY"), std::string::npos) << details;
  EXPECT_TRUE(edit_qso(logbook, {qso_edit_kind::remove, 3, std::nullopt, {}}).refusal);
}

}  // namespace
}  // namespace velkrin
