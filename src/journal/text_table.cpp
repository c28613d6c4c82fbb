#include "journal/text_table.hpp"

#include <algorithm>

namespace velkrin::journal {
namespace {

constexpr std::string_view kGap = "  ";

}  // namespace

bool output::flush() {
  if (!failure_ && !buffer_.empty()) {
    if (const platform::status s = sink_(buffer_); !s.ok()) failure_ = s.cause();
  }
  buffer_.clear();
  return !failure_;
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return width;
}

text_table::text_table(std::vector<column> columns, output& out, std::vector<std::size_t> minimum)
    : columns_(std::move(columns)), out_(out), widths_(columns_.size(), 0) {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    widths_[i] = std::max(display_width(columns_[i].title), i < minimum.size() ? minimum[i] : 0);
  }
}

void text_table::add(const std::vector<std::string_view>& cells) {
  ++rows_;
  if (streaming_) {
    write_row(cells);
    return;
  }
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const std::string_view cell = i < cells.size() ? cells[i] : std::string_view();
    widths_[i] = std::max(widths_[i], display_width(cell));
    held_.emplace_back(cell);
  }
  if (rows_ >= kHeldRows) release();
}

void text_table::release() {
  std::vector<std::string_view> titles;
  bool any_title = false;
  for (const column& c : columns_) {
    titles.push_back(c.title);
    any_title = any_title || !c.title.empty();
  }
  if (any_title) write_row(titles);
  for (std::size_t start = 0; start < held_.size(); start += columns_.size()) {
    row_.assign(held_.begin() + static_cast<std::ptrdiff_t>(start),
                held_.begin() + static_cast<std::ptrdiff_t>(start + columns_.size()));
    write_row(row_);
  }
  held_.clear();
  held_.shrink_to_fit();
  streaming_ = true;
}

void text_table::finish() {
  if (!streaming_) release();
}

void text_table::write_row(const std::vector<std::string_view>& cells) {
  std::string& line = out_.buffer();
  // The last column is not padded: no blanks at the end of a line.
  std::size_t last = columns_.size();
  while (last > 0 && !columns_[last - 1].right &&
         (last - 1 >= cells.size() || cells[last - 1].empty())) {
    --last;
  }
  for (std::size_t i = 0; i < last; ++i) {
    const std::string_view cell = i < cells.size() ? cells[i] : std::string_view();
    const std::size_t width = display_width(cell);
    const std::size_t fill = widths_[i] > width ? widths_[i] - width : 0;
    if (i > 0) line.append(kGap);
    if (columns_[i].right) line.append(fill, ' ');
    line.append(cell);
    if (!columns_[i].right && i + 1 < last) line.append(fill, ' ');
  }
  line += '\n';
  out_.write("");
}

}  // namespace velkrin::journal
