#include "console/text_format.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace velkrin {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(TextFormatTest, PaddingNeverTruncates) {
  struct {
    std::string text;
    std::size_t width;
    std::string right;
    std::string left;
  } cases[] = {
      {"", 0, "", ""},
      {"", 3, "   ", "   "},
      {"ab", 3, "ab ", " ab"},
      {"abc", 3, "abc", "abc"},                   // width exact
      {"abcd", 3, "abcd", "abcd"},                // one over: written whole
      {"\xc3\xa0", 3, "\xc3\xa0 ", " \xc3\xa0"},  // widths count bytes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pad_right(c.text, c.width), c.right) << '"' << c.text << "\" " << c.width;
    EXPECT_EQ(pad_left(c.text, c.width), c.left) << '"' << c.text << "\" " << c.width;
  }
}

TEST(TextFormatTest, ZeroFillKeepsTheSignInFront) {
  struct {
    std::int32_t value;
    std::string expected;
  } cases[] = {
      {0, "0000"},  {5, "0005"},    {905, "0905"},    {2359, "2359"},       {12345, "12345"},
      {-5, "-005"}, {-905, "-905"}, {-1234, "-1234"}, {kMax, "2147483647"}, {kMin, "-2147483648"},
  };
  for (const auto& c : cases) EXPECT_EQ(zero_fill(c.value, 4), c.expected) << c.value;
  EXPECT_EQ(zero_fill(7, 0), "7");
  EXPECT_EQ(zero_fill(-7, 1), "-7");
}

TEST(TextFormatTest, DecimalCoversTheWholeRange) {
  EXPECT_EQ(decimal(0), "0");
  EXPECT_EQ(decimal(-42), "-42");
  EXPECT_EQ(decimal(kMax), "2147483647");
  EXPECT_EQ(decimal(kMin), "-2147483648");
}

}  // namespace
}  // namespace velkrin
