#include "adif/conversions.hpp"

#include <algorithm>
#include <array>

#include "console/text_format.hpp"
#include "logbook/text_encoding.hpp"

namespace velkrin::adif {
namespace {

// U+00C0 to U+00FF without their accents; "?" where no letter is left.
constexpr std::string_view kLatin1Letters =
    "AAAAAA?CEEEEIIIIDNOOOOO?OUUUUY??aaaaaa?ceeeeiiiidnooooo?ouuuuy?y";

// Ligatures, the letters of Windows-1252 beyond Latin-1, and the typographic
// quotes and dashes that French text holds, as ASCII.
struct ligature {
  char32_t code_point;
  std::string_view ascii;
};
constexpr std::array<ligature, 17> kLigatures{{{0xC6, "AE"},
                                               {0xE6, "ae"},
                                               {0xDF, "ss"},
                                               {0x152, "OE"},
                                               {0x153, "oe"},
                                               {0x178, "Y"},
                                               {0x160, "S"},
                                               {0x161, "s"},
                                               {0x17D, "Z"},
                                               {0x17E, "z"},
                                               {0x2013, "-"},
                                               {0x2014, "-"},
                                               {0x2018, "'"},
                                               {0x2019, "'"},
                                               {0x201C, "\""},
                                               {0x201D, "\""},
                                               {0x2026, "..."}}};

}  // namespace

std::string adif_date(calendar_date date) {
  return zero_fill(date.year, 4) + zero_fill(date.month, 2) + zero_fill(date.day, 2);
}

std::optional<std::string> adif_time(std::int32_t hhmm) {
  if (!is_valid_time(hhmm)) return std::nullopt;
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

ascii_text to_ascii(std::string_view bytes) {
  ascii_text result;
  // Most values are printable ASCII already.
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
    result.text.assign(bytes);
    return result;
  }
  for (const char32_t code_point : decode_utf8(bytes)) {
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

}  // namespace velkrin::adif
