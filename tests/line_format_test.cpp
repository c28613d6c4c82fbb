#include "logbook/line_format.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkrin {
namespace {

const std::string kRule(96, '-');
const std::string kTitles =
    "Date      ;  Debut;  Fin  ;    Indicatif;  Prenom        ; Frequence;   Mode;  Lieu "
    "d'emission; ";

std::string with_crlf(const std::string& text) {
  std::string result;
  for (char c : text) result += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return result;
}

qso_record sample_qso() { return {"01-02-2024", 905, 930, "F4XYZ", "Jean", 14070, "SSB", "Paris"}; }

TEST(LineFormatTest, HeaderBlockIsExact) {
  const std::string owner_line =
      "Journal de Bord de : F4ABC        .   Date de debut du Journal : 01-01-2024   .";
  ASSERT_EQ(owner_line.size(), 79u);
  const std::string expected = kRule + "\n" + owner_line + "\nEn Heure Universelle (UTC)\n" +
                               kRule + "\n" + kTitles + "\n" + kRule + "\n";
  const logbook_header header{"F4ABC", "01-01-2024"};
  EXPECT_EQ(format_header(header), expected);
  EXPECT_EQ(format_header(header).size(), 495u);
  EXPECT_EQ(format_header(header, "\r\n"), with_crlf(expected));
  EXPECT_EQ(format_header(header, "\r\n").size(), 501u);
  // Values of up to 12 characters never change the block's length.
  EXPECT_EQ(format_header({"", ""}).size(), 495u);
  EXPECT_EQ(format_header({"ABCDEFGHIJK", "31-12-20245"}).size(), 495u);
}

TEST(LineFormatTest, TitlesStandOverTheirDataColumns) {
  ASSERT_EQ(kTitles.size(), 96u);
  std::vector<std::size_t> semicolons;
  for (std::size_t i = 0; i < kTitles.size(); ++i) {
    if (kTitles[i] == ';') semicolons.push_back(i);
  }
  EXPECT_EQ(semicolons, (std::vector<std::size_t>{10, 18, 26, 40, 57, 68, 76, 94}));
  EXPECT_EQ(kTitles.back(), ' ');

  // Each title begins where its value begins in a QSO line whose values
  // fill their columns.
  const qso_record full{"31-12-2024",     2359,   1234,  "F4ABCDEFG",
                        "Jean-Baptistee", 999999, "SSB", "Saint_Martin_de_la_Plaine"};
  const std::string line = format_qso_line(full);
  struct {
    std::string title;
    std::size_t column;
    std::string value;
  } cases[] = {
      {"Date", 0, full.date},
      {"Debut", 13, "2359"},
      {"Fin", 21, "1234"},
      {"Indicatif", 31, full.indicatif},
      {"Prenom", 43, "Jean-Baptistee"},
      {"Frequence", 59, "999999"},
      {"Mode", 72, full.mode},
      {"Lieu d'emission", 79, full.lieu},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kTitles.substr(c.column, c.title.size()), c.title) << c.title;
    EXPECT_EQ(line.substr(c.column, c.value.size()), c.value) << c.title;
  }
}

TEST(LineFormatTest, QsoLineColumns) {
  const std::string line = format_qso_line(sample_qso());
  EXPECT_EQ(line,
            "01-02-2024    905    930       F4XYZ       Jean             14070 kHz   SSB    Paris"
            "                    \n");
  ASSERT_EQ(line.size(), 105u);
  EXPECT_EQ(line.substr(13, 12), " 905    930 ");  // start right-, end left-aligned
  EXPECT_EQ(format_qso_line(sample_qso(), "\r\n"), line.substr(0, 104) + "\r\n");
}

TEST(LineFormatTest, QsoLineEdgeCases) {
  qso_record qso = sample_qso();
  qso.debut = 0;
  EXPECT_EQ(format_qso_line(qso).substr(13, 4), "   0");

  qso = sample_qso();
  qso.frequence = 14070;  // five digits: two blanks before them
  EXPECT_EQ(format_qso_line(qso).substr(58, 7), "  14070");

  qso.frequence = 1296000;  // seven digits push " kHz" one column right
  std::string line = format_qso_line(qso);
  EXPECT_EQ(line.substr(58, 12), " 1296000 kHz");
  EXPECT_EQ(line.size(), 106u);

  qso = sample_qso();
  qso.lieu = std::string(25, 'L');
  line = format_qso_line(qso);
  EXPECT_EQ(line.size(), 105u);
  EXPECT_EQ(line.substr(79), qso.lieu + "\n");
  qso.lieu = std::string(40, 'L');  // a longer place lengthens the line
  EXPECT_EQ(format_qso_line(qso).substr(79), qso.lieu + "\n");

  qso = sample_qso();
  qso.mode = "FM";
  EXPECT_EQ(format_qso_line(qso).substr(72, 7), "FM     ");
  qso.indicatif = "F4ABCDEFGHI";  // two over its column: the rest shifts by two
  line = format_qso_line(qso);
  EXPECT_EQ(line.size(), 107u);
  EXPECT_EQ(line.substr(31, 14), "F4ABCDEFGHI   ");
  EXPECT_EQ(line.substr(81, 5), "Paris");
}

TEST(LineFormatTest, FindsAHeaderWhateverItsValuesAndLineEnds) {
  const std::string qsos = format_qso_line(sample_qso()) + "hand-made line";
  for (const logbook_header& header :
       {logbook_header{"F4ABC", "01-01-2024"}, logbook_header{"", ""},
        logbook_header{"ABCDEFGHIJK", "x"}}) {
    for (const std::string eol : {"\n", "\r\n"}) {
      const std::string block = format_header(header, eol);
      const auto found = find_header(block + qsos);
      ASSERT_TRUE(found.has_value()) << header.indicatif << " " << eol.size();
      EXPECT_EQ(found->length, block.size());
      EXPECT_EQ(found->eol, eol);
    }
  }
}

// What an editor does to a file: trailing blanks cut (or added), a
// byte-order mark in front (Notepad), no line end after the last line.
TEST(LineFormatTest, FindsAHeaderAsEditorsSaveIt) {
  const std::string block = format_header({"F4ABC", "01-01-2024"}, "\r\n");
  std::string trimmed;
  for (std::size_t start = 0; start < block.size();) {
    const auto end = block.find("\r\n", start);
    trimmed += std::string(trim_right(block.substr(start, end - start))) + " \t\r\n";
    start = end + 2;
  }
  const std::string bom = "\xef\xbb\xbf";
  for (const std::string& text : {trimmed, bom + block, bom + trimmed}) {
    const auto found = find_header(text + "rest");
    ASSERT_TRUE(found.has_value()) << text;
    EXPECT_EQ(found->bom, text.starts_with(bom) ? 3u : 0u);
    EXPECT_EQ(found->eol, "\r\n");
  }
  EXPECT_EQ(find_header(bom + trimmed + "rest")->length, bom.size() + trimmed.size());
  EXPECT_TRUE(find_header(block.substr(0, block.size() - 2)).has_value());
  const logbook_header owner =
      parse_owner_line("Journal de Bord de : F4ABC/P  .   Date de debut du Journal : 1-1-2024 .");
  EXPECT_EQ(owner.indicatif + "|" + owner.date_debut, "F4ABC/P|1-1-2024");
}

TEST(LineFormatTest, RejectsNearMissHeaders) {
  const std::string block = format_header({"F4ABC", "01-01-2024"});
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = block;
    return text.replace(text.find(from), from.size(), to);
  };
  const std::string cases[] = {
      "",
      "Mon journal\nF4ABC\n",
      replaced("Lieu d'emission", "Lieu d'emision"),
      replaced("En Heure Universelle (UTC)", "En heure universelle (UTC)"),
      replaced(kRule + "\n", std::string(95, '-') + "\n"),  // a 95-dash rule
      replaced(kRule + "\n", std::string(97, '-') + "\n"),
      replaced("Journal de Bord de : ", "Journal de bord de : "),
      replaced("Journal de Bord de :", "Journal de Bord de"),
      "\xef\xbb\xbf\xef\xbb\xbf" + block,  // only one byte-order mark
  };
  for (const std::string& text : cases) EXPECT_FALSE(find_header(text).has_value()) << text;
  // Every truncation of the block before its last row of dashes is whole.
  for (std::size_t length = 0; length + 1 < block.size(); ++length) {
    EXPECT_FALSE(find_header(block.substr(0, length)).has_value()) << length;
  }
}

}  // namespace
}  // namespace velkrin

namespace velkrin {
namespace {

// The words of a line as one text, "|" between them; "none" when the split
// refused the line.
template <typename Split>
std::string words_of(std::string_view line, Split split) {
  std::string_view words[kQsoWordCount];
  if (!split(line, words)) return "none";
  std::string joined;
  for (const std::string_view word : words) joined.append(joined.empty() ? "" : "|").append(word);
  return joined;
}

// A line read by its columns gives the words that blanks give; a line that
// the columns cannot vouch for is left to the blanks.
TEST(LineFormatTest, ColumnsReadWhatBlanksReadOrLeaveTheLine) {
  const auto line = [](qso_record qso) {
    return std::string(trim_right(format_qso_line(qso, "")));
  };
  qso_record wide = sample_qso();
  wide.mode = "RTTY";
  wide.lieu = "Toulouse_(QRA_JN03)_et_environs";
  wide.prenom = "Fran\xc3\xa7oise";
  qso_record odd_numbers = sample_qso();
  odd_numbers.debut = -5;
  odd_numbers.frequence = 144300;
  qso_record long_call = sample_qso();
  long_call.indicatif = "EA8/F4XYZ/P";
  qso_record no_name = sample_qso();
  no_name.prenom = "";
  std::string tab_in_name = line(sample_qso());
  tab_in_name.replace(tab_in_name.find("Jean") + 4, 1, "\t");
  std::string blank_in_call = line(sample_qso());
  blank_in_call.replace(blank_in_call.find("F4XYZ") + 2, 1, " ");
  std::string glued_unit = line(sample_qso());
  glued_unit.replace(glued_unit.find(" kHz"), 1, "x");

  const struct {
    std::string line;
    std::string by_columns;
    std::string on_blanks;
  } cases[] = {
      {line(sample_qso()), "01-02-2024|905|930|F4XYZ|Jean|14070|kHz|SSB|Paris", ""},
      {line(wide),
       "01-02-2024|905|930|F4XYZ|Fran\xc3\xa7oise|14070|kHz|RTTY|Toulouse_(QRA_JN03)_et_environs",
       ""},
      {line(odd_numbers), "01-02-2024|-5|930|F4XYZ|Jean|144300|kHz|SSB|Paris", ""},
      // A wider call shifts the unit out of its column.
      {line(long_call), "none", "01-02-2024|905|930|EA8/F4XYZ/P|Jean|14070|kHz|SSB|Paris"},
      {line(no_name), "none", "none"},
      {tab_in_name, "none", "01-02-2024|905|930|F4XYZ|Jean|14070|kHz|SSB|Paris"},
      {blank_in_call, "none", "none"},
      {glued_unit, "none", "none"},
      {line(sample_qso()) + "\x1b", "none",
       "01-02-2024|905|930|F4XYZ|Jean|14070|kHz|SSB|Paris\x1b"},
      {line(sample_qso()) + " Nord", "none", "none"},
      // Blanks left at the end: the columns leave the line, the blanks end there.
      {line(sample_qso()) + " \t ", "none", "01-02-2024|905|930|F4XYZ|Jean|14070|kHz|SSB|Paris"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(words_of(c.line, split_by_columns), c.by_columns) << c.line;
    const std::string& expected = c.by_columns == "none" ? c.on_blanks : c.by_columns;
    EXPECT_EQ(words_of(c.line, split_on_blanks), expected) << c.line;
  }
}

}  // namespace
}  // namespace velkrin
