#include "console/console.hpp"

#include <istream>
#include <limits>
#include <ostream>
#include <utility>

#include "platform/platform.hpp"

namespace velkrin {
namespace {

// isspace in the "C" locale, without depending on the global locale.
bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string word_too_long_message(std::size_t capacity) {
  return "Saisie trop longue : " + std::to_string(capacity) + " caracteres au maximum.";
}

console::console(std::istream& in, std::ostream& out, std::ostream& err, screen_clearer clearer)
    : in_(in),
      out_(out),
      err_(err),
      clearer_(clearer ? std::move(clearer) : screen_clearer(platform::clear_console)) {
  // The console flushes `out` itself before input would wait; a stream tied
  // to it (std::cin is, to std::cout) would flush it at every character.
  in_.tie(nullptr);
}

void console::clear_screen() {
  // What was written before reaches the screen before the clearing, since
  // both go through `out_` in order; a clearer that does not write to it
  // flushes it first.
  clearer_(out_);
  last_shown_.clear();
}

void console::show_line(std::string_view text) {
  out_ << text << '\n';
  last_shown_.assign(text);
  last_shown_ += '\n';
}

void console::show_prompt(std::string_view text) {
  out_ << text;
  last_shown_.assign(text);
}

void console::show_error(std::string_view text) {
  out_.flush();
  err_ << text << '\n';
  err_.flush();
}

int console::peek() {
  // Input that is not already at hand (typed ahead, or waiting in the pipe)
  // makes the program wait: everything shown must be visible first.
  if (in_.rdbuf() == nullptr || in_.rdbuf()->in_avail() <= 0) out_.flush();
  return in_.peek();
}

int console::get() {
  if (in_.rdbuf() == nullptr || in_.rdbuf()->in_avail() <= 0) out_.flush();
  return in_.get();
}

bool console::skip_white_space() {
  for (;;) {
    const int c = peek();
    if (c == std::char_traits<char>::eof()) return false;
    if (!is_white_space(c)) return true;
    in_.get();
  }
}

void console::discard_rest_of_line() {
  // A CR ends the line too (old Macintosh files, some terminals); the LF of
  // a CR LF is then white space that the next read skips.
  for (;;) {
    const int c = get();
    if (c == std::char_traits<char>::eof() || c == '\n' || c == '\r') return;
  }
}

void console::ask_again(std::string_view message) {
  discard_rest_of_line();
  // The prompt to repeat is what was shown last, before the message.
  std::string prompt = std::move(last_shown_);
  show_line(message);
  show_prompt(prompt);
  last_shown_ = std::move(prompt);
}

read_status console::read_word(std::string& field, std::size_t capacity) {
  for (;;) {
    if (!skip_white_space()) return read_status::end_of_input;
    // Keeps at most one byte over the capacity: enough to know the word is
    // too long, however long it runs.
    std::string word;
    for (int c = peek(); c != std::char_traits<char>::eof() && !is_white_space(c); c = peek()) {
      in_.get();
      if (word.size() <= capacity) word.push_back(static_cast<char>(c));
    }
    if (word.size() <= capacity) {
      field = std::move(word);
      return read_status::answered;
    }
    ask_again(word_too_long_message(capacity));
  }
}

console::token_status console::take_number(std::int32_t& value) {
  if (!skip_white_space()) return token_status::end_of_input;
  bool negative = false;
  if (in_.peek() == '+' || in_.peek() == '-') negative = in_.get() == '-';
  if (!is_digit(peek())) return token_status::invalid;
  // Accumulate the magnitude in 64 bits, saturating, so any run of digits is
  // consumed whole and leading zeros never count against the range.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  while (is_digit(peek())) {
    magnitude = magnitude * 10 + (in_.get() - '0');
    if (magnitude > kLimit) magnitude = kLimit + 1;
  }
  const std::int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value < std::numeric_limits<std::int32_t>::min() ||
      signed_value > std::numeric_limits<std::int32_t>::max()) {
    return token_status::invalid;
  }
  value = static_cast<std::int32_t>(signed_value);
  return token_status::valid;
}

read_status console::read_number(std::int32_t& field) {
  for (;;) {
    switch (take_number(field)) {
      case token_status::valid:
        return read_status::answered;
      case token_status::end_of_input:
        return read_status::end_of_input;
      case token_status::invalid:
        ask_again(kInvalidNumberMessage);
        break;
    }
  }
}

read_status console::read_long(std::int32_t& field) { return read_number(field); }

}  // namespace velkrin
