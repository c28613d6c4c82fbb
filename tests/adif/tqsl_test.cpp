#include "adif/tqsl.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_folder.hpp"

namespace velkrin::adif {
namespace {

using velkrin::testing::read_file;

// What TQSL 2.6.5 wrote, recorded (tests/adif/data/tqsl/README.md says how).
std::string recorded(const std::string& name) {
  return read_file(std::string(VELKRIN_ADIF_TEST_DATA) + "/tqsl/" + name);
}

std::string calls(const std::vector<tqsl_qso>& qsos) {
  std::string result;
  for (const tqsl_qso& qso : qsos) result += (result.empty() ? "" : " ") + qso.call;
  return result;
}

std::string marks(const tqsl_outcome& o) {
  std::string result = o.signed_may_be_marked ? "signed" : "";
  if (o.duplicates_may_be_marked) result += result.empty() ? "duplicates" : " duplicates";
  return result;
}

using kind = tqsl_outcome_kind;
using names = std::vector<std::string>;

// A successful upload writes "Attempting to upload N QSOs" and a line
// from LoTW before its final status: not recorded (that takes a real
// certificate), written here in the same shape.
const std::string kUploadedTwo =
    "TQSL Version 2.6.5 [unknown]\nSigning using Callsign F4ABC, DXCC Entity FRANCE\n\n"
    "Attempting to upload 2 QSOs\nexport.adi: Log uploaded successfully with result:\n\n"
    "File queued for processing\nAfter reading this message, you may close this program.\n"
    "Final Status: Success(0)\n";
const std::string kDuplicateBlock =
    "Already Uploaded QSO suppressed on line 2\nCALL: DL1XYZ\nQSO_DATE: 20260201\n"
    "TIME_ON: 0905\nBAND: 40m\nMODE: SSB\nFREQ: 7.055\n\n";
const std::string kUploadedOneOfTwo =
    "TQSL Version 2.6.5 [unknown]\nSigning using Callsign F4ABC, DXCC Entity FRANCE\n\n" +
    kDuplicateBlock + "Attempting to upload one QSO\nFinal Status: Some QSOs suppressed(9)\n";
// TQSL speaks the user's language: its French words (from its catalogue),
// in Windows' CRLF.
const std::string kFrench =
    "Signing using Callsign F4ABC, DXCC Entity FRANCE\r\n\r\n"
    "T\xc3\xa9l\xc3\xa9"
    "chargement du QSO d\xc3\xa9j\xc3\xa0 supprim\xc3\xa9 sur la ligne 2\r\n"
    "CALL: DL1XYZ\r\nQSO_DATE: 20260201\r\nTIME_ON: 090500\r\nBAND: 40M\r\nMODE: SSB\r\n\r\n"
    "La date du QSO n'est pas dans la plage des dates sp\xc3\xa9"
    "cifi\xc3\xa9"
    "es sur votre "
    "certificat d'indicatif sur la ligne 3\r\nCALL: G3XYZ\r\nQSO_DATE: 20190505\r\n"
    "TIME_ON: 1200\r\nBAND: 20m\r\nMODE: CW\r\n\r\n"
    "Tentative de t\xc3\xa9l\xc3\xa9"
    "charger 3 QSOs\r\nFinal Status: Some QSOs suppressed(9)\r\n";

TEST(TqslOutcome, ReadsWhatTqslSaidOfARun) {
  // `marks`: what may be marked as sent; `left_out`: the calls of the
  // duplicates / out of the certificate's dates / refused.
  struct {
    const char* name;
    std::string output;
    int status;
    std::size_t qsos_in_file;
    kind expected;
    std::string marks;
    std::string left_out;
    const char* says;  // a piece of the message
  } cases[] = {
      {"all uploaded", kUploadedTwo, 0, 2, kind::uploaded, "signed duplicates", " /  / ",
       "signe et envoye a LoTW 2 QSO."},
      {"one uploaded, one duplicate", kUploadedOneOfTwo, 9, 2, kind::some_skipped,
       "signed duplicates", "DL1XYZ /  / ", "DL1XYZ 20260201 0905 40m SSB : deja envoye"},
      {"uploaded count disagrees", kUploadedOneOfTwo, 9, 3, kind::some_skipped, "duplicates",
       "DL1XYZ /  / ", "ne concordent pas"},
      {"French, CRLF", kFrench, 9, 5, kind::some_skipped, "signed duplicates", "DL1XYZ / G3XYZ / ",
       "G3XYZ 20190505 1200 20m CW : hors des dates"},
      {"signed, one out of range", recorded("signed_saved_one_out_of_range.txt"), 9, 3,
       kind::some_skipped, "signed duplicates", " / G3XYZ / ", "demandez a LoTW un certificat"},
      {"all duplicates", recorded("saved_all_duplicates.txt"), 8, 3, kind::none_new, "duplicates",
       "DL1XYZ ON4ABC / G3XYZ / ", "ecarte les 3 QSO"},
      {"duplicates with a submode", recorded("saved_duplicates_with_submode.txt"), 8, 2,
       kind::none_new, "duplicates", "DL1XYZ F5XYZ /  / ", "F5XYZ 20260203 1830 20m MFSK (FT4)"},
      {"tags in lower case", recorded("saved_duplicate_lowercase_tags.txt"), 8, 1, kind::none_new,
       "duplicates", "DL1XYZ /  / ", "DL1XYZ 20260201 0905 40m SSB"},
      {"upload: duplicate and out of range", recorded("upload_duplicate_and_out_of_range.txt"), 8,
       2, kind::none_new, "duplicates", "DL1XYZ / G3XYZ / ", "hors des dates"},
      {"no network", recorded("upload_no_network.txt"), 11, 1, kind::network, "", " /  / ",
       "Internet connection is down"},
      {"invalid mode, then no network", recorded("upload_invalid_mode_no_network.txt"), 11, 2,
       kind::network, "", " /  / SP9ABC", "Recommencez plus tard"},
      {"no display", recorded("no_display.txt"), 255, 3, kind::no_display, "", " /  / ",
       "xvfb-run velkrin-adif --lotw"},
      {"unknown location", recorded("location_unknown.txt"), 10, 3, kind::location_unknown, "",
       " /  / ", "Station Location"},
      {"no certificate", recorded("certificate_missing.txt"), 8, 3, kind::certificate_missing, "",
       " /  / ", "Callsign Certificate"},
      {"input missing", recorded("input_missing.txt"), 5, 3, kind::input_unreadable, "", " /  / ",
       "No such file or directory"},
      {"database locked", "Final Status: The duplicates database is locked(13)\n", 13, 1,
       kind::other, "", " /  / ", "un autre TQSL"},
  };
  for (const auto& c : cases) {
    const tqsl_outcome o = interpret_tqsl_run(
        {c.status, c.output, false, false, kTqslTimeLimitMs, "Maison", c.qsos_in_file});
    EXPECT_EQ(o.kind, c.expected) << c.name;
    EXPECT_EQ(marks(o), c.marks) << c.name;
    EXPECT_EQ(calls(o.duplicates) + " / " + calls(o.out_of_range) + " / " + calls(o.refused),
              c.left_out)
        << c.name;
    EXPECT_NE(o.message.find(c.says), std::string::npos) << c.name << "\n" << o.message;
  }
}

TEST(TqslOutcome, IdentifiesEachLeftOutQso) {
  const tqsl_outcome o = interpret_tqsl_run(
      {8, recorded("saved_duplicates_with_submode.txt"), false, false, 0, "Maison", 2});
  ASSERT_EQ(o.duplicates.size(), 2u);
  const tqsl_qso& q = o.duplicates[1];
  EXPECT_EQ(q.call + "|" + q.date + "|" + q.time + "|" + q.band + "|" + q.mode + "|" + q.submode,
            "F5XYZ|20260203|1830|20m|MFSK|FT4");
  EXPECT_EQ(q.line, 3);
  EXPECT_EQ(q.reason, "Already Uploaded QSO suppressed");
}

// Nothing is marked when the run was cut short or its output cannot be
// trusted whole.
TEST(TqslOutcome, MarksNothingWhenUnsure) {
  const tqsl_outcome killed =
      interpret_tqsl_run({-1, kUploadedOneOfTwo, false, true, 600000, "Maison", 2});
  EXPECT_EQ(killed.kind, kind::timed_out);
  EXPECT_FALSE(killed.signed_may_be_marked || killed.duplicates_may_be_marked);
  EXPECT_NE(killed.message.find("600 secondes"), std::string::npos);

  const tqsl_outcome cut = interpret_tqsl_run({9, kUploadedOneOfTwo, true, false, 0, "M", 2});
  EXPECT_FALSE(cut.signed_may_be_marked || cut.duplicates_may_be_marked);

  // A left-out record without a CALL cannot be told apart from the others.
  const tqsl_outcome unnamed = interpret_tqsl_run(
      {9, "Invalid contact - QSO does not specify a Callsign on line 4\nQSO_DATE: 20260201\n\n",
       false, false, 0, "M", 2});
  EXPECT_EQ(unnamed.unidentified, 1);
  EXPECT_FALSE(unnamed.signed_may_be_marked);
}

TEST(TqslOutcome, ShowsControlCharactersOfTqslAndOfTheLocation) {
  const tqsl_outcome o =
      interpret_tqsl_run({10, "The selected station location could not be found\x1b[2J\n", false,
                          false, 0, "Mai\x1bson", 1});
  EXPECT_EQ(o.message.find('\x1b'), std::string::npos) << o.message;
  EXPECT_NE(o.message.find("Mai^[son"), std::string::npos) << o.message;
}

TEST(TqslCommand, ArgumentsAndWindowsLocations) {
  EXPECT_EQ(tqsl_upload_arguments("Maison F4ABC", "C:\\x y.adi"),
            (names{"-d", "-u", "-a", "compliant", "-x", "-l", "Maison F4ABC", "C:\\x y.adi"}));
  EXPECT_EQ(tqsl_windows_locations("C:\\Program Files (x86)", "C:\\Program Files\\"),
            (names{"C:\\Program Files (x86)\\TrustedQSL\\tqsl.exe",
                   "C:\\Program Files\\TrustedQSL\\tqsl.exe"}));
  EXPECT_EQ(tqsl_windows_locations("", "D:\\Apps"), (names{"D:\\Apps\\TrustedQSL\\tqsl.exe"}));
}

}  // namespace
}  // namespace velkrin::adif
