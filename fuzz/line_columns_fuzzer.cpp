// libFuzzer target holding the quick readings of a QSO line to the plain
// ones: each line of the input, its trailing blanks cut as the reader cuts
// them, is split by its columns and on blanks. Whenever the columns read a
// line, the blanks must read it too, to the very same nine words: the
// reader takes the columns' words without a second look. The checks that
// look at eight bytes at a time (control characters, the form of a call
// sign, a JJ-MM-AAAA date) must answer, on every word, as a loop over its
// bytes does.
//
// Each line and each word is copied to a heap block of its own size first:
// in the input, the bytes after it belong to the next line, and a read past
// its end would go unseen by the address sanitizer.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "logbook/line_format.hpp"
#include "logbook/qso_rules.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// `text` in a block of exactly its size.
struct own_copy {
  explicit own_copy(std::string_view text) : bytes(new char[text.size()]), size(text.size()) {
    if (size > 0) std::memcpy(bytes.get(), text.data(), size);
  }
  std::string_view view() const { return {bytes.get(), size}; }
  std::unique_ptr<char[]> bytes;
  std::size_t size;
};

bool plain_has_control_characters(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      return true;
    }
  }
  return false;
}

bool plain_is_call_sign_form(std::string_view call) {
  if (call.size() < 3 || call.front() == '/' || call.back() == '/') return false;
  bool letter = false;
  bool digit = false;
  for (const char c : call) {
    const bool is_letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool is_digit = c >= '0' && c <= '9';
    if (!is_letter && !is_digit && c != '/') return false;
    letter |= is_letter;
    digit |= is_digit;
  }
  return letter && digit;
}

// The date of a JJ-MM-AAAA word, by the calendar; nothing for another word.
std::optional<velkrin::calendar_date> plain_strict_date(std::string_view word) {
  if (word.size() != 10 || word[2] != '-' || word[5] != '-') return std::nullopt;
  int values[3] = {0, 0, 0};
  const std::size_t starts[3] = {0, 3, 6};
  const std::size_t sizes[3] = {2, 2, 4};
  for (std::size_t part = 0; part < 3; ++part) {
    for (std::size_t i = starts[part]; i < starts[part] + sizes[part]; ++i) {
      if (word[i] < '0' || word[i] > '9') return std::nullopt;
      values[part] = values[part] * 10 + (word[i] - '0');
    }
  }
  const std::chrono::year_month_day day{std::chrono::year{values[2]},
                                        std::chrono::month{static_cast<unsigned>(values[1])},
                                        std::chrono::day{static_cast<unsigned>(values[0])}};
  if (values[2] < 1930 || !day.ok()) return std::nullopt;  // as verifie says: from 1930
  return velkrin::calendar_date{values[2], values[1], values[0]};
}

void check_word(std::string_view word) {
  const own_copy copy(word);
  const std::string_view own = copy.view();
  check(velkrin::has_control_characters(own) == plain_has_control_characters(own));
  check(velkrin::is_call_sign_form(own) == plain_is_call_sign_form(own));
  check(velkrin::is_strict_date(own) == plain_strict_date(own).has_value());
  if (const auto date = plain_strict_date(own)) check(velkrin::parse_date(own) == date);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velkrin;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const own_copy copy(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const std::string_view line = trim_right(copy.view());
    check_word(line);

    std::string_view by_columns[kQsoWordCount];
    std::string_view on_blanks[kQsoWordCount];
    const bool on_blanks_read = split_on_blanks(line, on_blanks);
    if (on_blanks_read) {
      for (const std::string_view word : on_blanks) check_word(word);
    }
    if (!split_by_columns(line, by_columns)) continue;
    check(on_blanks_read);
    for (std::size_t i = 0; i < kQsoWordCount; ++i) {
      // The same bytes at the same place of the line, not only equal text.
      check(by_columns[i].data() == on_blanks[i].data());
      check(by_columns[i].size() == on_blanks[i].size());
    }
  }
  return 0;
}
