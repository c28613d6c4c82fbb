#include "adif/conversions.hpp"

#include <algorithm>
#include <array>
#include <charconv>

#include "console/text_format.hpp"
#include "logbook/eight_bytes.hpp"
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
  std::string text;
  append_adif_date(date, text);
  return text;
}

void append_adif_date(calendar_date date, std::string& text) {
  // The dates of a logbook, written digit by digit: this runs for every QSO.
  if (date.year >= 0 && date.year <= 9999 && date.month >= 0 && date.month <= 99 && date.day >= 0 &&
      date.day <= 99) {
    const auto digit = [](int value) { return static_cast<char>('0' + value % 10); };
    const char digits[8] = {digit(date.year / 1000), digit(date.year / 100), digit(date.year / 10),
                            digit(date.year),        digit(date.month / 10), digit(date.month),
                            digit(date.day / 10),    digit(date.day)};
    text.append(digits, sizeof digits);
    return;
  }
  append_zero_filled(text, date.year, 4);
  append_zero_filled(text, date.month, 2);
  append_zero_filled(text, date.day, 2);
}

std::optional<std::string> adif_time(std::int32_t hhmm) {
  if (!is_valid_time(hhmm)) return std::nullopt;
  return zero_fill(hhmm / 100, 2) + zero_fill(hhmm % 100, 2);
}

std::optional<std::string> frequency_mhz(std::int32_t khz) {
  std::string mhz;
  if (!append_frequency_mhz(khz, mhz)) return std::nullopt;
  return mhz;
}

bool append_frequency_mhz(std::int32_t khz, std::string& text) {
  if (khz <= 0) return false;
  char digits[16];
  text.append(digits, std::to_chars(digits, digits + sizeof digits, khz / 1000).ptr);
  if (std::int32_t thousandths = khz % 1000; thousandths != 0) {
    int places = 3;
    for (; thousandths % 10 == 0; thousandths /= 10) --places;
    text += '.';
    append_zero_filled(text, thousandths, static_cast<std::size_t>(places));
  }
  return true;
}

ascii_text to_ascii(std::string_view bytes) {
  ascii_text result;
  result.replaced = append_ascii(bytes, result.text);
  return result;
}

bool append_ascii(std::string_view bytes, std::string& text) {
  // Most values are printable ASCII already: copied as they are.
  const auto printable = [](char c) { return c >= 0x20 && c < 0x7F; };
  std::size_t first_other = 0;
  while (first_other + 8 <= bytes.size() && is_printable_ascii(eight_bytes(bytes, first_other))) {
    first_other += 8;
  }
  while (first_other < bytes.size() && printable(bytes[first_other])) ++first_other;
  text.append(bytes.substr(0, first_other));
  bool replaced = false;
  for (std::size_t at = first_other; at < bytes.size();) {
    if (printable(bytes[at])) {
      text += bytes[at++];
      continue;
    }
    char32_t code_point = 0;
    const std::size_t length = utf8_sequence_at(bytes, at, code_point);
    at += length == 0 ? 1 : length;
    if (length == 0) code_point = U'\uFFFD';
    if (code_point >= 0x20 && code_point < 0x7F) {
      text += static_cast<char>(code_point);
      continue;
    }
    const auto ligature = std::find_if(kLigatures.begin(), kLigatures.end(),
                                       [&](const auto& l) { return l.code_point == code_point; });
    if (ligature != kLigatures.end()) {
      text += ligature->ascii;
    } else if (code_point >= 0xC0 && code_point <= 0xFF &&
               kLatin1Letters[code_point - 0xC0] != '?') {
      text += kLatin1Letters[code_point - 0xC0];
    } else {
      text += '?';
      replaced = true;
    }
  }
  return replaced;
}

}  // namespace velkrin::adif
