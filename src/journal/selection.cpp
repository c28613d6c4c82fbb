#include "journal/selection.hpp"

#include <cstring>

namespace velkrin::journal {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_char(char a, char b, bool blank_is_underscore) {
  a = upper(a);
  b = upper(b);
  if (blank_is_underscore) {
    if (a == ' ') a = '_';
    if (b == ' ') b = '_';
  }
  return a == b;
}

// The bytes of the UTF-8 character that begins at `i`.
std::size_t character_length(std::string_view text, std::size_t i) {
  std::size_t length = 1;
  while (i + length < text.size() &&
         (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

}  // namespace

bool wildcard_match(std::string_view pattern, std::string_view text, bool blank_is_underscore) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;  // the last "*" seen, and where it stood in text
  std::size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_text = t;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      t += character_length(text, t);
    } else if (p < pattern.size() && same_char(pattern[p], text[t], blank_is_underscore)) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      star_text += character_length(text, star_text);
      t = star_text;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool contains_any_case(std::string_view text, std::string_view upper_needle) {
  if (upper_needle.empty()) return true;
  if (text.size() < upper_needle.size()) return false;
  const char first = upper_needle.front();
  const char lower_first =
      first >= 'A' && first <= 'Z' ? static_cast<char>(first - 'A' + 'a') : first;
  const std::size_t last_start = text.size() - upper_needle.size();
  for (const char wanted : {first, lower_first}) {
    for (std::size_t from = 0; from <= last_start;) {
      const auto* found =
          static_cast<const char*>(std::memchr(text.data() + from, wanted, last_start + 1 - from));
      if (found == nullptr) break;
      const auto at = static_cast<std::size_t>(found - text.data());
      std::size_t k = 1;
      while (k < upper_needle.size() && upper(text[at + k]) == upper_needle[k]) ++k;
      if (k == upper_needle.size()) return true;
      from = at + 1;
    }
    if (lower_first == first) break;
  }
  return false;
}

std::string literal_part(std::string_view pattern) {
  std::string_view best;
  for (std::size_t start = 0; start < pattern.size();) {
    const auto end = std::min(pattern.find_first_of("*?", start), pattern.size());
    if (end - start > best.size()) best = pattern.substr(start, end - start);
    start = end + 1;
  }
  return to_upper(best);
}

bool may_hold(std::string_view line, std::string_view upper_needle) {
  // Where velkrin writes " kHz " while the values fit their columns, else
  // anywhere.
  constexpr std::string_view kUnit = " kHz";
  constexpr std::size_t kUnitColumn = 65;
  const bool in_place =
      line.size() >= kUnitColumn + kUnit.size() && line.substr(kUnitColumn, kUnit.size()) == kUnit;
  if (!in_place && line.find(kUnit) == std::string_view::npos) return true;
  return contains_any_case(line, upper_needle);
}

std::string clock_time(std::int32_t hhmm) {
  if (!is_valid_time(hhmm)) return std::to_string(hhmm);
  const int hours = hhmm / 100;
  const int minutes = hhmm % 100;
  return {static_cast<char>('0' + hours / 10), static_cast<char>('0' + hours % 10), ':',
          static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10)};
}

void fact_finder::find(const qso_values& qso, qso_facts& facts) {
  // QSOs come in date order: most lines repeat the date of the one before.
  if (!have_date_ || qso.date != last_date_) {
    last_date_ = qso.date;
    last_parsed_ = parse_date(qso.date);
    have_date_ = true;
  }
  facts.date = last_parsed_;
  facts.band = band_of(qso.frequence);
  facts.mode = &mode_of(qso.mode, qso.frequence, facts.band);
}

const std::optional<adif_mode>& fact_finder::mode_of(std::string_view emission_class,
                                                     std::int32_t khz,
                                                     std::optional<std::string_view> band) {
  // Only the sideband of SSB depends on the frequency.
  const bool upper_sideband = khz >= 10000 || band == "60m";
  // Classes are short: their first eight bytes tell most apart without a
  // call to compare them.
  std::uint64_t first_bytes = 0;
  for (std::size_t i = 0; i < emission_class.size() && i < 8; ++i) {
    first_bytes |= std::uint64_t{static_cast<unsigned char>(emission_class[i])} << (8 * i);
  }
  for (const known_class& known : classes_) {
    if (known.first_bytes == first_bytes && known.upper_sideband == upper_sideband &&
        known.typed.size() == emission_class.size() &&
        (emission_class.size() <= 8 || known.typed == emission_class)) {
      return known.mode;
    }
  }
  auto mode = velkrin::mode_of(emission_class, khz, user_modes_);
  if (classes_.size() >= kMaxKnownClasses) {
    spare_ = std::move(mode);
    return spare_;
  }
  classes_.push_back({std::string(emission_class), first_bytes, upper_sideband, std::move(mode)});
  return classes_.back().mode;
}

std::string mode_name(const qso_values& qso, const qso_facts& facts) {
  const std::optional<adif_mode>& mode = *facts.mode;
  if (!mode) return to_upper(qso.mode);
  return mode->submode.empty() ? mode->mode : mode->submode;
}

bool filters::matches(const qso_values& qso, const qso_facts& facts) const {
  if (call && !wildcard_match(*call, qso.indicatif)) return false;
  if (from || to) {
    if (!facts.date || (from && *facts.date < *from) || (to && *facts.date > *to)) return false;
  }
  if (band && facts.band != band) return false;
  if (!modes.empty()) {
    const std::optional<adif_mode>& mode = *facts.mode;
    bool found = false;
    for (const std::string& wanted : modes) {
      found = found || to_upper(qso.mode) == wanted ||
              (mode && (mode->mode == wanted || mode->submode == wanted));
    }
    if (!found) return false;
  }
  return !place || wildcard_match(*place, qso.lieu, true);
}

}  // namespace velkrin::journal
