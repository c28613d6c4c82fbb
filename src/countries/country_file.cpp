#include "countries/country_file.hpp"

#include <algorithm>
#include <array>
#include <charconv>

namespace velkrin::countries {
namespace {

constexpr std::size_t kFieldCount = 10;
constexpr std::string_view kVersionCall = "VER";
constexpr std::array<std::string_view, 8> kNoLocationParts{"P", "M",  "QRP", "QRPP",
                                                           "A", "LH", "R",   "B"};

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::optional<int> number(std::string_view text) {
  text = trim(text);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

// One prefix or exact call with its overrides: "=7O2A(37)[48]".
bool read_entry(std::string_view word, std::uint32_t entity, const country_entity& owner,
                std::string& name, prefix_entry& entry) {
  entry = {entity, owner.cq, owner.itu, owner.continent};
  const std::size_t end = word.find_first_of("([<{~");
  name = upper(word.substr(0, end));
  for (std::size_t at = end; at != std::string_view::npos && at < word.size();) {
    const char open = word[at];
    const char close = open == '('   ? ')'
                       : open == '[' ? ']'
                       : open == '<' ? '>'
                       : open == '{' ? '}'
                                     : '~';
    const std::size_t stop = word.find(close, at + 1);
    if (stop == std::string_view::npos) return false;
    const std::string_view inside = word.substr(at + 1, stop - at - 1);
    if (open == '(' || open == '[') {
      const auto value = number(inside);
      if (!value) return false;
      (open == '(' ? entry.cq : entry.itu) = *value;
    } else if (open == '{') {
      entry.continent = std::string(inside);
    }
    at = stop + 1;
  }
  return !name.empty();
}

}  // namespace

parsed_country_file parse_country_file(std::string_view text) {
  parsed_country_file parsed;
  country_data data;
  std::size_t line_number = 0;
  // Sized once for the whole file: an exact call per "=", a prefix per
  // other word at most.
  const auto exact_count = static_cast<std::size_t>(std::count(text.begin(), text.end(), '='));
  const auto words = static_cast<std::size_t>(std::count(text.begin(), text.end(), ' ')) + 1;
  data.exact_calls.reserve(exact_count);
  data.prefixes.reserve(words > exact_count ? words - exact_count : 0);
  const auto fail = [&](std::string_view why) {
    parsed.error = "ligne " + std::to_string(line_number) + " : " + std::string(why);
    return parsed;
  };
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = trim(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++line_number;
    if (line.empty()) continue;
    std::array<std::string_view, kFieldCount> fields;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      const std::size_t comma = i + 1 < kFieldCount ? line.find(',') : std::string_view::npos;
      if (i + 1 < kFieldCount && comma == std::string_view::npos) {
        return fail("moins de 10 champs separes par des virgules");
      }
      fields[i] = trim(line.substr(0, comma));
      if (comma != std::string_view::npos) line.remove_prefix(comma + 1);
    }
    country_entity entity;
    entity.starred = fields[0].starts_with('*');
    entity.prefix = std::string(fields[0].substr(entity.starred ? 1 : 0));
    entity.name = std::string(fields[1]);
    const auto dxcc = number(fields[2]);
    const auto cq = number(fields[4]);
    const auto itu = number(fields[5]);
    if (!dxcc || !cq || !itu || entity.prefix.empty()) {
      return fail("numero DXCC, zone CQ ou zone ITU illisible");
    }
    entity.dxcc = *dxcc;
    entity.continent = std::string(fields[3]);
    entity.cq = *cq;
    entity.itu = *itu;
    const auto index = static_cast<std::uint32_t>(data.entities.size());
    std::string_view words = fields[9];
    if (words.ends_with(';')) words.remove_suffix(1);
    while (!words.empty()) {
      const std::size_t blank = words.find(' ');
      const std::string_view word = trim(words.substr(0, blank));
      words.remove_prefix(blank == std::string_view::npos ? words.size() : blank + 1);
      if (word.empty()) continue;
      const bool exact = word.starts_with('=');
      std::string name;
      prefix_entry entry;
      if (!read_entry(word.substr(exact ? 1 : 0), index, entity, name, entry)) {
        return fail("prefixe \"" + std::string(word) + "\" illisible");
      }
      if (exact && name.starts_with(kVersionCall) && name.size() > kVersionCall.size() &&
          std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        data.version = name.substr(kVersionCall.size());
        continue;
      }
      if (exact && name == "VERSION") continue;
      if (exact) {
        data.exact_calls.insert_or_assign(std::move(name), std::move(entry));
      } else {
        data.longest_prefix = std::max(data.longest_prefix, name.size());
        data.prefixes.insert_or_assign(std::move(name), std::move(entry));
      }
    }
    data.entities.push_back(std::move(entity));
  }
  if (data.entities.empty()) return fail("aucune entite");
  parsed.data = std::move(data);
  return parsed;
}

namespace {

// The entry of the longest prefix of `call`, with the prefix's length.
const prefix_entry* longest_prefix(const country_data& data, std::string_view call) {
  for (std::size_t length = std::min(call.size(), data.longest_prefix); length > 0; --length) {
    if (const auto found = data.prefixes.find(call.substr(0, length));
        found != data.prefixes.end()) {
      return &found->second;
    }
  }
  return nullptr;
}

resolution resolved(const country_data& data, const prefix_entry& entry) {
  return {&data.entities[entry.entity], entry.cq, entry.itu, entry.continent, false, false};
}

}  // namespace

std::optional<resolution> resolve_call(const country_data& data, std::string_view typed) {
  const std::string call = upper(trim(typed));
  if (call.empty()) return std::nullopt;
  if (const auto found = data.exact_calls.find(call); found != data.exact_calls.end()) {
    resolution result = resolved(data, found->second);
    if (call.ends_with("/MM") || call.ends_with("/AM")) {
      result.entity = nullptr;
      result.maritime = true;
    }
    return result;
  }
  std::vector<std::string_view> parts;
  for (std::string_view rest = call; !rest.empty();) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == "MM" || part == "AM") {
      resolution maritime;
      maritime.maritime = true;
      return maritime;
    }
    if (!part.empty() && std::find(kNoLocationParts.begin(), kNoLocationParts.end(), part) ==
                             kNoLocationParts.end()) {
      parts.push_back(part);
    }
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
  }
  // A single digit moves the station within its country.
  if (parts.size() > 1) {
    parts.erase(std::remove_if(parts.begin() + 1, parts.end(),
                               [](std::string_view part) {
                                 return part.size() == 1 && part[0] >= '0' && part[0] <= '9';
                               }),
                parts.end());
  }
  if (parts.empty() || parts.size() > 2) return std::nullopt;
  std::string_view where = parts[0];
  if (parts.size() == 2) where = parts[1].size() < parts[0].size() ? parts[1] : parts[0];
  const prefix_entry* entry = longest_prefix(data, where);
  if (entry == nullptr) return std::nullopt;
  resolution result = resolved(data, *entry);
  const country_entity& entity = *result.entity;
  result.uncertain = entity.prefix == "F" && (where.starts_with("TO") || where.starts_with("TX"));
  return result;
}

std::optional<resolution> call_resolver::resolve(std::string_view call) {
  if (call.size() > kKeyBytes) return resolve_call(*data_, call);
  if (used_ * 2 >= slots_.size()) grow();
  const std::uint64_t hash = std::hash<std::string_view>{}(call);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    slot& here = slots_[at];
    if ((here.flags & kUsed) == 0) {
      std::optional<resolution> answer = resolve_call(*data_, call);
      pack(answer, here);
      here.hash = hash;
      here.length = static_cast<std::uint8_t>(call.size());
      std::copy(call.begin(), call.end(), here.key);
      ++used_;
      return answer;
    }
    if (here.hash == hash && std::string_view(here.key, here.length) == call) return unpack(here);
  }
}

void call_resolver::pack(const std::optional<resolution>& answer, slot& into) {
  into.flags = kUsed;
  if (!answer) return;
  into.flags |=
      kResolved | (answer->maritime ? kMaritime : 0) | (answer->uncertain ? kUncertain : 0);
  into.entity = answer->entity;
  into.continent = answer->continent.data();
  into.continent_length = static_cast<std::uint32_t>(answer->continent.size());
  into.cq = answer->cq;
  into.itu = answer->itu;
}

std::optional<resolution> call_resolver::unpack(const slot& from) {
  if ((from.flags & kResolved) == 0) return std::nullopt;
  return resolution{from.entity,
                    from.cq,
                    from.itu,
                    std::string_view(from.continent, from.continent_length),
                    (from.flags & kMaritime) != 0,
                    (from.flags & kUncertain) != 0};
}

void call_resolver::grow() {
  std::vector<slot> old = std::move(slots_);
  slots_.assign(std::max<std::size_t>(1024, old.size() * 2), slot{});
  const std::size_t mask = slots_.size() - 1;
  for (const slot& moved : old) {
    if ((moved.flags & kUsed) == 0) continue;
    std::size_t at = moved.hash & mask;
    while ((slots_[at].flags & kUsed) != 0) at = (at + 1) & mask;
    slots_[at] = moved;
  }
}

}  // namespace velkrin::countries
