#include "console/text_format.hpp"

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
  const bool negative = value < 0;
  // Widen first: the magnitude of INT32_MIN does not fit in 32 bits.
  std::string digits = std::to_string(negative ? -static_cast<std::int64_t>(value)
                                               : static_cast<std::int64_t>(value));
  const std::size_t used = digits.size() + (negative ? 1 : 0);
  std::string result = negative ? "-" : "";
  if (used < width) result.append(width - used, '0');
  result.append(digits);
  return result;
}

std::string fill_in(std::string_view before, std::string_view value, std::string_view after) {
  std::string result;
  result.reserve(before.size() + value.size() + after.size());
  result.append(before).append(value).append(after);
  return result;
}

}  // namespace velkrin
