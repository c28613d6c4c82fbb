#include "journal/qso_countries.hpp"

#include <algorithm>
#include <charconv>

#include "journal/qso_confirmations.hpp"

namespace velkrin::journal {
namespace {

constexpr std::array<std::string_view, 7> kContinents = {"AF", "AN", "AS", "EU", "NA", "OC", "SA"};

// A whole number written in decimal digits alone, blanks around allowed.
std::optional<int> whole_number(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || text.front() == '-' || error != std::errc{} ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// The continent of a CONT field, as one of the static names; empty if none.
std::string_view continent_named(std::string_view text) {
  if (text.size() != 2) return {};
  const std::string upper{static_cast<char>(text[0] & ~0x20), static_cast<char>(text[1] & ~0x20)};
  for (const std::string_view known : kContinents) {
    if (known == upper) return known;
  }
  return {};
}

}  // namespace

award_fields award_fields_of(const details_record* details) {
  award_fields found;
  if (details == nullptr) return found;
  confirmation_state confirmations;
  for (const details_field& field : details->fields) {
    const std::string_view name = field.name;
    const std::string_view value = field.value;
    if (confirmations.take(name, value)) continue;
    switch (name.size()) {
      case 3:
        if (name == "CQZ") found.cqz = value;
        break;
      case 4:
        if (name == "DXCC") {
          found.dxcc = value;
        } else if (name == "CONT") {
          found.cont = value;
        }
        break;
      case 5:
        if (name == "STATE") found.state = value;
        break;
      case 10:
        if (name == "GRIDSQUARE") {
          found.gridsquare = value;
        } else if (name == "VUCC_GRIDS") {
          found.vucc_grids = value;
        }
        break;
      default:
        break;
    }
  }
  found.confirmations = confirmations.received();
  return found;
}

country_finder::country_finder(const countries::country_data& data) : resolver_(data) {
  for (const countries::country_entity& entity : data.entities) {
    if (!entity.starred) entities_.push_back(&entity);
  }
  std::sort(entities_.begin(), entities_.end(),
            [](const auto* a, const auto* b) { return a->prefix < b->prefix; });
  for (std::size_t i = 0; i < entities_.size(); ++i) {
    const int dxcc = entities_[i]->dxcc;
    if (dxcc < 0) continue;
    if (by_dxcc_.size() <= static_cast<std::size_t>(dxcc)) {
      by_dxcc_.resize(static_cast<std::size_t>(dxcc) + 1, kNoEntity);
    }
    if (by_dxcc_[static_cast<std::size_t>(dxcc)] == kNoEntity) {
      by_dxcc_[static_cast<std::size_t>(dxcc)] = i;
    }
  }
}

std::size_t country_finder::index_of(int dxcc) const {
  if (dxcc < 0 || static_cast<std::size_t>(dxcc) >= by_dxcc_.size()) return kNoEntity;
  return by_dxcc_[static_cast<std::size_t>(dxcc)];
}

qso_country country_finder::find(std::string_view call, const award_fields& fields) {
  qso_country found;
  if (const auto resolved = resolver_.resolve(call)) {
    if (resolved->maritime) {
      found.where = placement::no_entity;
    } else if (resolved->entity != nullptr) {
      found.dxcc = resolved->entity->dxcc;
      found.entity = index_of(found.dxcc);
      found.where = found.entity == kNoEntity ? placement::unknown_number : placement::entity;
      found.cq = resolved->cq;
      found.continent = resolved->continent;
      found.uncertain = resolved->uncertain;
    }
  }
  if (const auto number = whole_number(fields.dxcc)) {
    found.uncertain = false;
    if (found.where != placement::entity || *number != found.dxcc) {
      found = {};
      found.dxcc = *number;
      found.entity = index_of(*number);
      if (*number == 0) {
        found.where = placement::no_entity;
      } else if (countries::deleted_dxcc(*number)) {
        found.where = placement::deleted_entity;
      } else if (found.entity == kNoEntity) {
        found.where = placement::unknown_number;
      } else {
        found.where = placement::entity;
        found.cq = entities_[found.entity]->cq;
        found.continent = entities_[found.entity]->continent;
      }
    }
  }
  if (found.where == placement::no_entity) return found;
  if (const auto zone = whole_number(fields.cqz); zone && *zone >= 1 && *zone <= 40) {
    found.cq = *zone;
  }
  if (const std::string_view continent = continent_named(fields.cont); !continent.empty()) {
    found.continent = continent;
  }
  return found;
}

std::size_t band_positions::of(const std::optional<std::string_view>& band) {
  if (!band) return kNoBandPosition;
  if (band->data() == last_) return last_position_;
  last_ = band->data();
  last_position_ = kNoBandPosition;
  for (std::size_t i = 0; i < kBandOrder.size(); ++i) {
    if (kBandOrder[i] == *band) last_position_ = i;
  }
  return last_position_;
}

std::uint64_t qso_moment(const qso_facts& facts, std::int32_t debut) {
  if (!facts.date) return kNoMoment;
  const calendar_date& date = *facts.date;
  const std::uint64_t day = static_cast<std::uint64_t>(date.year) * 10000 +
                            static_cast<std::uint64_t>(date.month) * 100 +
                            static_cast<std::uint64_t>(date.day);
  return day * 10000 + static_cast<std::uint64_t>(is_valid_time(debut) ? debut : 0);
}

std::string moment_day(std::uint64_t moment) {
  if (moment == kNoMoment) return "-";
  const std::uint64_t day = moment / 10000;
  const auto two = [](std::uint64_t n) {
    return std::string{static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
  };
  return two(day % 100) + "-" + two(day / 100 % 100) + "-" + std::to_string(day / 10000);
}

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count > 1 ? many : one);
}

}  // namespace velkrin::journal
