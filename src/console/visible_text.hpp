// The one way text that came from outside (a file, a datagram, an argument)
// reaches a terminal: every byte that could move the cursor, change the
// window's title, clear the screen or reorder what is shown is written out
// visibly instead, so that nothing read can act on the operator's terminal.
//
// The rule: texts built below the commands (a reader's reason, a record's
// reason) quote the values as they were read; whatever writes them for a
// person shows them through this module, either value by value (tables,
// whose columns are aligned on what is shown) or as a whole stream of
// messages (visible_stream). Data outputs (ADIF, CSV) keep their own rules.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace velkrin {

// `text` (UTF-8 where it is valid) with its controls shown visibly:
//   C0 controls and DEL  as caret notation: ESC is "^[", BEL "^G", DEL "^?";
//   C1 controls (U+0080 to U+009F) as "<U+009B>";
//   the bidirectional controls U+202A to U+202E and U+2066 to U+2069 as
//   "<U+202E>";
//   each byte that is not part of valid UTF-8 as "\xNN".
// Everything else, accented letters included, is kept as it is.
std::string visible(std::string_view text);

// The same, appended to `out`.
void append_visible(std::string& out, std::string_view text);

// True when visible() would change `text`.
bool needs_showing(std::string_view text);

// `text` itself when nothing in it needs showing, else its visible form,
// made in `scratch` (no copy for the common case).
std::string_view visible(std::string_view text, std::string& scratch);

// A stream of messages for a person, handed on to `target` through
// append_visible() line by line: its line ends are kept, every other control
// character is shown. What is written is handed on at each line end, at
// flush() and at the latest when the stream is destroyed; a flush in the
// middle of a UTF-8 character shows its bytes as "\xNN".
class visible_stream : public std::ostream {
 public:
  explicit visible_stream(std::ostream& target);
  ~visible_stream() override;
  visible_stream(const visible_stream&) = delete;
  visible_stream& operator=(const visible_stream&) = delete;

 private:
  class line_buffer : public std::streambuf {
   public:
    explicit line_buffer(std::ostream& target) : target_(target) {}
    // Hands on every whole line held, and with `all` the rest too.
    bool hand_on(bool all);

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

   private:
    std::ostream& target_;
    std::string held_;
    std::string shown_;
  };
  line_buffer buffer_;
};

}  // namespace velkrin
