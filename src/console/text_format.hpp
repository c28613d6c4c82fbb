// Conversions used to fill the program's texts: they pad to a minimum width
// and never truncate, so a value wider than its width takes more room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velkrin {

// "%-Ns": the text followed by blanks up to `width` characters (bytes).
std::string pad_right(std::string_view text, std::size_t width);

// "%Ns": blanks, then the text, up to `width` characters.
std::string pad_left(std::string_view text, std::size_t width);

// "%d" / "%ld": the integer in decimal.
std::string decimal(std::int32_t value);

// "%0Nd": at least `width` characters, zero-filled after any minus sign
// (-5 with width 4 gives "-005").
std::string zero_fill(std::int32_t value, std::size_t width);
// The same appended to `text`, without a string of its own.
void append_zero_filled(std::string& text, std::int32_t value, std::size_t width);

// "before%safter": the value between two fixed texts.
std::string fill_in(std::string_view before, std::string_view value, std::string_view after);

}  // namespace velkrin
