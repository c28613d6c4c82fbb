// What a QSO counts for in pays and diplomes: its DXCC entity, CQ zone and
// continent, its confirmations and the details fields the awards read.
// The details win where they speak (DXCC, set by an import from LoTW or by
// the operator; CQZ; CONT), the call sign through the country file
// answers otherwise. Internal to the commands' files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "countries/awards.hpp"
#include "countries/country_file.hpp"
#include "journal/selection.hpp"
#include "logbook/details_file.hpp"

namespace velkrin::journal {

// The details fields that the awards read, found in one pass over the
// record; views into it, valid while it is.
struct award_fields {
  std::string_view dxcc;
  std::string_view cqz;
  std::string_view cont;
  std::string_view state;
  std::string_view gridsquare;
  std::string_view vucc_grids;  // the squares of a station on a square's edge
  countries::confirmation_set confirmations = 0;
};
award_fields award_fields_of(const details_record* details);

enum class placement {
  entity,          // a current DXCC entity
  no_entity,       // /MM or /AM, or DXCC=0 in the details
  deleted_entity,  // the details name a deleted entity
  unknown_number,  // the details name a number the country file does not know
  unresolved,      // the call resolves to nothing
};

inline constexpr std::size_t kNoEntity = static_cast<std::size_t>(-1);

struct qso_country {
  placement where = placement::unresolved;
  int dxcc = 0;                    // for entity, deleted_entity and unknown_number
  std::size_t entity = kNoEntity;  // in country_finder::entities(), for entity
  int cq = 0;                      // 0 when not known
  std::string_view continent;      // empty when not known; a starred entry keeps its own
  // Resolved only through France's generic TO or TX prefixes, and the
  // details do not say.
  bool uncertain = false;
};

class country_finder {
 public:
  explicit country_finder(const countries::country_data& data);
  qso_country find(std::string_view call, const award_fields& fields);
  // The current DXCC entities of the file (no starred entry), by prefix.
  const std::vector<const countries::country_entity*>& entities() const { return entities_; }

 private:
  std::size_t index_of(int dxcc) const;

  countries::call_resolver resolver_;
  std::vector<const countries::country_entity*> entities_;
  std::vector<std::size_t> by_dxcc_;  // positions in entities_, kNoEntity for none
};

// ADIF's bands in frequency order; a band's position is its bit in masks.
inline constexpr std::array<std::string_view, 33> kBandOrder = {
    "2190m", "630m", "560m", "160m", "80m",    "60m", "40m", "30m",   "20m",  "17m",  "15m",
    "12m",   "10m",  "8m",   "6m",   "5m",     "4m",  "2m",  "1.25m", "70cm", "33cm", "23cm",
    "13cm",  "9cm",  "6cm",  "3cm",  "1.25cm", "6mm", "4mm", "2.5mm", "2mm",  "1mm",  "submm"};
inline constexpr std::size_t kNoBandPosition = kBandOrder.size();

// The position of a band that band_of() gave; kNoBandPosition outside the
// bands. Remembers the last band asked for: lines come in runs of one band.
class band_positions {
 public:
  std::size_t of(const std::optional<std::string_view>& band);

 private:
  const char* last_ = nullptr;
  std::size_t last_position_ = kNoBandPosition;
};

// When a QSO took place, as a number that orders QSOs: YYYYMMDDhhmm (the
// time 0000 when it is no time); kNoMoment when the date is no date.
inline constexpr std::uint64_t kNoMoment = ~std::uint64_t{0};
std::uint64_t qso_moment(const qso_facts& facts, std::int32_t debut);
// "JJ-MM-AAAA" of a moment; "-" for kNoMoment.
std::string moment_day(std::uint64_t moment);

// The first QSO that counted for an item of a list.
struct first_qso {
  std::uint64_t moment = kNoMoment;
  std::size_t line = 0;
  std::string call;

  // Keeps this QSO when it is earlier (or the first seen).
  void offer(std::uint64_t when, std::size_t at, std::string_view indicatif) {
    if (line != 0 && when >= moment) return;
    moment = when;
    line = at;
    call.assign(indicatif);
  }
};

// "2 QSO", "1 entite"/"3 entites": the count and its word.
std::string counted(std::size_t count, std::string_view one, std::string_view many);

}  // namespace velkrin::journal
