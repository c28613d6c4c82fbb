#include "platform/temporary_names.hpp"

#include <chrono>
#include <cstdint>

#include "platform/platform.hpp"

namespace velkrin::platform {
namespace {

constexpr std::string_view kTemporaryMark = ".velkrin-tmp-";
constexpr std::size_t kSuffixLength = 6;

bool is_letter_or_digit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string temporary_name_stem(std::string_view target_name) {
  return "." + std::string(target_name) + std::string(kTemporaryMark);
}

std::string temporary_name_suffix() {
  // Names are created exclusively and tried again when taken, so they need
  // only differ, not be secret: a generator seeded from the clock (no
  // system call) and the address of its state.
  static std::uint64_t state = 0;
  if (state == 0) {
    state = static_cast<std::uint64_t>(
                std::chrono::high_resolution_clock::now().time_since_epoch().count()) ^
            reinterpret_cast<std::uintptr_t>(&state);
    if (state == 0) state = 1;
  }
  constexpr std::string_view kCharacters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (std::size_t i = 0; i < kSuffixLength; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    suffix.push_back(kCharacters[state % kCharacters.size()]);
  }
  return suffix;
}

bool is_temporary_name_for(std::string_view name, std::string_view target_name) {
  const std::string stem = temporary_name_stem(target_name);
  if (name.size() != stem.size() + kSuffixLength || !name.starts_with(stem)) return false;
  for (char c : name.substr(stem.size())) {
    if (!is_letter_or_digit(c)) return false;
  }
  return true;
}

}  // namespace velkrin::platform
