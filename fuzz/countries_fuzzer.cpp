// libFuzzer target for the country files and the supercheck list, which an
// operator downloads and drops beside the logbook: any bytes must give a
// value, never a crash; the resolver's cache must answer as resolve_call
// does; the likely typos must keep their rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "countries/country_file.hpp"
#include "countries/supercheck.hpp"

namespace {

using namespace velkrin::countries;

// The words of the input that could be calls, and some of them joined by
// "/" as portable calls are.
std::vector<std::string> calls_in(std::string_view text) {
  std::vector<std::string> calls;
  std::string word;
  for (const char c : text) {
    const bool part = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '/' || c == '=';
    if (part && word.size() < 24) {
      word += c;
    } else if (!word.empty()) {
      calls.push_back(word[0] == '=' ? word.substr(1) : word);
      word.clear();
    }
    if (calls.size() >= 64) break;
  }
  if (!word.empty()) calls.push_back(word);
  for (std::size_t i = 1; i < calls.size() && calls.size() < 96; i += 3) {
    calls.push_back(calls[i - 1] + "/" + calls[i]);
  }
  return calls;
}

bool same(const std::optional<resolution>& a, const std::optional<resolution>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  return a->entity == b->entity && a->cq == b->cq && a->itu == b->itu &&
         a->continent == b->continent && a->maritime == b->maritime && a->uncertain == b->uncertain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> calls = calls_in(text);

  const parsed_country_file parsed = parse_country_file(text);
  if (parsed.data.has_value() == !parsed.error.empty()) std::abort();
  if (parsed.data) {
    call_resolver cache(*parsed.data);
    for (int round = 0; round < 2; ++round) {
      for (const std::string& call : calls) {
        if (!same(cache.resolve(call), resolve_call(*parsed.data, call))) std::abort();
      }
    }
  }

  const supercheck_list list = parse_supercheck(text);
  std::unordered_map<std::string, std::uint64_t> counts;
  for (std::size_t i = 0; i < calls.size(); ++i) counts[calls[i]] += 1 + i % 2;
  std::vector<call_count> logged;
  for (const auto& [call, qsos] : counts) logged.push_back({call, qsos});
  for (const likely_typo& typo : likely_typos(logged, list)) {
    const auto found = counts.find(typo.call);
    if (found == counts.end() || found->second != 1 || list.contains(typo.call)) std::abort();
    if (typo.near.empty()) std::abort();
    for (const std::string& near : typo.near) {
      const auto other = counts.find(near);
      if (other == counts.end() || other->second < 2 || !list.contains(near)) std::abort();
    }
  }
  return 0;
}
