#include "console/visible_text.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace velkrin {
namespace {

TEST(VisibleText, ShowsEveryControlAndInvalidByteAndKeepsTheRest) {
  const struct {
    std::string_view raw;
    std::string_view shown;
  } cases[] = {
      {"F4ABC Besançon Œ €", "F4ABC Besançon Œ €"},
      {"\x1B]0;PWNED\x07\x1B[2J", "^[]0;PWNED^G^[[2J"},
      {"a\tb\r\n\x7F", "a^Ib^M^J^?"},
      {"\xC2\x9B"
       "31m \xC2\x85",
       "<U+009B>31m <U+0085>"},
      {"\xE2\x80\xAEtxt.exe \xE2\x81\xA6", "<U+202E>txt.exe <U+2066>"},
      {"Fran\x9C"
       "oise \xC3",
       "Fran\\x9Coise \\xC3"},
      {"\xC0\x80 \xED\xA0\x80", "\\xC0\\x80 \\xED\\xA0\\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(visible(c.raw), c.shown) << c.shown;
    EXPECT_EQ(needs_showing(c.raw), c.raw != c.shown) << c.shown;
  }
}

TEST(VisibleText, StreamShowsWhatIsWrittenAndKeepsItsLineEnds) {
  std::ostringstream target;
  {
    visible_stream shown(target);
    // An escape sequence cut between two writes is shown whole.
    shown << "ligne 3 : \"\x1B]0;PWNED" << '\x07' << "\x1B[2J\"";
    EXPECT_EQ(target.str(), "");        // held until its line end
    shown << "\n" << 42 << " QSO\r\n";  // a CR could write over the line: shown
    shown << "sans fin de ligne \xC2\x9B";
    shown.flush();
    EXPECT_EQ(target.str(),
              "ligne 3 : \"^[]0;PWNED^G^[[2J\"\n42 QSO^M\nsans fin de ligne <U+009B>");
    shown << "; la suite";
  }
  EXPECT_TRUE(target.str().ends_with("<U+009B>; la suite"));
}

// A long write is handed on in pieces: lines and characters that straddle
// two pieces come out whole.
TEST(VisibleText, StreamShowsALongWriteWhole) {
  std::string lines;
  std::string expected;
  for (int n = 0; lines.size() < 300'000; ++n) {
    const std::string line = "Andr\xC3\xA9 \x1B" + std::string(n % 97, 'x');
    lines += line + "\n";
    expected += visible(line) + "\n";
  }
  std::ostringstream target;
  visible_stream shown(target);
  shown.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  EXPECT_EQ(target.str(), expected);
}

}  // namespace
}  // namespace velkrin
