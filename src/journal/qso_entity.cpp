#include "journal/qso_entity.hpp"

#include <charconv>

namespace velkrin::journal {

entity_finder::entity_finder(const countries::country_data& data) : resolver_(data) {
  for (const countries::country_entity& entity : data.entities) {
    if (entity.starred || entity.dxcc <= 0) continue;
    const auto at = static_cast<std::size_t>(entity.dxcc);
    if (by_dxcc_.size() <= at) by_dxcc_.resize(at + 1, nullptr);
    if (by_dxcc_[at] == nullptr) by_dxcc_[at] = &entity;
  }
}

const countries::country_entity* entity_finder::numbered(int dxcc) const {
  if (dxcc <= 0 || static_cast<std::size_t>(dxcc) >= by_dxcc_.size()) return nullptr;
  return by_dxcc_[static_cast<std::size_t>(dxcc)];
}

qso_entity entity_finder::of_call(std::string_view call) {
  qso_entity found;
  const std::optional<countries::resolution> resolved = resolver_.resolve(call);
  if (!resolved) return found;
  found.maritime = resolved->maritime;
  if (resolved->entity == nullptr) return found;
  found.entity = resolved->entity;
  found.dxcc = resolved->entity->dxcc;
  found.continent = resolved->continent;
  found.cq = resolved->cq;
  found.itu = resolved->itu;
  found.uncertain = resolved->uncertain;
  return found;
}

qso_entity entity_finder::of_qso(std::string_view call, const details_record* details) {
  const std::optional<int> given = details ? details_dxcc(*details) : std::nullopt;
  if (!given) return of_call(call);
  qso_entity found = of_call(call);
  // The call's own resolution keeps its zones when the details agree, and
  // is then no longer in doubt.
  if (found.dxcc == *given && found.entity != nullptr) {
    found.uncertain = false;
    return found;
  }
  found = {};
  found.dxcc = *given;
  found.entity = numbered(*given);
  if (found.entity != nullptr) {
    found.continent = found.entity->continent;
    found.cq = found.entity->cq;
    found.itu = found.entity->itu;
  }
  return found;
}

std::optional<int> details_dxcc(const details_record& details) {
  const std::string* value = details.find("DXCC");
  if (value == nullptr || value->empty()) return std::nullopt;
  int number = 0;
  const auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), number);
  if (error != std::errc{} || end != value->data() + value->size() || number < 0) {
    return std::nullopt;
  }
  return number;
}

std::string describe_entity(const qso_entity& found, const countries::country_data& data) {
  if (found.entity == nullptr) return "DXCC " + std::to_string(found.dxcc);
  const countries::country_entity& entity = *found.entity;
  std::string text = entity.name + " (" + entity.prefix;
  if (entity.starred) {
    for (const countries::country_entity& parent : data.entities) {
      if (!parent.starred && parent.dxcc == entity.dxcc) {
        text += ", compte pour " + parent.name;
        break;
      }
    }
  }
  text += "), DXCC " + std::to_string(found.dxcc);
  if (!found.continent.empty()) text += ", " + std::string(found.continent);
  if (found.cq > 0) text += ", zone CQ " + std::to_string(found.cq);
  if (found.itu > 0) text += ", zone ITU " + std::to_string(found.itu);
  return text;
}

}  // namespace velkrin::journal
