// The common awards that velkrin-journal follows (DXCC, WAZ, WAC, DDFM and
// the locator squares of VHF and up), which confirmations each accepts, and
// the facts they rest on: the DXCC entities that ADIF marks deleted, the
// continents of WAC, the four-character squares. Pure functions.
//
// Confirmations accepted, by each sponsor's rules (the stricter reading
// where a rule is not plain):
//   DXCC (ARRL): paper cards and LoTW; eQSL is not accepted.
//   WAZ (CQ): paper cards and LoTW (CQ's WAZ credits go through LoTW since
//     2018); eQSL is left out: CQ's current WAZ rules name no source but
//     "approved" ones.
//   WAC (IARU): paper cards only; its rules examine QSL cards, and member
//     societies refuse eQSL and LoTW.
//   DDFM (REF): paper cards only; its rules ask for the cards in the
//     applicant's possession.
//   Locator squares (as ARRL's VUCC counts them): paper cards and LoTW.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velkrin::countries {

enum class award { dxcc, waz, wac, ddfm, locators };

inline constexpr award kAwards[] = {award::dxcc, award::waz, award::wac, award::ddfm,
                                    award::locators};

// Where a confirmation came from, as bits of a confirmation_set.
enum class confirmation : std::uint8_t { card = 1, lotw = 2, eqsl = 4 };
using confirmation_set = std::uint8_t;

constexpr confirmation_set bit(confirmation source) {
  return static_cast<confirmation_set>(source);
}

// The confirmations of a QSO from its ADIF fields (each may be empty):
// QSL_RCVD Y or V is a paper card, unless QSL_RCVD_VIA says E (an
// electronic one whose service is not named, which no award takes);
// LOTW_QSL_RCVD and EQSL_QSL_RCVD Y or V are LoTW and eQSL. Any case.
confirmation_set confirmations_of(std::string_view qsl_rcvd, std::string_view qsl_rcvd_via,
                                  std::string_view lotw_qsl_rcvd, std::string_view eqsl_qsl_rcvd);

// The confirmations that `which` accepts.
confirmation_set accepted(award which);
// True when one of `received` counts for `which`.
inline bool confirms(award which, confirmation_set received) {
  return (received & accepted(which)) != 0;
}

// "DXCC", "WAZ", "WAC", "DDFM", "LOCATORS".
std::string_view award_name(award which);
// What the award counts, in French: "entites", "zones CQ"...
std::string_view award_items(award which);
// "cartes QSL et LoTW", "cartes QSL seulement".
std::string_view accepted_text(award which);
// The award named `name`, in any case: its name, or the French words
// "pays", "entites", "zones", "continents", "departements", "carres",
// "locator".
std::optional<award> award_named(std::string_view name);

// True for a number that ADIF's DXCC Entity Code enumeration marks deleted.
bool deleted_dxcc(int dxcc);

// The six continents of WAC in their usual order; Antarctica (AN) is none.
std::span<const std::string_view> wac_continents();
bool is_wac_continent(std::string_view continent);

// The four-character square (field and square, "JN18") of a locator of
// 4, 6 or 8 characters, upper-cased; nothing when it is no locator.
std::optional<std::string> grid_square_of(std::string_view locator);

}  // namespace velkrin::countries
