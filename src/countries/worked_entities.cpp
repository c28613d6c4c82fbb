#include "countries/worked_entities.hpp"

#include <algorithm>
#include <array>

namespace velkrin::countries {
namespace {

// The bands of ADIF, each a bit of worked_so_far::bands.
constexpr std::array<std::string_view, 33> kBands = {
    "2190m", "630m", "560m", "160m", "80m",    "60m", "40m", "30m",   "20m",  "17m",  "15m",
    "12m",   "10m",  "8m",   "6m",   "5m",     "4m",  "2m",  "1.25m", "70cm", "33cm", "23cm",
    "13cm",  "9cm",  "6cm",  "3cm",  "1.25cm", "6mm", "4mm", "2.5mm", "2mm",  "1mm",  "submm"};

bool same_letters(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

std::uint64_t band_bit(std::string_view band) {
  for (std::size_t k = 0; k < kBands.size(); ++k) {
    if (same_letters(kBands[k], band)) return std::uint64_t{1} << k;
  }
  return 0;
}

std::uint8_t group_bit(std::optional<mode_group> group) {
  return group ? static_cast<std::uint8_t>(1u << static_cast<unsigned>(*group)) : 0;
}

}  // namespace

std::optional<mode_group> mode_group_of(std::string_view adif_mode) {
  if (adif_mode.empty()) return std::nullopt;
  if (same_letters(adif_mode, "CW")) return mode_group::cw;
  for (std::string_view phone :
       {"SSB", "USB", "LSB", "AM", "FM", "DIGITALVOICE", "DSTAR", "C4FM", "DMR", "FREEDV", "M17"}) {
    if (same_letters(adif_mode, phone)) return mode_group::phone;
  }
  return mode_group::data;
}

std::string_view mode_group_name(mode_group group) {
  switch (group) {
    case mode_group::cw:
      return "CW";
    case mode_group::phone:
      return "phonie";
    case mode_group::data:
      return "donnees";
  }
  return "";
}

void worked_entities::add(int dxcc, std::string_view band, std::optional<mode_group> group) {
  worked_so_far& entity = entities_[dxcc];
  entity.bands |= band_bit(band);
  entity.groups |= group_bit(group);
}

novelty worked_entities::would_be(int dxcc, std::string_view band,
                                  std::optional<mode_group> group) const {
  const auto found = entities_.find(dxcc);
  if (found == entities_.end()) return {.new_entity = true};
  const std::uint64_t band_mask = band_bit(band);
  const std::uint8_t group_mask = group_bit(group);
  return {.new_band = band_mask != 0 && (found->second.bands & band_mask) == 0,
          .new_mode = group_mask != 0 && (found->second.groups & group_mask) == 0};
}

}  // namespace velkrin::countries
