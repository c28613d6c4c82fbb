#include "countries/supercheck.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velkrin::countries {
namespace {

std::string supercheck_path() {
  const char* given = std::getenv("VELKRIN_SUPERCHECK_FILE");
  return given != nullptr ? given : "/usr/share/hamradio-files/MASTER.SCP";
}

TEST(SupercheckTest, ReadsCallsAndSkipsTheRest) {
  supercheck_list list =
      parse_supercheck("#\r\n# Release 2023\r\nF4ABC\r\n\r\n  dl1xyz \nW1AW/P\nNOT A CALL\nK1ABC");
  EXPECT_EQ(list.size(), 4u);
  for (const std::string_view call : {"F4ABC", "DL1XYZ", "W1AW/P", "K1ABC"}) {
    EXPECT_TRUE(list.contains(call)) << call;
  }
  EXPECT_FALSE(list.contains("# Release 2023"));
  EXPECT_FALSE(list.contains("NOT A CALL"));
  EXPECT_FALSE(list.contains("W1AW"));

  // Moved, its views still lead into its own text.
  const supercheck_list moved = std::move(list);
  EXPECT_TRUE(moved.contains("DL1XYZ"));
}

TEST(SupercheckTest, ReadsThePackagedFile) {
  std::ifstream in(supercheck_path(), std::ios::binary);
  if (!in) GTEST_SKIP() << supercheck_path() << " is missing (hamradio-files)";
  std::stringstream text;
  text << in.rdbuf();
  const supercheck_list list = parse_supercheck(text.str());
  std::size_t lines = 0;
  std::string line;
  std::istringstream again(text.str());
  while (std::getline(again, line)) {
    if (line.empty() || line.front() == '#') continue;
    ++lines;
    ASSERT_TRUE(list.contains(line)) << line;
  }
  EXPECT_EQ(list.size(), lines);
}

// Which calls are flagged, against a logbook whose listed calls F4ABC,
// DL1XYZ, W1AW/P and K1AB are logged several times.
TEST(SupercheckTest, FlagsSingletonsOneEditFromAFrequentListedCall) {
  const supercheck_list list =
      parse_supercheck("F4ABC\nF4ABD\nDL1XYZ\nW1AW/P\nK1AB\nK1ABD\nON4ZZ\nON4ZY\n");
  const std::vector<call_count> logbook{
      {"F4ABC", 5},   {"DL1XYZ", 2}, {"W1AW/P", 3},
      {"K1AB", 2},    {"ON4ZZ", 1},  {"F4ABX", 1},  // substitution
      {"DL1XY", 1},                                 // deletion
      {"DL1XYZZ", 1},                               // insertion
      {"W1AW/Q", 1},                                // the whole call with its portable part
      {"W1AW", 1},                                  // two characters from W1AW/P: not near
      {"F4ABD", 1},                                 // listed itself: not a typo
      {"K1ABC", 1},   // near K1AB only (K1ABD is listed but logged zero times)
      {"ON4ZX", 1},   // near ON4ZZ, logged once only
      {"F4ABCC", 2},  // logged twice: not a typo
      {"F4AB", 1},    // near F4ABC; F4ABD is listed but not logged
      {"K1ABB", 1},   // near K1AB only
  };
  const std::vector<likely_typo> typos = likely_typos(logbook, list);
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected{
      {"DL1XY", {"DL1XYZ"}}, {"DL1XYZZ", {"DL1XYZ"}}, {"F4AB", {"F4ABC"}},    {"F4ABX", {"F4ABC"}},
      {"K1ABB", {"K1AB"}},   {"K1ABC", {"K1AB"}},     {"W1AW/Q", {"W1AW/P"}},
  };
  ASSERT_EQ(typos.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(typos[i].call, expected[i].first);
    EXPECT_EQ(typos[i].near, expected[i].second) << typos[i].call;
  }
}

// A call near several frequent ones names them all, sorted.
TEST(SupercheckTest, NamesEveryCandidate) {
  const supercheck_list list = parse_supercheck("G3ABC\nG4ABC\nG3ABD\n");
  const std::vector<call_count> logbook{
      {"G4ABC", 2}, {"G3ABD", 4}, {"G3ABC", 2}, {"G3AB", 1}, {"G5ABC", 1}};
  const auto typos = likely_typos(logbook, list);
  ASSERT_EQ(typos.size(), 2u);
  EXPECT_EQ(typos[0].call, "G3AB");
  EXPECT_EQ(typos[0].near, (std::vector<std::string>{"G3ABC", "G3ABD"}));
  EXPECT_EQ(typos[1].call, "G5ABC");
  EXPECT_EQ(typos[1].near, (std::vector<std::string>{"G3ABC", "G4ABC"}));
}

}  // namespace
}  // namespace velkrin::countries
