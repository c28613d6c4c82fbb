#include "logbook/text_encoding.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "logbook/eight_bytes.hpp"

namespace velkrin {
namespace {

// CP850 bytes 0x80 to 0xFF as code points.
constexpr std::array<char16_t, 128> kCp850{
    0xC7,   0xFC,   0xE9,   0xE2,   0xE4,   0xE0,   0xE5,   0xE7,   0xEA,   0xEB,   0xE8,   0xEF,
    0xEE,   0xEC,   0xC4,   0xC5,   0xC9,   0xE6,   0xC6,   0xF4,   0xF6,   0xF2,   0xFB,   0xF9,
    0xFF,   0xD6,   0xDC,   0xF8,   0xA3,   0xD8,   0xD7,   0x192,  0xE1,   0xED,   0xF3,   0xFA,
    0xF1,   0xD1,   0xAA,   0xBA,   0xBF,   0xAE,   0xAC,   0xBD,   0xBC,   0xA1,   0xAB,   0xBB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0xC1,   0xC2,   0xC0,   0xA9,   0x2563, 0x2551, 0x2557,
    0x255D, 0xA2,   0xA5,   0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0xE3,   0xC3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0xA4,   0xF0,   0xD0,   0xCA,   0xCB,
    0xC8,   0x131,  0xCD,   0xCE,   0xCF,   0x2518, 0x250C, 0x2588, 0x2584, 0xA6,   0xCC,   0x2580,
    0xD3,   0xDF,   0xD4,   0xD2,   0xF5,   0xD5,   0xB5,   0xFE,   0xDE,   0xDA,   0xDB,   0xD9,
    0xFD,   0xDD,   0xAF,   0xB4,   0xAD,   0xB1,   0x2017, 0xBE,   0xB6,   0xA7,   0xF7,   0xB8,
    0xB0,   0xA8,   0xB7,   0xB9,   0xB3,   0xB2,   0x25A0, 0xA0};

// CP1252 bytes 0x80 to 0x9F as code points: the euro sign, typographic
// quotes and dashes, and the letters that Latin-1 lacks (the five bytes
// that CP1252 leaves unassigned keep their C1 code points, as Windows does).
constexpr std::array<char16_t, 32> kCp1252{
    0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
    0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};

// The length of the valid UTF-8 sequence at `i`, 0 when there is none.
std::size_t sequence_length(std::string_view bytes, std::size_t i, char32_t& code_point) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  const std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
  if (length == 0 || i + length > bytes.size()) return 0;
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  code_point = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(bytes[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < kSmallest[length] || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

}  // namespace

std::optional<std::string> not_text_reason(std::string_view start) {
  start = start.substr(0, kTextCheckBytes);
  if (start.starts_with("\xff\xfe") || start.starts_with("\xfe\xff")) {
    return "il est enregistre en UTF-16 ; l'ouvrir avec le Bloc-notes et l'enregistrer en UTF-8";
  }
  const auto zeros = static_cast<std::size_t>(std::count(start.begin(), start.end(), '\0'));
  if (zeros * 8 > start.size()) return "ce n'est pas un fichier texte";
  return std::nullopt;
}

std::size_t utf8_sequence_length(std::string_view bytes, std::size_t at) {
  char32_t code_point = 0;
  return utf8_sequence_at(bytes, at, code_point);
}

std::size_t utf8_sequence_at(std::string_view bytes, std::size_t at, char32_t& code_point) {
  return at < bytes.size() ? sequence_length(bytes, at, code_point) : 0;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t code_point = 0;
    const std::size_t length = sequence_length(bytes, i, code_point);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

line_encoding encoding_of(std::string_view bytes) {
  // ASCII first, eight bytes at a time (the last eight overlapping the
  // others): nearly every line is.
  std::uint64_t high = 0;
  if (bytes.size() >= 8) {
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) high |= eight_bytes(bytes, at);
    high |= eight_bytes(bytes, bytes.size() - 8);
  } else {
    for (const char byte : bytes) high |= static_cast<unsigned char>(byte);
  }
  if ((high & kHighBits) == 0) return line_encoding::ascii;

  // The ASCII start of any other line needs no second look.
  std::size_t i = 0;
  while (static_cast<unsigned char>(bytes[i]) < 0x80) ++i;

  const std::string_view rest = bytes.substr(i);
  if (is_valid_utf8(rest)) return line_encoding::utf8;
  const bool c1 = std::any_of(rest.begin(), rest.end(), [](char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value >= 0x80 && value <= 0x9F;
  });
  return c1 ? line_encoding::cp850 : line_encoding::cp1252;
}

void append_utf8(char32_t code_point, std::string& utf8) {
  if (code_point < 0x80) {
    utf8 += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    utf8 += static_cast<char>(0xC0 | (code_point >> 6));
    utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    utf8 += static_cast<char>(0xE0 | (code_point >> 12));
    utf8 += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    utf8 += static_cast<char>(0xF0 | (code_point >> 18));
    utf8 += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    utf8 += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

void to_utf8(std::string_view bytes, line_encoding encoding, std::string& utf8) {
  if (encoding == line_encoding::ascii || encoding == line_encoding::utf8) {
    utf8.assign(bytes);
    return;
  }
  utf8.clear();
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value < 0x80) {
      utf8 += byte;
    } else if (encoding == line_encoding::cp850) {
      append_utf8(kCp850[value - 0x80], utf8);
    } else if (value < 0xA0) {
      append_utf8(kCp1252[value - 0x80], utf8);
    } else {
      append_utf8(value, utf8);  // CP1252 from 0xA0 up is Latin-1
    }
  }
}

std::u32string decode_utf8(std::string_view bytes) {
  std::u32string code_points;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t code_point = 0;
    const std::size_t length = sequence_length(bytes, i, code_point);
    code_points.push_back(length == 0 ? U'\uFFFD' : code_point);
    i += length == 0 ? 1 : length;
  }
  return code_points;
}

}  // namespace velkrin
