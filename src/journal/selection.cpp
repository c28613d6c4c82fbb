#include "journal/selection.hpp"

#include <cstring>
#include <iterator>

namespace velkrin::journal {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool same_char(char a, char b) { return upper(a) == upper(b); }

// The bytes of the UTF-8 character that begins at `i`.
std::size_t character_length(std::string_view text, std::size_t i) {
  std::size_t length = 1;
  while (i + length < text.size() &&
         (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

// The base letters of U+00C0 to U+017F, one entry per code point: a letter,
// or two for a ligature or a letter that stands for two ('*' where the code
// point is no letter and stays as it is).
constexpr std::string_view kLatinBase[] = {
    // U+00C0
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",
    // U+00D0
    "D", "N", "O", "O", "O", "O", "O", "*", "O", "U", "U", "U", "U", "Y", "TH", "SS",
    // U+00E0
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I", "I",
    // U+00F0
    "D", "N", "O", "O", "O", "O", "O", "*", "O", "U", "U", "U", "U", "Y", "TH", "Y",
    // U+0100
    "A", "A", "A", "A", "A", "A", "C", "C", "C", "C", "C", "C", "C", "C", "D", "D",
    // U+0110
    "D", "D", "E", "E", "E", "E", "E", "E", "E", "E", "E", "E", "G", "G", "G", "G",
    // U+0120
    "G", "G", "G", "G", "H", "H", "H", "H", "I", "I", "I", "I", "I", "I", "I", "I",
    // U+0130
    "I", "I", "IJ", "IJ", "J", "J", "K", "K", "K", "L", "L", "L", "L", "L", "L", "L",
    // U+0140
    "L", "L", "L", "N", "N", "N", "N", "N", "N", "N", "N", "N", "O", "O", "O", "O",
    // U+0150
    "O", "O", "OE", "OE", "R", "R", "R", "R", "R", "R", "S", "S", "S", "S", "S", "S",
    // U+0160
    "S", "S", "T", "T", "T", "T", "T", "T", "U", "U", "U", "U", "U", "U", "U", "U",
    // U+0170
    "U", "U", "U", "U", "W", "W", "Y", "Y", "Y", "Z", "Z", "Z", "Z", "Z", "Z", "S"};
constexpr std::uint32_t kLatinFirst = 0xC0;
constexpr std::uint32_t kLatinLast = 0x17F;
static_assert(std::size(kLatinBase) == kLatinLast - kLatinFirst + 1);

bool is_place_separator(char c) { return c == ' ' || c == '_' || c == '-'; }

}  // namespace

std::string fold_place(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (is_place_separator(c)) {
      if (folded.empty() || folded.back() != '_') folded += '_';
      ++i;
      continue;
    }
    const auto lead = static_cast<unsigned char>(c);
    if (lead < 0x80) {
      folded += upper(c);
      ++i;
      continue;
    }
    const std::size_t length = character_length(text, i);
    std::uint32_t code = 0;
    if (length == 2 && (lead & 0xE0) == 0xC0) {
      code = (lead & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
    }
    if (code >= 0x300 && code <= 0x36F) {
      // A combining accent, as some keyboards send "e" then the accent.
    } else if (code >= kLatinFirst && code <= kLatinLast && kLatinBase[code - kLatinFirst] != "*") {
      folded += kLatinBase[code - kLatinFirst];
    } else {
      folded.append(text.substr(i, length));
    }
    i += length;
  }
  return folded;
}

bool wildcard_match(std::string_view pattern, std::string_view text) {
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
    } else if (p < pattern.size() && same_char(pattern[p], text[t])) {
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
  if (!place) return true;
  // Most QSOs repeat the place of the one before.
  if (qso.lieu != last_place_ || !folded_valid_) {
    last_place_ = qso.lieu;
    last_folded_ = fold_place(qso.lieu);
    folded_valid_ = true;
  }
  return wildcard_match(*place, last_folded_);
}

}  // namespace velkrin::journal
