#include "console/visible_text.hpp"

#include <algorithm>
#include <cstdint>

#include "logbook/text_encoding.hpp"

namespace velkrin {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool is_shown_code(std::uint32_t code) {
  return code < 0x20 || code == 0x7F || (code >= 0x80 && code <= 0x9F) ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

void append_code(std::string& out, std::uint32_t code) {
  if (code < 0x20 || code == 0x7F) {
    out += '^';
    out += static_cast<char>(code == 0x7F ? '?' : code + 0x40);
    return;
  }
  out += "<U+";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
  out += '>';
}

}  // namespace

bool needs_showing(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t length = utf8_sequence_at(text, i, code);
    if (length == 0 || is_shown_code(code)) return true;
    i += length;
  }
  return false;
}

void append_visible(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += text[i++];
      continue;
    }
    char32_t code = 0;
    const std::size_t length = utf8_sequence_at(text, i, code);
    if (length == 0) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
      ++i;
    } else if (is_shown_code(code)) {
      append_code(out, code);
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
}

std::string_view visible(std::string_view text, std::string& scratch) {
  if (!needs_showing(text)) return text;
  scratch.clear();
  append_visible(scratch, text);
  return scratch;
}

bool visible_stream::line_buffer::hand_on(bool all) {
  const std::size_t end = all ? held_.size() : held_.rfind('\n') + 1;  // 0 when none
  if (end == 0) return true;
  shown_.clear();
  const std::string_view lines(held_.data(), end);
  for (std::size_t start = 0; start < lines.size();) {
    const std::size_t line_end = std::min(lines.find('\n', start), lines.size());
    append_visible(shown_, lines.substr(start, line_end - start));
    if (line_end < lines.size()) shown_ += '\n';
    start = line_end + 1;
  }
  held_.erase(0, end);
  target_.write(shown_.data(), static_cast<std::streamsize>(shown_.size()));
  return static_cast<bool>(target_);
}

visible_stream::line_buffer::int_type visible_stream::line_buffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  held_ += traits_type::to_char_type(c);
  if (c == '\n' && !hand_on(false)) return traits_type::eof();
  return c;
}

std::streamsize visible_stream::line_buffer::xsputn(const char* text, std::streamsize count) {
  // A long write is handed on a piece at a time, so that what is held and
  // shown stays the size of a piece (and of a line), whatever the write's.
  constexpr std::size_t kPieceBytes = 64 * 1024;
  std::string_view rest(text, static_cast<std::size_t>(count));
  while (!rest.empty()) {
    const std::string_view piece = rest.substr(0, kPieceBytes);
    rest.remove_prefix(piece.size());
    held_.append(piece);
    if (piece.find('\n') != std::string_view::npos && !hand_on(false)) return 0;
  }
  return count;
}

int visible_stream::line_buffer::sync() {
  const bool ok = hand_on(true);
  target_.flush();
  return ok && target_ ? 0 : -1;
}

visible_stream::visible_stream(std::ostream& target) : std::ostream(nullptr), buffer_(target) {
  rdbuf(&buffer_);
}

visible_stream::~visible_stream() { buffer_.pubsync(); }

std::string visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_visible(out, text);
  return out;
}

}  // namespace velkrin
