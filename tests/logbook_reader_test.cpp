#include "logbook/logbook_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logbook/line_format.hpp"

namespace velkrin {
namespace {

const logbook_header kOwner{"F4ABC", "01-02-2026"};
const qso_record kQso{"01-02-2026", 905, 930, "F4XYZ", "Helene", 7055, "J3E", "Rennes"};

// What the reader made of a text, one entry per item: "Q7 F4ABC F4XYZ"
// (line, owner, call sign), "H1 F4ABC" or "U8 reason".
std::vector<std::string> read_all(std::string_view text) {
  text_source source(text);
  logbook_reader reader(source);
  std::vector<std::string> items;
  for (logbook_item item; reader.next(item);) {
    const std::string line = std::to_string(item.line);
    switch (item.what) {
      case logbook_item::kind::qso:
        items.push_back("Q" + line + " " +
                        (reader.header() ? reader.header()->header.indicatif : "?") + " " +
                        item.qso.indicatif);
        break;
      case logbook_item::kind::header:
        items.push_back("H" + line + " " + reader.header()->header.indicatif);
        break;
      case logbook_item::kind::unreadable:
        items.push_back("U" + line + " " + item.reason.substr(0, 16));
        break;
    }
  }
  if (reader.failure()) items.push_back("F " + *reader.failure());
  return items;
}

TEST(LogbookReaderTest, GivesEachQsoTheNearestHeaderAbove) {
  const std::string qso = format_qso_line(kQso);
  const std::string text = qso + format_header(kOwner) + "\nECHO est activ\x82.\n" + qso +
                           format_header({"F5ZZZ", "01-01-2027"}) + qso.substr(0, qso.size() - 1);
  EXPECT_EQ(read_all(text), (std::vector<std::string>{"Q1 ? F4XYZ", "H2 F4ABC", "Q10 F4ABC F4XYZ",
                                                      "H11 F5ZZZ", "Q17 F5ZZZ F4XYZ"}));
}

TEST(LogbookReaderTest, FiveLinesOfAHeaderAreNone) {
  std::string header = format_header(kOwner);
  header.erase(header.rfind('-', header.size() - 2) - kHeaderRuleWidth + 1);  // the last rule
  const std::string qso = format_qso_line(kQso);
  // The QSO below may not be taken for the missing sixth line; the owner's
  // line is reported, the other header lines skipped.
  EXPECT_EQ(read_all(header + qso),
            (std::vector<std::string>{"U2 en-tete incomple", "Q6 ? F4XYZ"}));
  EXPECT_EQ(read_all(header), (std::vector<std::string>{"U2 en-tete incomple"}));
}

TEST(LogbookReaderTest, ReportsLinesThatAreNoQso) {
  const std::string text =
      "01-02-2026 905 930 F4XYZ Helene 7055 kHz J3E\n"
      "01-02-2026 9h05 930 F4XYZ Helene 7055 kHz J3E Rennes\n"
      "01-02-2026 905 930 F4XYZ - 7055 kHz - -\r\n" +
      std::string(kMaxLogbookLineBytes + 10, 'x') + "\n" + format_qso_line(kQso);
  EXPECT_EQ(read_all(text),
            (std::vector<std::string>{"U1 ligne non reconn", "U2 debut \"9h05\" n'e", "Q3 ? F4XYZ",
                                      "U4 ligne trop longu", "Q5 ? F4XYZ"}));
}

TEST(LogbookReaderTest, DecodesEachLineFromItsOwnEncoding) {
  const struct {
    std::string_view stored;
    line_encoding encoding;
  } cases[] = {{"H\xc3\xa9l\xc3\xa8ne", line_encoding::utf8},
               {"H\x82l\x8ane", line_encoding::cp850},
               {"H\xe9l\xe8ne", line_encoding::cp1252}};
  for (const auto& c : cases) {
    qso_record qso = kQso;
    qso.prenom = c.stored;
    const std::string line = format_qso_line(qso);
    text_source source(line);
    logbook_reader reader(source);
    logbook_item item;
    ASSERT_TRUE(reader.next(item));
    EXPECT_EQ(item.reason, "");
    EXPECT_EQ(item.encoding, c.encoding);
    EXPECT_EQ(item.qso.prenom, "H\xc3\xa9l\xc3\xa8ne") << c.stored;
  }
}

TEST(LogbookReaderTest, RefusesFilesThatAreNoText) {
  EXPECT_EQ(read_all(std::string("\xff\xfe", 2) + "0\0001\0"),
            (std::vector<std::string>{"F il est enregistre en UTF-16 ; l'ouvrir avec le Bloc-notes "
                                      "et l'enregistrer en UTF-8"}));
  EXPECT_EQ(read_all(std::string(100, '\0') + "\n"),
            (std::vector<std::string>{"F ce n'est pas un fichier texte"}));
}

// A line cut by the end of a 64 KiB piece reads as the others.
TEST(LogbookReaderTest, ReadsLinesAcrossPieces) {
  std::string text = format_header(kOwner, "\r\n");
  for (int i = 0; i < 2000; ++i) text += format_qso_line(kQso, "\r\n");
  text_source source(text);
  logbook_reader reader(source);
  std::size_t qsos = 0;
  for (logbook_item item; reader.next(item);) {
    ASSERT_EQ(item.what == logbook_item::kind::unreadable, false) << item.line;
    qsos += item.what == logbook_item::kind::qso && item.qso.lieu == "Rennes";
  }
  EXPECT_EQ(qsos, 2000u);
  EXPECT_EQ(reader.line_end(), "\r\n");
}

// The filter skips only lines written by the program; a hand-made line is
// still read, and reported when it cannot be.
TEST(LogbookReaderTest, FilterSkipsOnlyLinesInTheProgramsShape) {
  qso_record other = kQso;
  other.indicatif = "F6AAA";
  const std::string text = format_header(kOwner) + format_qso_line(other) + format_qso_line(kQso) +
                           "01-02-2026 905 930 F6AAA Helene 7055 kHz J3E Rennes\n" +
                           "01-02-2026 9h05 930 F6AAA - 7055 kHz - -\n";
  text_source source(text);
  logbook_reader reader(source);
  reader.set_line_filter([](std::string_view line) { return line.find("F4XYZ") != line.npos; });
  std::vector<std::size_t> lines;
  for (logbook_item item; reader.next(item);) lines.push_back(item.line);
  EXPECT_EQ(lines, (std::vector<std::size_t>{1, 8, 9, 10}));
}

// A line in the program's layout is read by its columns, with the same
// meaning of "-"; with read_values_only() the record is left as it was.
TEST(LogbookReaderTest, HandsOutValuesOfWrittenLines) {
  qso_record dashes = kQso;
  dashes.prenom = "-";
  dashes.mode = "-";
  const std::string text = format_qso_line(dashes) + format_qso_line(kQso);
  text_source source(text);
  logbook_reader reader(source);
  reader.read_values_only();
  logbook_item item;
  item.qso.indicatif = "untouched";
  ASSERT_TRUE(reader.next(item));
  const qso_record emptied{"01-02-2026", 905, 930, "F4XYZ", "", 7055, "", "Rennes"};
  EXPECT_EQ(format_qso_line(item.values.record()), format_qso_line(emptied));
  ASSERT_TRUE(reader.next(item));
  EXPECT_EQ(format_qso_line(item.values.record()), format_qso_line(kQso));
  EXPECT_EQ(item.qso.indicatif, "untouched");
}

}  // namespace
}  // namespace velkrin
