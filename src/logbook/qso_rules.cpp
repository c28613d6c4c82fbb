#include "logbook/qso_rules.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <span>
#include <vector>

#include "logbook/eight_bytes.hpp"

namespace velkrin {
namespace {

constexpr int kFirstAdifYear = 1930;
constexpr std::int32_t kUpperSidebandFromKhz = 10000;

struct band_edges {
  std::string_view name;
  std::int64_t lowest_hz;
  std::int64_t highest_hz;
};

// The ADIF 3.1.4 band table, edges in hertz.
constexpr std::array<band_edges, 33> kBands{{
    {"2190m", 135'700, 137'800},
    {"630m", 472'000, 479'000},
    {"560m", 501'000, 504'000},
    {"160m", 1'800'000, 2'000'000},
    {"80m", 3'500'000, 4'000'000},
    {"60m", 5'060'000, 5'450'000},
    {"40m", 7'000'000, 7'300'000},
    {"30m", 10'100'000, 10'150'000},
    {"20m", 14'000'000, 14'350'000},
    {"17m", 18'068'000, 18'168'000},
    {"15m", 21'000'000, 21'450'000},
    {"12m", 24'890'000, 24'990'000},
    {"10m", 28'000'000, 29'700'000},
    {"8m", 40'000'000, 45'000'000},
    {"6m", 50'000'000, 54'000'000},
    {"5m", 54'000'001, 69'900'000},
    {"4m", 70'000'000, 71'000'000},
    {"2m", 144'000'000, 148'000'000},
    {"1.25m", 222'000'000, 225'000'000},
    {"70cm", 420'000'000, 450'000'000},
    {"33cm", 902'000'000, 928'000'000},
    {"23cm", 1'240'000'000, 1'300'000'000},
    {"13cm", 2'300'000'000, 2'450'000'000},
    {"9cm", 3'300'000'000, 3'500'000'000},
    {"6cm", 5'650'000'000, 5'925'000'000},
    {"3cm", 10'000'000'000, 10'500'000'000},
    {"1.25cm", 24'000'000'000, 24'250'000'000},
    {"6mm", 47'000'000'000, 47'200'000'000},
    {"4mm", 75'500'000'000, 81'000'000'000},
    {"2.5mm", 119'980'000'000, 123'000'000'000},
    {"2mm", 134'000'000'000, 149'000'000'000},
    {"1mm", 241'000'000'000, 250'000'000'000},
    {"submm", 300'000'000'000, 7'500'000'000'000},
}};

// The ADIF 3.1.4 modes (import-only ones left out).
constexpr std::array<std::string_view, 46> kModes{
    "AM",     "ARDOP",   "ATV",  "CHIP",  "CLO",    "CONTESTI", "CW",     "DIGITALVOICE",
    "DOMINO", "DYNAMIC", "FAX",  "FM",    "FSK441", "FT8",      "HELL",   "ISCAT",
    "JT4",    "JT6M",    "JT9",  "JT44",  "JT65",   "MFSK",     "MSK144", "MT63",
    "OLIVIA", "OPERA",   "PAC",  "PAX",   "PKT",    "PSK",      "PSK2K",  "Q15",
    "QRA64",  "ROS",     "RTTY", "RTTYM", "SSB",    "SSTV",     "T10",    "THOR",
    "THRB",   "TOR",     "V4",   "VOI",   "WINMOR", "WSPR"};

struct mode_pair {
  std::string_view key;
  std::string_view mode;
};

// Submodes that operators often type for their mode.
constexpr std::array<mode_pair, 12> kSubmodes{{{"USB", "SSB"},
                                               {"LSB", "SSB"},
                                               {"FT4", "MFSK"},
                                               {"FST4", "MFSK"},
                                               {"FST4W", "MFSK"},
                                               {"JS8", "MFSK"},
                                               {"Q65", "MFSK"},
                                               {"PSK31", "PSK"},
                                               {"PSK63", "PSK"},
                                               {"PSK125", "PSK"},
                                               {"BPSK31", "PSK"},
                                               {"QPSK31", "PSK"}}};

// Classes of emission whose ADIF mode is certain.
constexpr std::array<mode_pair, 8> kClasses{{{"J3E", "SSB"},
                                             {"R3E", "SSB"},
                                             {"H3E", "SSB"},
                                             {"A1A", "CW"},
                                             {"A3E", "AM"},
                                             {"F3E", "FM"},
                                             {"G3E", "FM"},
                                             {"F1B", "RTTY"}}};

// The French names of single sideband: BLU (bande laterale unique), its
// lower (BLI) and upper (BLS) sideband.
struct sideband_class {
  std::string_view key;
  std::string_view submode;  // empty: the sideband comes from the frequency
};
constexpr std::array<sideband_class, 3> kFrenchSidebands{
    {{"BLU", ""}, {"BLI", "LSB"}, {"BLS", "USB"}}};

// Parts of a call sign that say how or where the station operates, not who.
constexpr std::array<std::string_view, 9> kOperatingSuffixes{"P", "M",  "MM",   "AM", "QRP",
                                                             "A", "LH", "QRPP", "R"};

// Digits only, between `min` and `max` of them.
std::optional<int> parse_digits(std::string_view text, std::size_t min, std::size_t max) {
  if (text.size() < min || text.size() > max) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool is_date_separator(char c) { return c == '-' || c == '/' || c == '.'; }

bool is_adif_mode(std::string_view mode) {
  for (const auto known : kModes) {
    if (known == mode) return true;
  }
  return false;
}

std::optional<std::string_view> lookup(std::span<const mode_pair> pairs, std::string_view key) {
  for (const auto& pair : pairs) {
    if (pair.key == key) return pair.mode;
  }
  return std::nullopt;
}

std::chrono::year_month_day as_chrono(calendar_date date) {
  return {std::chrono::year{date.year}, std::chrono::month{static_cast<unsigned>(date.month)},
          std::chrono::day{static_cast<unsigned>(date.day)}};
}

constexpr bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_operating_suffix(std::string_view part) {
  if (part.size() == 1 && is_digit(part[0])) return true;
  return std::find(kOperatingSuffixes.begin(), kOperatingSuffixes.end(), part) !=
         kOperatingSuffixes.end();
}

// FNV-1a, 64 bits, over the parts of a duplicate key, each closed by a zero.
std::uint64_t hash_parts(std::initializer_list<std::string_view> parts) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const auto part : parts) {
    for (const char c : part) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

}  // namespace

std::optional<calendar_date> parse_date(std::string_view typed) {
  // Plain loops: every QSO line's date comes through here, nearly always
  // written JJ-MM-AAAA.
  if (typed.size() == 10 && typed[2] == '-' && typed[5] == '-') {
    // Each digit's value, or a large number for any other byte.
    const auto digit = [&](std::size_t at) { return static_cast<unsigned>(typed[at] - '0'); };
    const unsigned d0 = digit(0), d1 = digit(1), d3 = digit(3), d4 = digit(4), d6 = digit(6),
                   d7 = digit(7), d8 = digit(8), d9 = digit(9);
    if ((d0 < 10) & (d1 < 10) & (d3 < 10) & (d4 < 10) & (d6 < 10) & (d7 < 10) & (d8 < 10) &
        (d9 < 10)) {
      const calendar_date date{static_cast<int>(d6 * 1000 + d7 * 100 + d8 * 10 + d9),
                               static_cast<int>(d3 * 10 + d4), static_cast<int>(d0 * 10 + d1)};
      constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      if (date.year < kFirstAdifYear || date.month < 1 || date.month > 12 || date.day < 1) {
        return std::nullopt;
      }
      const bool leap = date.year % 4 == 0 && (date.year % 100 != 0 || date.year % 400 == 0);
      const int days = date.month == 2 && leap ? 29 : kDays[date.month - 1];
      if (date.day > days) return std::nullopt;
      return date;
    }
  }
  std::size_t first = 0;
  while (first < typed.size() && !is_date_separator(typed[first])) ++first;
  std::size_t second = first + 1;
  while (second < typed.size() && !is_date_separator(typed[second])) ++second;
  if (second >= typed.size()) return std::nullopt;
  const auto day = parse_digits(typed.substr(0, first), 1, 2);
  const auto month = parse_digits(typed.substr(first + 1, second - first - 1), 1, 2);
  const auto year = parse_digits(typed.substr(second + 1), 4, 4);
  if (!day || !month || !year || *year < kFirstAdifYear) return std::nullopt;
  const calendar_date date{*year, *month, *day};
  if (!as_chrono(date).ok()) return std::nullopt;
  return date;
}

bool is_strict_date(std::string_view typed) {
  return typed.size() == 10 && typed[2] == '-' && typed[5] == '-' && parse_date(typed);
}

calendar_date next_day(calendar_date date) {
  const std::chrono::year_month_day tomorrow{std::chrono::sys_days{as_chrono(date)} +
                                             std::chrono::days{1}};
  return {static_cast<int>(tomorrow.year()), static_cast<int>(unsigned{tomorrow.month()}),
          static_cast<int>(unsigned{tomorrow.day()})};
}

std::int64_t day_number(calendar_date date) {
  return std::chrono::sys_days{as_chrono(date)}.time_since_epoch().count();
}

bool is_valid_time(std::int32_t hhmm) { return hhmm >= 0 && hhmm / 100 <= 23 && hhmm % 100 <= 59; }

std::optional<std::string_view> band_of(std::int32_t khz) {
  const std::int64_t hz = std::int64_t{khz} * 1000;
  for (const auto& band : kBands) {
    if (hz >= band.lowest_hz && hz <= band.highest_hz) return band.name;
  }
  return std::nullopt;
}

std::optional<std::string_view> band_named(std::string_view name) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (const auto& band : kBands) {
    if (std::equal(name.begin(), name.end(), band.name.begin(), band.name.end(),
                   [&lower](char a, char b) { return lower(a) == lower(b); })) {
      return band.name;
    }
  }
  return std::nullopt;
}

std::optional<adif_mode> parse_adif_mode(std::string_view typed) {
  const std::string upper = to_upper(typed);
  if (const auto slash = upper.find('/'); slash != std::string::npos) {
    const std::string mode = upper.substr(0, slash);
    const std::string submode = upper.substr(slash + 1);
    const bool printable =
        !submode.empty() && std::all_of(submode.begin(), submode.end(), [](char c) {
          return c > ' ' && c < 0x7F && c != '/' && c != '<' && c != '>';
        });
    if (!is_adif_mode(mode) || !printable) return std::nullopt;
    return adif_mode{mode, submode};
  }
  if (is_adif_mode(upper)) return adif_mode{upper, ""};
  if (const auto mode = lookup(kSubmodes, upper)) return adif_mode{std::string(*mode), upper};
  return std::nullopt;
}

std::optional<adif_mode> mode_of(std::string_view emission_class, std::int32_t khz,
                                 const mode_table& user_modes) {
  const std::string upper = to_upper(emission_class);
  std::optional<adif_mode> found;
  if (const auto user = user_modes.find(upper); user != user_modes.end()) {
    found = user->second;
  } else if (const auto mode = lookup(kClasses, upper)) {
    found = adif_mode{std::string(*mode), ""};
  } else if (const auto french =
                 std::find_if(kFrenchSidebands.begin(), kFrenchSidebands.end(),
                              [&upper](const sideband_class& known) { return known.key == upper; });
             french != kFrenchSidebands.end()) {
    found = adif_mode{"SSB", std::string(french->submode)};
  } else {
    found = parse_adif_mode(upper);
  }
  if (found && found->mode == "SSB" && found->submode.empty()) {
    found->submode = khz >= kUpperSidebandFromKhz || band_of(khz) == "60m" ? "USB" : "LSB";
  }
  return found;
}

std::optional<std::string_view> typed_class_of(std::string_view adif_mode) {
  for (const auto& pair : kClasses) {
    if (pair.mode == adif_mode) return pair.key;
  }
  return std::nullopt;
}

std::optional<std::string> add_class_mapping(std::string_view mapping, mode_table& modes) {
  const auto equals = mapping.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return "--mode attend CLASSE=MODE[/SOUS_MODE], pas \"" + std::string(mapping) + "\"";
  }
  const auto mode = parse_adif_mode(mapping.substr(equals + 1));
  if (!mode) return "mode ADIF inconnu dans --mode " + std::string(mapping);
  modes[to_upper(mapping.substr(0, equals))] = *mode;
  return std::nullopt;
}

std::string to_upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string base_call(std::string_view call_sign) {
  const std::string upper = to_upper(call_sign);
  const std::string_view whole = upper;
  std::string_view best;
  bool found = false;
  for (std::size_t start = 0; start <= whole.size();) {
    const auto slash = std::min(whole.find('/', start), whole.size());
    const std::string_view part = whole.substr(start, slash - start);
    if (!part.empty() && !is_operating_suffix(part) && (!found || part.size() > best.size())) {
      best = part;
      found = true;
    }
    start = slash + 1;
  }
  return found ? std::string(best) : upper;
}

bool is_call_sign_form(std::string_view call_sign) {
  if (call_sign.size() < 3 || call_sign.front() == '/' || call_sign.back() == '/') return false;
  // What each byte is, as a table: this runs for every line of verifie.
  enum : unsigned char { kOther = 0, kLetter = 1, kDigit = 2, kSlash = 4 };
  static constexpr std::array<unsigned char, 256> kKinds = [] {
    std::array<unsigned char, 256> kinds{};
    for (int c = 0; c < 256; ++c) {
      const char byte = static_cast<char>(c);
      kinds[static_cast<std::size_t>(c)] = is_letter(byte)  ? kLetter
                                           : is_digit(byte) ? kDigit
                                           : byte == '/'    ? kSlash
                                                            : kOther;
    }
    return kinds;
  }();
  unsigned seen = 0;
  for (const char c : call_sign) {
    const unsigned kind = kKinds[static_cast<unsigned char>(c)];
    if (kind == kOther) return false;
    seen |= kind;
  }
  return (seen & (kLetter | kDigit)) == (kLetter | kDigit);
}

bool is_owner_station(std::string_view station, std::string_view owner) {
  // The suffixes that do not move a station to another country.
  constexpr std::array<std::string_view, 7> kSameCountrySuffixes{"P", "M",  "QRP", "QRPP",
                                                                 "A", "LH", "R"};
  const auto without_suffixes = [&](std::string_view call) {
    std::string upper = to_upper(call);
    for (auto slash = upper.rfind('/'); slash != std::string::npos; slash = upper.rfind('/')) {
      const std::string_view suffix = std::string_view(upper).substr(slash + 1);
      if (std::find(kSameCountrySuffixes.begin(), kSameCountrySuffixes.end(), suffix) ==
          kSameCountrySuffixes.end()) {
        break;
      }
      upper.resize(slash);
    }
    return upper;
  };
  const std::string bare = without_suffixes(station);
  return !bare.empty() && bare == without_suffixes(owner);
}

bool is_maidenhead_locator(std::string_view place) {
  if (place.size() != 4 && place.size() != 6 && place.size() != 8) return false;
  const auto letter_up_to = [](char c, char last) {
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return upper >= 'A' && upper <= last;
  };
  for (std::size_t i = 0; i < place.size(); ++i) {
    const bool ok = i < 2   ? letter_up_to(place[i], 'R')
                    : i < 4 ? is_digit(place[i])
                    : i < 6 ? letter_up_to(place[i], 'X')
                            : is_digit(place[i]);
    if (!ok) return false;
  }
  return true;
}

bool has_control_characters(std::string_view text) {
  // Printable ASCII needs no closer look: eight bytes at a time (the last
  // eight overlapping the others), or one by one without a branch each.
  std::size_t start = 0;
  if (text.size() >= 8) {
    for (; start + 8 <= text.size(); start += 8) {
      if (!is_printable_ascii(eight_bytes(text, start))) break;
    }
    if (start + 8 > text.size() && is_printable_ascii(eight_bytes(text, text.size() - 8))) {
      return false;
    }
  } else {
    bool printable = true;
    for (const char c : text) printable &= static_cast<unsigned char>(c - ' ') < 0x5F;
    if (printable) return false;
  }
  for (std::size_t i = start; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    // U+0080 to U+009F in UTF-8.
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      return true;
    }
  }
  return false;
}

std::optional<duplicate_key> duplicate_key_of(const qso_record& qso, const mode_table& user_modes) {
  const auto date = parse_date(qso.date);
  if (!date || !is_valid_time(qso.debut)) return std::nullopt;
  const auto band = band_of(qso.frequence);
  const std::string frequency = band ? std::string() : std::to_string(qso.frequence);
  const auto mode = mode_of(qso.mode, qso.frequence, user_modes);
  const std::string typed_class = mode ? std::string() : to_upper(qso.mode);
  duplicate_key key;
  key.station = hash_parts({base_call(qso.indicatif), band ? *band : std::string_view(frequency),
                            mode ? std::string_view(mode->mode) : std::string_view(typed_class)});
  key.minute = day_number(*date) * 1440 + qso.debut / 100 * 60 + qso.debut % 100;
  return key;
}

void duplicate_index::sort_added_before() {
  if (!unsorted_) return;
  std::sort(sorted_.begin(), sorted_.end());
  unsorted_ = false;
  fences_.clear();
  for (std::size_t at = 0; at < sorted_.size(); at += kFenceStride) fences_.push_back(sorted_[at]);
}

namespace {

// The newest keys looked through one by one before they make a run.
constexpr std::size_t kUnsortedKeys = 64;

// The first key of `sorted` (from `from` to `to`) that can be near `key`.
bool contains_near_in(std::vector<duplicate_key>::const_iterator from,
                      std::vector<duplicate_key>::const_iterator to,
                      std::vector<duplicate_key>::const_iterator end, const duplicate_key& key) {
  const duplicate_key lowest{key.station, key.minute - kDuplicateWindowMinutes};
  const auto first = std::lower_bound(from, to, lowest);
  return first != end && within_duplicate_window(*first, key);
}

bool contains_near_in(const std::vector<duplicate_key>& sorted, const duplicate_key& key) {
  return contains_near_in(sorted.begin(), sorted.end(), sorted.end(), key);
}

}  // namespace

void duplicate_index::add(const duplicate_key& key) {
  sort_added_before();
  recent_.push_back(key);
  if (recent_.size() < kUnsortedKeys) return;
  std::sort(recent_.begin(), recent_.end());
  runs_.push_back(std::move(recent_));
  recent_ = {};
  // Two runs of like length become one, as the digits of a binary count.
  while (runs_.size() >= 2 && runs_[runs_.size() - 2].size() <= runs_.back().size()) {
    const std::vector<duplicate_key>& newer = runs_.back();
    const std::vector<duplicate_key>& older = runs_[runs_.size() - 2];
    std::vector<duplicate_key> merged(older.size() + newer.size());
    std::merge(older.begin(), older.end(), newer.begin(), newer.end(), merged.begin());
    runs_.pop_back();
    runs_.back() = std::move(merged);
  }
}

bool duplicate_index::contains_near(const duplicate_key& key) {
  sort_added_before();
  // The fences tell which stride of sorted_ can hold the first key at or
  // after the window's start: the stride before the first fence at or after
  // it, up to that fence.
  const duplicate_key lowest{key.station, key.minute - kDuplicateWindowMinutes};
  const std::size_t fence = static_cast<std::size_t>(
      std::lower_bound(fences_.begin(), fences_.end(), lowest) - fences_.begin());
  const std::size_t from = fence == 0 ? 0 : (fence - 1) * kFenceStride;
  const std::size_t to = std::min(sorted_.size(), fence * kFenceStride);
  if (contains_near_in(sorted_.begin() + static_cast<std::ptrdiff_t>(from),
                       sorted_.begin() + static_cast<std::ptrdiff_t>(to), sorted_.end(), key)) {
    return true;
  }
  if (std::any_of(runs_.begin(), runs_.end(), [&](const std::vector<duplicate_key>& run) {
        return contains_near_in(run, key);
      })) {
    return true;
  }
  return std::any_of(recent_.begin(), recent_.end(), [&](const duplicate_key& known) {
    return within_duplicate_window(known, key);
  });
}

std::size_t duplicate_index::size() const {
  std::size_t count = sorted_.size() + recent_.size();
  for (const auto& run : runs_) count += run.size();
  return count;
}

}  // namespace velkrin
