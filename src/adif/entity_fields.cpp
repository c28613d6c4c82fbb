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
  if (const std::optional<std::uint32_t> known = known_.find(call)) return answers_[*known];
  entity_fields answer = fields_for(data_, call, nullptr);
  std::string values(answer.uncertain ? "?" : "");
  for (const std::string& value : answer.values) values.append(value).push_back('\n');
  const auto [found, added] =
      answer_index_.try_emplace(std::move(values), static_cast<std::uint32_t>(answers_.size()));
  if (added) answers_.push_back(std::move(answer));
  known_.add(call, found->second);
  return answers_[found->second];
}

std::size_t entity_lookup::call_index::first_slot(std::string_view call) const {
  return std::hash<std::string_view>{}(call) & (slots_.size() - 1);
}

void entity_lookup::call_index::prefetch(std::string_view call) const {
  if (call.empty() || call.size() > kInlineCall || slots_.empty()) return;
  __builtin_prefetch(&slots_[first_slot(call)]);
}

std::optional<std::uint32_t> entity_lookup::call_index::find(std::string_view call) const {
  if (call.empty() || call.size() > kInlineCall) {
    const auto found = others_.find(call);
    if (found == others_.end()) return std::nullopt;
    return found->second;
  }
  if (slots_.empty()) return std::nullopt;
  for (std::size_t at = first_slot(call);; at = (at + 1) & (slots_.size() - 1)) {
    const slot& here = slots_[at];
    if (here.size == 0) return std::nullopt;
    if (std::string_view(here.call, here.size) == call) return here.answer;
  }
}

void entity_lookup::call_index::add(std::string_view call, std::uint32_t answer) {
  if (call.empty() || call.size() > kInlineCall) {
    others_.insert_or_assign(std::string(call), answer);
    return;
  }
  // At most half full, so that a probe ends soon on a free slot.
  if (2 * (used_ + 1) > slots_.size()) {
    std::vector<slot> old = std::move(slots_);
    slots_.assign(std::max<std::size_t>(1024, 2 * old.size()), slot{});
    used_ = 0;
    for (const slot& kept : old) {
      if (kept.size != 0) add(std::string_view(kept.call, kept.size), kept.answer);
    }
  }
  std::size_t at = first_slot(call);
  for (; slots_[at].size != 0; at = (at + 1) & (slots_.size() - 1)) {
    if (std::string_view(slots_[at].call, slots_[at].size) == call) {
      slots_[at].answer = answer;
      return;
    }
  }
  slot& free = slots_[at];
  std::copy(call.begin(), call.end(), free.call);
  free.size = static_cast<std::uint8_t>(call.size());
  free.answer = answer;
  ++used_;
}

}  // namespace velkrin::adif
