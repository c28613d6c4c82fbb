// The console every screen is built from: clear the screen, show a line, show
// a prompt, and read one answer as a token. Input and output are injected
// streams, so a whole dialogue can run from a string of answers to a string of
// screens.
//
// Answers are tokens: leading white space (C's isspace in the "C" locale) is
// skipped and the token ends at the first character that cannot belong to it;
// what follows stays for the next read (type-ahead). Everything written is
// flushed before a read that may wait for input; answers already at hand
// (typed ahead, or waiting in a pipe) are taken without a flush, and the
// screens they answer follow with the next one. An invalid answer (no number,
// a number outside the signed 32-bit range, a word over its capacity) leaves
// the field unchanged, discards the rest of the input line (up to a LF or a
// CR), shows a message and the text shown just before the read again, and
// reads again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace velkrin {

// What a read gives back: the field was filled, or standard input has ended
// (the program then ends with status 0, writing nothing more).
enum class read_status { answered, end_of_input };

inline constexpr std::string_view kInvalidNumberMessage =
    "Saisie invalide : un nombre entier est attendu.";

// "Saisie trop longue : N caracteres au maximum."
std::string word_too_long_message(std::size_t capacity);

class console {
 public:
  // Clears the screen of `out`: writes to `out` what clears it, or flushes
  // `out` before clearing it some other way.
  using screen_clearer = std::function<void(std::ostream& out)>;

  // The streams must outlive the console; `in` is untied from any output
  // stream, since the console flushes `out` itself. `err` receives the messages of
  // failures that are not part of any screen. Without a clearer, the
  // platform's clears the screen.
  console(std::istream& in, std::ostream& out, std::ostream& err, screen_clearer clearer = {});

  void clear_screen();
  // Writes the text, then one line end.
  void show_line(std::string_view text);
  // Writes the text exactly, with no line end.
  void show_prompt(std::string_view text);
  // Writes the text and a line end to the error stream, and flushes it.
  void show_error(std::string_view text);

  // A word of at most `capacity` bytes.
  [[nodiscard]] read_status read_word(std::string& field, std::size_t capacity);
  // An optional sign and decimal digits, within the signed 32-bit range.
  [[nodiscard]] read_status read_number(std::int32_t& field);
  // The frequency in kHz: read exactly like a number.
  [[nodiscard]] read_status read_long(std::int32_t& field);

 private:
  enum class token_status { valid, invalid, end_of_input };

  token_status take_number(std::int32_t& value);
  // The next character of the input, peeked at or taken, after a flush of
  // the output when the input has none at hand.
  int peek();
  int get();
  // Skips white space; false at end of input.
  bool skip_white_space();
  void discard_rest_of_line();
  // Shows the message and, again, the text shown just before the read.
  void ask_again(std::string_view message);

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  screen_clearer clearer_;
  std::string last_shown_;
};

}  // namespace velkrin
