#include "adif/conversions.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <span>

#include "console/text_format.hpp"

namespace velkrin::adif {
namespace {

constexpr int kFirstAdifYear = 1930;
constexpr std::string_view kDateSeparators = "-/.";
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

// U+00C0 to U+00FF without their accents; "?" where no letter is left.
constexpr std::string_view kLatin1Letters =
    "AAAAAA?CEEEEIIIIDNOOOOO?OUUUUY??aaaaaa?ceeeeiiiidnooooo?ouuuuy?y";

struct ligature {
  char32_t code_point;
  std::string_view ascii;
};
constexpr std::array<ligature, 6> kLigatures{
    {{0xC6, "AE"}, {0xE6, "ae"}, {0xDF, "ss"}, {0x152, "OE"}, {0x153, "oe"}, {0x178, "Y"}}};

// CP850 bytes 0x80 to 0xFF as code points, letters only (0 for the others).
constexpr std::array<char16_t, 128> kCp850Letters{
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xF8, 0,    0xD8, 0,    0,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0xC1, 0xC2, 0xC0, 0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0xE3, 0xC3, 0,    0,    0,    0,    0,    0,    0,    0,
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0,    0xCD, 0xCE, 0xCF, 0,    0,    0,    0,    0,    0xCC, 0,
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0,    0,    0,    0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};

// Digits only, between `min` and `max` of them.
std::optional<int> parse_digits(std::string_view text, std::size_t min, std::size_t max) {
  if (text.size() < min || text.size() > max) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.front() == '-') {
    return std::nullopt;
  }
  return value;
}

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

// The code points of valid UTF-8 (no overlong forms, no surrogates).
std::optional<std::u32string> decode_utf8(std::string_view bytes) {
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  std::u32string code_points;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || i + length > bytes.size()) return std::nullopt;
    char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < kSmallest[length] || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      return std::nullopt;
    }
    code_points.push_back(code_point);
    i += length;
  }
  return code_points;
}

std::u32string decode_cp850(std::string_view bytes) {
  std::u32string code_points;
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    code_points.push_back(value < 0x80 ? value : kCp850Letters[value - 0x80]);
  }
  return code_points;
}

}  // namespace

std::optional<calendar_date> parse_date(std::string_view typed) {
  const auto first = typed.find_first_of(kDateSeparators);
  if (first == std::string_view::npos) return std::nullopt;
  const auto second = typed.find_first_of(kDateSeparators, first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const auto day = parse_digits(typed.substr(0, first), 1, 2);
  const auto month = parse_digits(typed.substr(first + 1, second - first - 1), 1, 2);
  const auto year = parse_digits(typed.substr(second + 1), 4, 4);
  if (!day || !month || !year || *year < kFirstAdifYear) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year{*year},
                                         std::chrono::month{static_cast<unsigned>(*month)},
                                         std::chrono::day{static_cast<unsigned>(*day)}};
  if (!date.ok()) return std::nullopt;
  return calendar_date{*year, *month, *day};
}

calendar_date next_day(calendar_date date) {
  const std::chrono::year_month_day today{std::chrono::year{date.year},
                                          std::chrono::month{static_cast<unsigned>(date.month)},
                                          std::chrono::day{static_cast<unsigned>(date.day)}};
  const std::chrono::year_month_day tomorrow{std::chrono::sys_days{today} + std::chrono::days{1}};
  return {static_cast<int>(tomorrow.year()), static_cast<int>(unsigned{tomorrow.month()}),
          static_cast<int>(unsigned{tomorrow.day()})};
}

std::string adif_date(calendar_date date) {
  return zero_fill(date.year, 4) + zero_fill(date.month, 2) + zero_fill(date.day, 2);
}

std::optional<std::string> adif_time(std::int32_t hhmm) {
  if (hhmm < 0 || hhmm / 100 > 23 || hhmm % 100 > 59) return std::nullopt;
  return zero_fill(hhmm / 100, 2) + zero_fill(hhmm % 100, 2);
}

std::optional<std::string> frequency_mhz(std::int32_t khz) {
  if (khz <= 0) return std::nullopt;
  std::string mhz = std::to_string(khz / 1000);
  if (const std::int32_t thousandths = khz % 1000; thousandths != 0) {
    std::string fraction = zero_fill(thousandths, 3);
    fraction.erase(fraction.find_last_not_of('0') + 1);
    mhz += "." + fraction;
  }
  return mhz;
}

std::optional<std::string_view> band_of(std::int32_t khz) {
  const std::int64_t hz = std::int64_t{khz} * 1000;
  for (const auto& band : kBands) {
    if (hz >= band.lowest_hz && hz <= band.highest_hz) return band.name;
  }
  return std::nullopt;
}

std::optional<adif_mode> parse_adif_mode(std::string_view typed) {
  const std::string upper = to_upper(typed);
  if (const auto slash = upper.find('/'); slash != std::string::npos) {
    const std::string mode = upper.substr(0, slash);
    const std::string submode = upper.substr(slash + 1);
    const bool printable =
        to_ascii(submode).text == submode && submode.find_first_of(" /<>") == std::string::npos;
    if (!is_adif_mode(mode) || submode.empty() || !printable) return std::nullopt;
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
  } else {
    found = parse_adif_mode(upper);
  }
  if (found && found->mode == "SSB" && found->submode.empty()) {
    found->submode = khz >= kUpperSidebandFromKhz || band_of(khz) == "60m" ? "USB" : "LSB";
  }
  return found;
}

ascii_text to_ascii(std::string_view bytes) {
  auto code_points = decode_utf8(bytes);
  if (!code_points) code_points = decode_cp850(bytes);
  ascii_text result;
  for (const char32_t code_point : *code_points) {
    if (code_point >= 0x20 && code_point < 0x7F) {
      result.text += static_cast<char>(code_point);
      continue;
    }
    const auto ligature = std::find_if(kLigatures.begin(), kLigatures.end(),
                                       [&](const auto& l) { return l.code_point == code_point; });
    if (ligature != kLigatures.end()) {
      result.text += ligature->ascii;
    } else if (code_point >= 0xC0 && code_point <= 0xFF &&
               kLatin1Letters[code_point - 0xC0] != '?') {
      result.text += kLatin1Letters[code_point - 0xC0];
    } else {
      result.text += '?';
      result.replaced = true;
    }
  }
  return result;
}

std::string to_upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace velkrin::adif
