#include "adif/conversions.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace velkrin::adif {
namespace {

// In the tables, "-" stands for a value that ADIF cannot hold.
constexpr std::int32_t kMaxKhz = std::numeric_limits<std::int32_t>::max();

TEST(ConversionsTest, DatesAreRealCalendarDatesFrom1930) {
  const struct {
    std::string_view typed, expected;
  } cases[] = {{"01-02-2026", "20260201"}, {"1-2-2026", "20260201"},
               {"01/02/2026", "20260201"}, {"01.02.2026", "20260201"},
               {"29-02-2024", "20240229"}, {"29-02-2000", "20000229"},
               {"29-02-2025", "-"},        {"29-02-2100", "-"},
               {"31-04-2026", "-"},        {"00-01-2026", "-"},
               {"01-13-2026", "-"},        {"31-12-1929", "-"},
               {"01-01-1930", "19300101"}, {"01-02-26", "-"},
               {"2026-02-01", "-"},        {"01-02-2026x", "-"},
               {"01--2026", "-"},          {"+1-02-2026", "-"},
               {"JJ-MM-AAAA", "-"},        {"", "-"}};
  for (const auto& c : cases) {
    const auto date = parse_date(c.typed);
    EXPECT_EQ(date ? adif_date(*date) : "-", c.expected) << c.typed;
  }
}

TEST(ConversionsTest, NextDayCrossesMonthsYearsAndLeapDays) {
  const struct {
    calendar_date today, tomorrow;
  } cases[] = {{{2025, 12, 31}, {2026, 1, 1}},
               {{2024, 2, 28}, {2024, 2, 29}},
               {{2024, 2, 29}, {2024, 3, 1}},
               {{2025, 2, 28}, {2025, 3, 1}}};
  for (const auto& c : cases) EXPECT_EQ(next_day(c.today), c.tomorrow) << adif_date(c.today);
}

TEST(ConversionsTest, TimesAreHoursAndMinutesOfTheDay) {
  const struct {
    std::int32_t hhmm;
    std::string_view expected;
  } cases[] = {{0, "0000"}, {5, "0005"}, {905, "0905"}, {2359, "2359"}, {2400, "-"},
               {60, "-"},   {1260, "-"}, {-1, "-"},     {100000, "-"}};
  for (const auto& c : cases) EXPECT_EQ(adif_time(c.hhmm).value_or("-"), c.expected) << c.hhmm;
}

TEST(ConversionsTest, FrequenciesAreExactDecimalsInMegahertz) {
  const struct {
    std::int32_t khz;
    std::string_view expected;
  } cases[] = {{7055, "7.055"}, {144300, "144.3"}, {14000, "14"},
               {1, "0.001"},    {10, "0.01"},      {1800, "1.8"},
               {0, "-"},        {-7055, "-"},      {kMaxKhz, "2147483.647"}};
  for (const auto& c : cases) EXPECT_EQ(frequency_mhz(c.khz).value_or("-"), c.expected) << c.khz;
}

TEST(ConversionsTest, BandsIncludeTheirEdges) {
  const struct {
    std::int32_t khz;
    std::string_view band;
  } cases[] = {{135, "-"},         {136, "2190m"}, {1799, "-"},   {1800, "160m"}, {2000, "160m"},
               {2001, "-"},        {5000, "-"},    {5060, "60m"}, {5450, "60m"},  {5451, "-"},
               {7055, "40m"},      {54000, "6m"},  {54001, "5m"}, {144300, "2m"}, {10368000, "3cm"},
               {kMaxKhz, "submm"}, {0, "-"}};
  for (const auto& c : cases) EXPECT_EQ(band_of(c.khz).value_or("-"), c.band) << c.khz;
}

TEST(ConversionsTest, ModesComeFromTheClassOfEmission) {
  const struct {
    std::string_view typed;
    std::int32_t khz;
    std::optional<adif_mode> expected;
  } cases[] = {{"J3E", 7055, adif_mode{"SSB", "LSB"}},
               {"j3e", 9999, adif_mode{"SSB", "LSB"}},
               {"J3E", 10000, adif_mode{"SSB", "USB"}},
               {"R3E", 14200, adif_mode{"SSB", "USB"}},
               {"H3E", 5000, adif_mode{"SSB", "LSB"}},
               {"J3E", 5060, adif_mode{"SSB", "USB"}},
               {"J3E", 5450, adif_mode{"SSB", "USB"}},
               {"ssb", 3700, adif_mode{"SSB", "LSB"}},
               {"A1A", 7010, adif_mode{"CW", ""}},
               {"a3e", 3700, adif_mode{"AM", ""}},
               {"F3E", 145500, adif_mode{"FM", ""}},
               {"g3e", 145500, adif_mode{"FM", ""}},
               {"F1B", 14080, adif_mode{"RTTY", ""}},
               {"ft8", 14074, adif_mode{"FT8", ""}},
               {"FT4", 14080, adif_mode{"MFSK", "FT4"}},
               {"usb", 7100, adif_mode{"SSB", "USB"}},
               {"J2B", 14070, std::nullopt},
               {"", 7000, std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(mode_of(c.typed, c.khz, {}), c.expected) << c.typed;
}

TEST(ConversionsTest, TheUsersModesComeFirst) {
  const mode_table user{{"J2B", {"PSK", "PSK31"}}, {"A3E", {"SSB", ""}}};
  EXPECT_EQ(mode_of("j2b", 14070, user), (adif_mode{"PSK", "PSK31"}));
  // A mapping to single sideband still gets its sideband from the frequency.
  EXPECT_EQ(mode_of("A3E", 3700, user), (adif_mode{"SSB", "LSB"}));
  EXPECT_EQ(parse_adif_mode("psk/psk31"), (adif_mode{"PSK", "PSK31"}));
  EXPECT_EQ(parse_adif_mode("FT4/X"), std::nullopt);  // FT4 is a submode, not a mode
  EXPECT_EQ(parse_adif_mode("PSK/"), std::nullopt);
  EXPECT_EQ(parse_adif_mode("PSK/a<b"), std::nullopt);
}

TEST(ConversionsTest, TextBecomesAsciiWithoutAccents) {
  const struct {
    std::string_view bytes, text;
    bool replaced;
  } cases[] = {{"Rennes", "Rennes", false},
               {"H\xc3\xa9l\xc3\xa8ne", "Helene", false},  // UTF-8
               {"Zo\xc3\xab \xc3\x87"
                "a \xc3\x80",
                "Zoe Ca A", false},
               {"\xc3\x86sa Stra\xc3\x9f"
                "e \xc5\x93il",
                "AEsa Strasse oeil", false},
               {"L\xe2\x80\x99\xc5\x92uvre \xe2\x80\x9c"
                "a\xe2\x80\x9d \xe2\x80\x93 b",
                "L'OEuvre \"a\" - b", false},  // Windows-1252 punctuation, read in UTF-8
               {"5\xe2\x82\xac", "5?", true},  // the euro sign has no ASCII letter
               {"a\x01"
                "b",
                "a?b", true},
               {"\xb0", "?", true},
               {"\xc3", "?", true}};  // a cut UTF-8 sequence
  for (const auto& c : cases) {
    const ascii_text ascii = to_ascii(c.bytes);
    EXPECT_EQ(ascii.text, c.text) << c.bytes;
    EXPECT_EQ(ascii.replaced, c.replaced) << c.bytes;
  }
}

}  // namespace
}  // namespace velkrin::adif
