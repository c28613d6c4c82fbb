// The one way text that came from outside (a file, a datagram, an argument)
// reaches a terminal: every byte that could move the cursor, change the
// window's title, clear the screen or reorder what is shown is written out
// visibly instead, so that nothing read can act on the operator's terminal.
#pragma once

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

}  // namespace velkrin
