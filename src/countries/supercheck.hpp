// The supercheck list (MASTER.SCP, packaged by Debian in hamradio-files):
// the calls heard active in contests, one a line, lines starting with '#'
// being comments. From it and a logbook's calls, the calls most likely
// mistyped: logged once, unknown to the list, one character away from a
// listed call that the logbook holds several times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace velkrin::countries {

// The calls of the list, in upper case, in one block of memory with a hash
// set of views into it. It can be moved but not copied (the views would
// point into the original).
class supercheck_list {
 public:
  supercheck_list() = default;
  supercheck_list(const supercheck_list&) = delete;
  supercheck_list& operator=(const supercheck_list&) = delete;
  supercheck_list(supercheck_list&&) = default;
  supercheck_list& operator=(supercheck_list&&) = default;

  // `call` in upper case.
  bool contains(std::string_view call) const { return calls_.contains(call); }
  std::size_t size() const { return calls_.size(); }

 private:
  friend supercheck_list parse_supercheck(std::string_view text);
  std::vector<char> text_;
  std::unordered_set<std::string_view> calls_;
};

// Every line that is not blank or a comment is a call; blanks around it and
// a CR before the LF are dropped, letters upper-cased. A line holding a blank
// inside is no call and is left out.
supercheck_list parse_supercheck(std::string_view text);

// A call as logged (upper case, portable parts kept) and its number of QSOs.
struct call_count {
  std::string_view call;
  std::uint64_t qsos = 0;
};

struct likely_typo {
  std::string call;               // logged once, not in the list
  std::vector<std::string> near;  // listed calls logged twice or more, sorted
};

// Each call logged once and absent from the list that one substitution,
// insertion or deletion (over A-Z, 0-9 and '/') turns into a listed call
// logged at least twice; sorted by call. Whole calls are compared: F4ABC/P
// is near F4ABD/P, not F4ABC. Each call appears once in `calls`.
std::vector<likely_typo> likely_typos(std::span<const call_count> calls,
                                      const supercheck_list& list);

}  // namespace velkrin::countries
