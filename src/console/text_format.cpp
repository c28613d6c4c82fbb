#include "console/text_format.hpp"

#include <charconv>

namespace velkrin {

std::string pad_right(std::string_view text, std::size_t width) {
  std::string result(text);
  if (result.size() < width) result.append(width - result.size(), ' ');
  return result;
}

std::string pad_left(std::string_view text, std::size_t width) {
  std::string result;
  if (text.size() < width) result.append(width - text.size(), ' ');
  result.append(text);
  return result;
}

std::string decimal(std::int32_t value) { return std::to_string(value); }

std::string zero_fill(std::int32_t value, std::size_t width) {
  std::string result;
  append_zero_filled(result, value, width);
  return result;
}

void append_zero_filled(std::string& text, std::int32_t value, std::size_t width) {
  const bool negative = value < 0;
  // Widen first: the magnitude of INT32_MIN does not fit in 32 bits.
  const std::int64_t magnitude =
      negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  char digits[24];
  const char* const end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const auto size = static_cast<std::size_t>(end - digits);
  const std::size_t used = size + (negative ? 1 : 0);
  if (negative) text += '-';
  if (used < width) text.append(width - used, '0');
  text.append(digits, size);
}

std::string fill_in(std::string_view before, std::string_view value, std::string_view after) {
  std::string result;
  result.reserve(before.size() + value.size() + after.size());
  result.append(before).append(value).append(after);
  return result;
}

}  // namespace velkrin
