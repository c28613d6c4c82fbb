#include "adif/entity_fields.hpp"

#include <algorithm>
#include <charconv>

namespace velkrin::adif {
namespace {

enum field_index : std::size_t { kDxcc, kCountry, kCqz, kItuz, kCont };

// The DXCC entity of that number: the file's entry that is no starred one.
const countries::country_entity* dxcc_entity(const countries::country_data& data, int dxcc) {
  const auto found = std::find_if(data.entities.begin(), data.entities.end(),
                                  [dxcc](auto& e) { return e.dxcc == dxcc && !e.starred; });
  return found == data.entities.end() ? nullptr : &*found;
}

// The number a DXCC field holds; nothing unless it is digits alone.
std::optional<int> dxcc_number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0) {
    return std::nullopt;
  }
  return value;
}

void set_place(entity_fields& fields, int cq, int itu, std::string_view continent) {
  if (cq > 0) fields.values[kCqz] = std::to_string(cq);
  if (itu > 0) fields.values[kItuz] = std::to_string(itu);
  fields.values[kCont] = continent;
}

}  // namespace

bool entity_fields::empty() const {
  return std::all_of(values.begin(), values.end(), [](const std::string& v) { return v.empty(); });
}

entity_fields fields_for(const countries::country_data& data, std::string_view call,
                         const std::string* details_dxcc) {
  entity_fields fields;
  const std::optional<countries::resolution> found = countries::resolve_call(data, call);
  if (details_dxcc != nullptr) {
    const std::optional<int> given = dxcc_number(*details_dxcc);
    if (!given) return fields;
    if (found && found->entity != nullptr && found->entity->dxcc == *given) {
      if (const countries::country_entity* entity = dxcc_entity(data, *given)) {
        fields.values[kCountry] = entity->name;
      }
      set_place(fields, found->cq, found->itu, found->continent);
      fields.uncertain = found->uncertain;
    } else if (const countries::country_entity* entity = dxcc_entity(data, *given)) {
      fields.values[kCountry] = entity->name;
      set_place(fields, entity->cq, entity->itu, entity->continent);
    }
    return fields;
  }
  if (!found) return fields;
  if (found->maritime) {
    fields.values[kDxcc] = "0";
    return fields;
  }
  const countries::country_entity& entity = *found->entity;
  fields.values[kDxcc] = std::to_string(entity.dxcc);
  const countries::country_entity* named =
      entity.starred ? dxcc_entity(data, entity.dxcc) : &entity;
  if (named != nullptr) fields.values[kCountry] = named->name;
  set_place(fields, found->cq, found->itu, found->continent);
  fields.uncertain = found->uncertain;
  return fields;
}

const entity_fields& entity_lookup::fields(std::string_view call, const std::string* details_dxcc) {
  if (details_dxcc != nullptr) {
    uncached_ = fields_for(data_, call, details_dxcc);
    return uncached_;
  }
  if (const auto known = known_.find(call); known != known_.end()) return known->second;
  return known_.emplace(std::string(call), fields_for(data_, call, nullptr)).first->second;
}

}  // namespace velkrin::adif
