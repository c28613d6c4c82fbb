// libFuzzer target holding the two ways of reading a QSO line to each
// other: each line of the input, its trailing blanks cut as the reader cuts
// them, is split by its columns and on blanks. Whenever the columns read a
// line, the blanks must read it too, to the very same nine words: the
// reader takes the columns' words without a second look.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "logbook/line_format.hpp"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velkrin;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = trim_right(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);

    std::string_view by_columns[kQsoWordCount];
    std::string_view on_blanks[kQsoWordCount];
    if (!split_by_columns(line, by_columns)) continue;
    check(split_on_blanks(line, on_blanks));
    for (std::size_t i = 0; i < kQsoWordCount; ++i) {
      // The same bytes at the same place of the line, not only equal text.
      check(by_columns[i].data() == on_blanks[i].data());
      check(by_columns[i].size() == on_blanks[i].size());
    }
  }
  return 0;
}
