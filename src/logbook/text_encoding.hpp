// The encodings a logbook's lines arrive in. The program writes what the
// user typed, byte for byte: UTF-8 from a Linux terminal or a Windows console
// set to UTF-8, the console's code page (CP850 under a French Windows) from
// an older console, and CP1252 when the file was edited with Notepad under a
// French Windows. Each line is decided on its own, since one file can hold
// all three. Pure functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velkrin {

// How much of a file's start decides whether the file is text at all.
inline constexpr std::size_t kTextCheckBytes = 4096;

// Why a file whose first bytes are `start` is no logbook text, in French with
// how to mend it, or nothing: UTF-16 (a byte-order mark; Notepad's
// "Unicode"), or NUL bytes in more than an eighth of its first
// kTextCheckBytes. Every reader and every writer of the logbook decides by
// this, so that nothing is written to a file that no reader would read.
std::optional<std::string> not_text_reason(std::string_view start);

enum class line_encoding { ascii, utf8, cp850, cp1252 };

// True when `bytes` is valid UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view bytes);

// The encoding of one line: ASCII or valid UTF-8 as such; otherwise CP850
// when a byte lies in 0x80-0x9F (where CP850 keeps its accented letters and
// CP1252 its punctuation), else CP1252.
line_encoding encoding_of(std::string_view bytes);

// The line in UTF-8, converted from its encoding into `utf8` (replaced).
// CP1252 is converted whole, 0x80-0x9F included (text that is not a
// logbook line, such as an ADIF file's, may hold them).
void to_utf8(std::string_view bytes, line_encoding encoding, std::string& utf8);

// Appends one code point in UTF-8.
void append_utf8(char32_t code_point, std::string& utf8);

// The length in bytes of the valid UTF-8 sequence that begins at `at`; 0
// when the bytes there are not one.
std::size_t utf8_sequence_length(std::string_view bytes, std::size_t at);
// The same, with the code point it stands for.
std::size_t utf8_sequence_at(std::string_view bytes, std::size_t at, char32_t& code_point);

// The code points of valid UTF-8; U+FFFD for each byte that is not.
std::u32string decode_utf8(std::string_view bytes);

}  // namespace velkrin
