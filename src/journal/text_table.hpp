// Plain text output: a buffer handed to its destination in large pieces, and
// tables whose columns are aligned on the characters shown (a UTF-8 "é" is
// one column, not two bytes).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace velkrin::journal {

// Takes the text piece by piece; a failure stops the output.
using text_sink = std::function<platform::status(std::string_view)>;

class output {
 public:
  explicit output(text_sink sink) : sink_(std::move(sink)) {}
  // Appends, and hands the buffer on once it is large.
  void write(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= kPieceBytes) flush();
  }
  // Hands on what is buffered; false once anything failed.
  bool flush();
  const std::optional<std::string>& failure() const { return failure_; }
  // The buffer itself, to append to without a copy; call write("") after.
  std::string& buffer() { return buffer_; }

 private:
  static constexpr std::size_t kPieceBytes = 64 * 1024;
  text_sink sink_;
  std::string buffer_;
  std::optional<std::string> failure_;
};

// Characters shown: UTF-8 sequences count as one.
std::size_t display_width(std::string_view text);

struct column {
  std::string_view title;
  bool right = false;  // numbers are right-aligned
};

// Cells are written as given: a value read from the logbook comes shown
// through visible() (console/visible_text.hpp), so that its width is the
// width shown. Rows are held until `kHeldRows` of them have come, so that the columns
// take the width of their widest value; past that the widths are fixed
// from the rows held (and `minimum` widths) and the rows are written as they
// come, a wider value shifting the rest of its row. Nothing is ever cut.
class text_table {
 public:
  static constexpr std::size_t kHeldRows = 10'000;

  // With no title at all, no title row is written.
  text_table(std::vector<column> columns, output& out, std::vector<std::size_t> minimum = {});
  void add(const std::vector<std::string_view>& cells);
  // Writes what is held; the title row comes first even with no rows.
  void finish();
  std::size_t rows() const { return rows_; }

 private:
  void write_row(const std::vector<std::string_view>& cells);
  void release();

  std::vector<column> columns_;
  output& out_;
  std::vector<std::size_t> widths_;
  std::vector<std::string> held_;  // held cells, row after row
  bool streaming_ = false;
  std::size_t rows_ = 0;
  std::vector<std::string_view> row_;
};

}  // namespace velkrin::journal
