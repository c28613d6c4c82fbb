#include "countries/supercheck.hpp"

#include <algorithm>
#include <array>

namespace velkrin::countries {
namespace {

constexpr std::string_view kCallCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Calls one edit away from `call` that `wanted` holds, added to `found`.
// `scratch` is reused from call to call so that no string is allocated per
// candidate.
void near_calls(std::string_view call, const std::unordered_set<std::string_view>& wanted,
                std::string& scratch, std::vector<std::string>& found) {
  const auto look = [&] {
    if (const auto hit = wanted.find(scratch); hit != wanted.end()) found.emplace_back(*hit);
  };
  for (std::size_t at = 0; at < call.size(); ++at) {
    scratch.assign(call).erase(at, 1);
    look();
  }
  for (std::size_t at = 0; at < call.size(); ++at) {
    scratch.assign(call);
    for (const char c : kCallCharacters) {
      if (c == call[at]) continue;
      scratch[at] = c;
      look();
    }
  }
  for (std::size_t at = 0; at <= call.size(); ++at) {
    scratch.assign(call).insert(at, 1, ' ');
    for (const char c : kCallCharacters) {
      scratch[at] = c;
      look();
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
}

}  // namespace

supercheck_list parse_supercheck(std::string_view text) {
  supercheck_list list;
  list.text_.reserve(text.size());
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // offset, length in text_
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (std::any_of(line.begin(), line.end(), is_blank)) continue;
    spans.emplace_back(list.text_.size(), line.size());
    for (const char c : line) list.text_.push_back(upper(c));
  }
  list.calls_.reserve(spans.size());
  for (const auto& [offset, length] : spans)
    list.calls_.emplace(list.text_.data() + offset, length);
  return list;
}

std::vector<likely_typo> likely_typos(std::span<const call_count> calls,
                                      const supercheck_list& list) {
  std::unordered_set<std::string_view> frequent;
  for (const auto& entry : calls) {
    if (entry.qsos >= 2 && list.contains(entry.call)) frequent.insert(entry.call);
  }
  std::vector<likely_typo> typos;
  if (frequent.empty()) return typos;
  std::string scratch;
  std::vector<std::string> near;
  for (const auto& entry : calls) {
    if (entry.qsos != 1 || entry.call.empty() || list.contains(entry.call)) continue;
    near.clear();
    near_calls(entry.call, frequent, scratch, near);
    if (!near.empty()) typos.push_back({std::string(entry.call), near});
  }
  std::sort(typos.begin(), typos.end(),
            [](const likely_typo& a, const likely_typo& b) { return a.call < b.call; });
  return typos;
}

}  // namespace velkrin::countries
