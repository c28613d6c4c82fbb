#include "countries/supercheck.hpp"

#include <algorithm>
#include <cstdint>

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

// A polynomial hash modulo 2^64, so that the hash of a call one edit away
// follows from the hashes of its prefix and suffix in constant time.
constexpr std::uint64_t kHashBase = 1'000'003;

std::uint64_t hash_of(std::string_view text) {
  std::uint64_t hash = 0;
  for (const char c : text) hash = hash * kHashBase + static_cast<unsigned char>(c);
  return hash;
}

// The frequent listed calls, by hash, in an open-addressed table: a lookup
// is one probe sequence over hashes, and strings are compared only when the
// hashes agree. The views point into the caller's calls.
class call_table {
 public:
  explicit call_table(const std::vector<std::string_view>& calls) {
    std::size_t capacity = 16;
    while (capacity < calls.size() * 2) capacity *= 2;
    slots_.resize(capacity);
    mask_ = capacity - 1;
    for (const std::string_view call : calls) {
      const std::uint64_t hash = hash_of(call);
      std::size_t at = hash & mask_;
      while (!slots_[at].call.empty()) at = (at + 1) & mask_;
      slots_[at] = {hash, call};
    }
  }

  // The call of this hash that `candidate` (called only on a hash match)
  // spells out, or an empty view.
  template <typename Spell>
  std::string_view find(std::uint64_t hash, Spell candidate) const {
    for (std::size_t at = hash & mask_; !slots_[at].call.empty(); at = (at + 1) & mask_) {
      if (slots_[at].hash == hash && slots_[at].call == candidate()) return slots_[at].call;
    }
    return {};
  }

 private:
  struct slot {
    std::uint64_t hash = 0;
    std::string_view call;
  };
  std::vector<slot> slots_;
  std::size_t mask_ = 0;
};

// Calls one edit away from `call` that `table` holds, into `found`, sorted
// and once each. The hashes of the call's prefixes and suffixes and the
// powers of the base live in vectors reused from call to call.
struct neighbour_search {
  const call_table& table;
  std::vector<std::uint64_t> prefix, suffix, power;
  std::string spelled;

  void run(std::string_view call, std::vector<std::string>& found) {
    const std::size_t n = call.size();
    prefix.assign(n + 1, 0);
    suffix.assign(n + 1, 0);
    if (power.size() < n + 2) {
      power.assign(n + 2, 1);
      for (std::size_t k = 1; k < power.size(); ++k) power[k] = power[k - 1] * kHashBase;
    }
    for (std::size_t i = 0; i < n; ++i) {
      prefix[i + 1] = prefix[i] * kHashBase + static_cast<unsigned char>(call[i]);
    }
    for (std::size_t i = n; i-- > 0;) {
      suffix[i] = static_cast<unsigned char>(call[i]) * power[n - 1 - i] + suffix[i + 1];
    }
    const auto keep = [&found](std::string_view hit) {
      if (!hit.empty()) found.emplace_back(hit);
    };
    for (std::size_t at = 0; at < n; ++at) {
      const std::uint64_t hash = prefix[at] * power[n - at - 1] + suffix[at + 1];
      keep(table.find(hash, [&] {
        spelled.assign(call).erase(at, 1);
        return std::string_view(spelled);
      }));
    }
    for (std::size_t at = 0; at < n; ++at) {
      const std::uint64_t around = prefix[at] * power[n - at] + suffix[at + 1];
      for (const char c : kCallCharacters) {
        if (c == call[at]) continue;
        const std::uint64_t hash = around + static_cast<unsigned char>(c) * power[n - at - 1];
        keep(table.find(hash, [&] {
          spelled.assign(call)[at] = c;
          return std::string_view(spelled);
        }));
      }
    }
    for (std::size_t at = 0; at <= n; ++at) {
      const std::uint64_t around = prefix[at] * power[n - at + 1] + suffix[at];
      for (const char c : kCallCharacters) {
        const std::uint64_t hash = around + static_cast<unsigned char>(c) * power[n - at];
        keep(table.find(hash, [&] {
          spelled.assign(call).insert(at, 1, c);
          return std::string_view(spelled);
        }));
      }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
  }
};

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
  std::vector<std::string_view> frequent;
  for (const auto& entry : calls) {
    if (entry.qsos >= 2 && list.contains(entry.call)) frequent.push_back(entry.call);
  }
  std::vector<likely_typo> typos;
  if (frequent.empty()) return typos;
  const call_table table(frequent);
  neighbour_search search{table, {}, {}, {}, {}};
  std::vector<std::string> near;
  for (const auto& entry : calls) {
    if (entry.qsos != 1 || entry.call.empty() || list.contains(entry.call)) continue;
    near.clear();
    search.run(entry.call, near);
    if (!near.empty()) typos.push_back({std::string(entry.call), near});
  }
  std::sort(typos.begin(), typos.end(),
            [](const likely_typo& a, const likely_typo& b) { return a.call < b.call; });
  return typos;
}

}  // namespace velkrin::countries
