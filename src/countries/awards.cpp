#include "countries/awards.hpp"

#include <algorithm>
#include <array>

namespace velkrin::countries {
namespace {

// The deleted entities of ADIF's DXCC Entity Code enumeration (checked in
// ADIF 3.1.6): 62 numbers, the count ARRL's list of deleted entities gives.
constexpr std::array<std::int16_t, 62> kDeleted = {
    2,   8,   19,  23,  25,  26,  28,  30,  39,  42,  44,  55,  57,  58,  59,  67,
    68,  81,  85,  93,  101, 102, 113, 115, 119, 127, 128, 134, 139, 151, 154, 155,
    164, 178, 183, 184, 186, 193, 194, 196, 198, 200, 208, 210, 218, 220, 226, 228,
    229, 231, 243, 244, 255, 258, 261, 264, 267, 268, 271, 307, 488, 493};

constexpr std::array<std::string_view, 6> kContinents = {"AF", "AS", "EU", "NA", "OC", "SA"};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_letters(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return upper(x) == upper(y); });
}

bool yes(std::string_view value) { return same_letters(value, "Y") || same_letters(value, "V"); }

struct award_entry {
  award which;
  std::string_view name;
  std::string_view items;
  confirmation_set accepted;
  std::string_view accepted_text;
};

constexpr confirmation_set kCardAndLotw = bit(confirmation::card) | bit(confirmation::lotw);
constexpr std::array<award_entry, 5> kTable = {{
    {award::dxcc, "DXCC", "entites", kCardAndLotw, "cartes QSL et LoTW"},
    {award::waz, "WAZ", "zones CQ", kCardAndLotw, "cartes QSL et LoTW"},
    {award::wac, "WAC", "continents", bit(confirmation::card), "cartes QSL seulement"},
    {award::ddfm, "DDFM", "departements", bit(confirmation::card), "cartes QSL seulement"},
    {award::locators, "LOCATORS", "carres locators", kCardAndLotw, "cartes QSL et LoTW"},
}};

const award_entry& entry(award which) { return kTable[static_cast<std::size_t>(which)]; }

}  // namespace

confirmation_set confirmations_of(std::string_view qsl_rcvd, std::string_view qsl_rcvd_via,
                                  std::string_view lotw_qsl_rcvd, std::string_view eqsl_qsl_rcvd) {
  confirmation_set set = 0;
  if (yes(qsl_rcvd) && !same_letters(qsl_rcvd_via, "E")) set |= bit(confirmation::card);
  if (yes(lotw_qsl_rcvd)) set |= bit(confirmation::lotw);
  if (yes(eqsl_qsl_rcvd)) set |= bit(confirmation::eqsl);
  return set;
}

confirmation_set accepted(award which) { return entry(which).accepted; }
std::string_view award_name(award which) { return entry(which).name; }
std::string_view award_items(award which) { return entry(which).items; }
std::string_view accepted_text(award which) { return entry(which).accepted_text; }

std::optional<award> award_named(std::string_view name) {
  for (const award_entry& known : kTable) {
    if (same_letters(name, known.name)) return known.which;
  }
  constexpr std::pair<std::string_view, award> kFrench[] = {
      {"pays", award::dxcc},       {"entites", award::dxcc},      {"zones", award::waz},
      {"continents", award::wac},  {"departements", award::ddfm}, {"carres", award::locators},
      {"locator", award::locators}};
  for (const auto& [word, which] : kFrench) {
    if (same_letters(name, word)) return which;
  }
  return std::nullopt;
}

bool deleted_dxcc(int dxcc) {
  return std::binary_search(kDeleted.begin(), kDeleted.end(), static_cast<std::int16_t>(dxcc));
}

std::span<const std::string_view> wac_continents() { return kContinents; }

bool is_wac_continent(std::string_view continent) {
  return std::find(kContinents.begin(), kContinents.end(), continent) != kContinents.end();
}

std::optional<std::string> grid_square_of(std::string_view locator) {
  if (locator.size() != 4 && locator.size() != 6 && locator.size() != 8) return std::nullopt;
  std::string square{upper(locator[0]), upper(locator[1]), locator[2], locator[3]};
  const bool field = square[0] >= 'A' && square[0] <= 'R' && square[1] >= 'A' && square[1] <= 'R';
  const bool digits = square[2] >= '0' && square[2] <= '9' && square[3] >= '0' && square[3] <= '9';
  if (!field || !digits) return std::nullopt;
  if (locator.size() >= 6) {
    const char a = upper(locator[4]);
    const char b = upper(locator[5]);
    if (a < 'A' || a > 'X' || b < 'A' || b > 'X') return std::nullopt;
  }
  if (locator.size() == 8 &&
      (locator[6] < '0' || locator[6] > '9' || locator[7] < '0' || locator[7] > '9')) {
    return std::nullopt;
  }
  return square;
}

}  // namespace velkrin::countries
