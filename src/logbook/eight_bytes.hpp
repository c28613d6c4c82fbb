// Tests on eight bytes at once, for the loops that run over every line of a
// logbook: each byte's answer is its high bit, without carries between bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace velkrin {

inline constexpr std::uint64_t kEachByte = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// The eight bytes of `text` from `at` (at least eight must remain), the
// first in the lowest byte on a little-endian machine.
inline std::uint64_t eight_bytes(std::string_view text, std::size_t at) {
  std::uint64_t eight = 0;
  std::memcpy(&eight, text.data() + at, 8);
  return eight;
}

// The high bit of each byte that is `least` or above (`least` from 1 to
// 0x80).
constexpr std::uint64_t bytes_at_least(std::uint64_t eight, unsigned least) {
  return (((eight & ~kHighBits) + kEachByte * (0x80 - least)) | eight) & kHighBits;
}

// True when the eight bytes are all printable ASCII (' ' to '~').
constexpr bool is_printable_ascii(std::uint64_t eight) {
  return (bytes_at_least(eight, 0x20) & ~bytes_at_least(eight, 0x7F)) == kHighBits;
}

}  // namespace velkrin
