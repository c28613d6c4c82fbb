#include "countries/awards.hpp"

#include <gtest/gtest.h>

namespace velkrin::countries {
namespace {

// Each award's table row, by what a QSO's QSL fields give.
TEST(Awards, CountOnlyTheConfirmationsTheirRulesAccept) {
  const confirmation_set card = bit(confirmation::card);
  const confirmation_set lotw = bit(confirmation::lotw);
  const confirmation_set eqsl = bit(confirmation::eqsl);
  const struct {
    std::string_view qsl_rcvd, via, lotw_rcvd, eqsl_rcvd;
    confirmation_set expected;
  } kFields[] = {
      {"Y", "", "", "", card},
      {"v", "B", "", "", card},
      {"N", "", "Y", "", lotw},
      {"Y", "E", "", "", 0},
      {"", "", "", "Y", eqsl},
      {"R", "", "I", "", 0},
      {"Y", "D", "V", "Y", card | lotw | eqsl},
  };
  for (const auto& c : kFields) {
    EXPECT_EQ(confirmations_of(c.qsl_rcvd, c.via, c.lotw_rcvd, c.eqsl_rcvd), c.expected)
        << c.qsl_rcvd << "/" << c.via << "/" << c.lotw_rcvd << "/" << c.eqsl_rcvd;
  }
  for (const award which : kAwards) {
    EXPECT_TRUE(confirms(which, card)) << award_name(which);
    EXPECT_FALSE(confirms(which, eqsl)) << award_name(which);
    const bool takes_lotw = which != award::wac && which != award::ddfm;
    EXPECT_EQ(confirms(which, lotw), takes_lotw) << award_name(which);
    EXPECT_EQ(award_named(award_name(which)), which);
  }
  EXPECT_EQ(award_named("Departements"), award::ddfm);
  EXPECT_EQ(award_named("iota"), std::nullopt);
}

TEST(Awards, KnowDeletedEntitiesAndSquares) {
  for (const int deleted : {2, 81, 229, 307, 493}) EXPECT_TRUE(deleted_dxcc(deleted)) << deleted;
  for (const int current : {0, 1, 227, 230, 291, 522, 999}) {
    EXPECT_FALSE(deleted_dxcc(current)) << current;
  }
  const struct {
    std::string_view locator;
    std::optional<std::string> square;
  } kLocators[] = {{"JN18", "JN18"},          {"jn18du", "JN18"},     {"JN18DU42", "JN18"},
                   {"JN1", std::nullopt},     {"SN18", std::nullopt}, {"JN18DZ", std::nullopt},
                   {"JN18DU4", std::nullopt}, {"", std::nullopt}};
  for (const auto& c : kLocators) EXPECT_EQ(grid_square_of(c.locator), c.square) << c.locator;
  EXPECT_FALSE(is_wac_continent("AN"));
  EXPECT_TRUE(is_wac_continent("OC"));
}

}  // namespace
}  // namespace velkrin::countries
