#include "logbook/qso_rules.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace velkrin {
namespace {

TEST(QsoRulesTest, BaseCallIsTheStationWhateverItsPrefixOrSuffix) {
  const struct {
    std::string_view typed, base;
  } cases[] = {{"f4abc", "F4ABC"},
               {"F4ABC/P", "F4ABC"},
               {"F4ABC/M", "F4ABC"},
               {"EA8/F4ABC", "F4ABC"},
               {"VP2E/F4ABC/P", "F4ABC"},
               {"F4ABC/QRP", "F4ABC"},
               {"3D2/F4ABC", "F4ABC"},
               {"K1ABC/VE3", "K1ABC"},
               {"F4ABC/MM", "F4ABC"},
               {"K1ABC/4", "K1ABC"},
               {"/P", "/P"},
               {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(base_call(c.typed), c.base) << c.typed;
}

// Dates written JJ-MM-AAAA are read by position, any other form by its
// separators: both must agree with the calendar.
TEST(QsoRulesTest, DatesAreCalendarDates) {
  const struct {
    std::string_view typed;
    std::optional<calendar_date> date;
  } cases[] = {{"05-01-2026", calendar_date{2026, 1, 5}},
               {"29-02-2024", calendar_date{2024, 2, 29}},
               {"29-02-2000", calendar_date{2000, 2, 29}},
               {"31-12-1930", calendar_date{1930, 12, 31}},
               {"5/1/2026", calendar_date{2026, 1, 5}},
               {"29-02-2025", std::nullopt},
               {"29-02-2100", std::nullopt},
               {"31-04-2026", std::nullopt},
               {"00-01-2026", std::nullopt},
               {"01-13-2026", std::nullopt},
               {"01-00-2026", std::nullopt},
               {"31-12-1929", std::nullopt},
               {"1a-01-2026", std::nullopt},
               {"01-01-2O26", std::nullopt},
               {"01-01-\xb2"
                "026",
                std::nullopt}};
  for (const auto& c : cases) {
    EXPECT_EQ(parse_date(c.typed), c.date) << c.typed;
    EXPECT_EQ(is_strict_date(c.typed), c.date && c.typed.size() == 10) << c.typed;
  }
}

TEST(QsoRulesTest, CallSignForm) {
  for (const std::string_view good : {"F4ABC", "f4abc", "EA8/F4ABC/P", "3D2A", "K1ABC/4"}) {
    EXPECT_TRUE(is_call_sign_form(good)) << good;
  }
  for (const std::string_view bad : {"?", "-F5ABC-", ":45", "F4", "F4ABC/", "/F4ABC", "FABC",
                                     "1234", "F4\xc3\xa9", "F5XY\x1b[DZ"}) {
    EXPECT_FALSE(is_call_sign_form(bad)) << bad;
  }
  EXPECT_TRUE(has_control_characters("F5XY\x1b[DZ"));
  EXPECT_TRUE(has_control_characters("a\xc2\x85"));  // NEL, a C1 control
  EXPECT_FALSE(has_control_characters("H\xc3\xa9l\xc3\xa8ne \xc2\xa0"));
  // Values are looked at eight bytes at a time, then byte by byte: a control
  // at either side of each boundary, and a C1 control split across one.
  const std::string_view controls[] = {"1234567\x7f",     "12345678\x01",
                                       "\t2345678",       "123456789012345\x1b",
                                       "1234567\xc2\x9b", std::string_view("12345678\0", 9)};
  for (const std::string_view control : controls) {
    EXPECT_TRUE(has_control_characters(control)) << control;
  }
  EXPECT_FALSE(has_control_characters("Toulouse_(QRA_JN03)_~"));
}

// French operators name single sideband BLU (BLI, BLS for one sideband).
TEST(QsoRulesTest, FrenchSidebandClassesAreSingleSideband) {
  const struct {
    std::string_view typed;
    std::int32_t khz;
    adif_mode mode;
  } cases[] = {{"BLU", 7055, {"SSB", "LSB"}},
               {"blu", 14200, {"SSB", "USB"}},
               {"BLI", 14200, {"SSB", "LSB"}},
               {"bls", 3700, {"SSB", "USB"}},
               {"J3E", 3700, {"SSB", "LSB"}}};
  for (const auto& c : cases) EXPECT_EQ(mode_of(c.typed, c.khz, {}), c.mode) << c.typed;
  EXPECT_EQ(typed_class_of("SSB"), "J3E");  // what the import writes stays J3E
  // The same QSO typed J3E then BLU is one QSO twice.
  const qso_record typed{"31-12-2025", 2359, 5, "F4ABC", "Jean", 14200, "J3E", "Paris"};
  qso_record french = typed;
  french.mode = "BLU";
  EXPECT_EQ(duplicate_key_of(typed, {}), duplicate_key_of(french, {}));
}

TEST(QsoRulesTest, OwnerStation) {
  const struct {
    std::string_view station, owner;
    bool same;
  } stations[] = {{"F4GVZ", "f4gvz", true},       {"F4GVZ/P", "F4GVZ", true},
                  {"f4gvz/qrp/m", "F4GVZ", true}, {"F4GVZ", "F4GVZ/P", true},
                  {"TK/F4GVZ", "F4GVZ", false},   {"FG/F4GVZ/P", "F4GVZ", false},
                  {"F4GVZ/MM", "F4GVZ", false},   {"F4GVZ/3", "F4GVZ", false},
                  {"F4GV", "F4GVZ", false},       {"/P", "", false}};
  for (const auto& s : stations) {
    EXPECT_EQ(is_owner_station(s.station, s.owner), s.same) << s.station << " " << s.owner;
  }
}

TEST(QsoRulesTest, DuplicatesAreTheSameStationBandAndModeWithinTwoMinutes) {
  const qso_record first{"31-12-2025", 2359, 5, "F4ABC", "Jean", 14200, "J3E", "Paris"};
  const auto key = [](qso_record qso) { return duplicate_key_of(qso, {}).value(); };
  const struct {
    qso_record other;
    bool duplicate;
  } cases[] = {
      {{"01-01-2026", 1, 5, "F4ABC/P", "Jean", 14250, "USB", "Paris"}, true},  // past midnight
      {{"31-12-2025", 2357, 5, "EA8/f4abc", "-", 14000, "SSB", "-"}, true},
      {{"31-12-2025", 2356, 5, "F4ABC", "Jean", 14200, "J3E", "Paris"}, false},
      {{"31-12-2025", 2359, 5, "F4ABC", "Jean", 7100, "J3E", "Paris"}, false},  // another band
      {{"31-12-2025", 2359, 5, "F4ABC", "Jean", 14200, "A1A", "Paris"}, false},
      {{"31-12-2025", 2359, 5, "F4ABD", "Jean", 14200, "J3E", "Paris"}, false},
  };
  duplicate_index index;
  index.add(key(first));
  for (const auto& c : cases) {
    EXPECT_EQ(within_duplicate_window(key(first), key(c.other)), c.duplicate) << c.other.date;
    EXPECT_EQ(index.contains_near(key(c.other)), c.duplicate) << c.other.indicatif;
  }
  EXPECT_FALSE(duplicate_key_of({"32-12-2025", 905, 5, "F4ABC", "", 14200, "J3E", ""}, {}));
}

TEST(QsoRulesTest, KeysAddedBeforeLookupsAreFoundWhateverTheirOrder) {
  duplicate_index index;
  for (std::int64_t minute = 10000; minute > 0; minute -= 10) index.add_before_lookups({7, minute});
  index.add({8, 5});
  EXPECT_TRUE(index.contains_near({7, 5002}));
  EXPECT_FALSE(index.contains_near({7, 5005}));
  EXPECT_TRUE(index.contains_near({8, 7}));
  EXPECT_EQ(index.size(), 1001u);
}

// The logbook's keys are searched through one key in 64, and the keys added
// one by one are kept in runs merged as they grow: every key must stay
// findable, and no neighbour beyond the window found.
TEST(QsoRulesTest, KeysAreFoundThroughFencesAndMerges) {
  const auto key = [](std::int64_t n) {
    return duplicate_key{static_cast<std::uint64_t>(n % 7), (n * 7919) % 3001 * 10};
  };
  duplicate_index index;
  for (std::int64_t n = 0; n < 1000; ++n) index.add_before_lookups(key(n));
  for (std::int64_t n = 1000; n < 3000; ++n) {
    ASSERT_FALSE(index.contains_near(key(n))) << n;
    index.add(key(n));
    ASSERT_TRUE(index.contains_near({key(n).station, key(n).minute + 2})) << n;
  }
  for (std::int64_t n = 0; n < 3000; ++n) {
    EXPECT_TRUE(index.contains_near({key(n).station, key(n).minute - 2})) << n;
    EXPECT_FALSE(index.contains_near({key(n).station, key(n).minute + 5})) << n;  // keys 10 apart
    EXPECT_FALSE(index.contains_near({key(n).station + 7, key(n).minute})) << n;
  }
  EXPECT_EQ(index.size(), 3000u);
}

}  // namespace
}  // namespace velkrin
