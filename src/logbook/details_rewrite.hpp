// Rewriting a logbook's details file whole, under the logbook's exclusive
// lock, through a copy renamed into place: fields of its header set, records
// replaced where they stand, records added at its end. A kill at any moment
// leaves the old file or the new one, whole; a failure leaves the old one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logbook/details_file.hpp"
#include "logbook/records.hpp"
#include "platform/platform.hpp"

namespace velkrin {

struct details_rewrite {
  std::string logbook_path;     // as the user gave it: the details file is beside it
  logbook_header first;         // the logbook's first header, for a new file's header
  std::string line_end = "\n";  // of a new file (an existing one keeps its own)
  // The size of the file when it was read under the lock; nothing when
  // there was none, and a new file is made. A file that has changed since is
  // refused.
  std::optional<std::uint64_t> read_size;
  // Where a record that a killed run left torn begins: it is dropped.
  std::optional<std::uint64_t> torn_from;
  // Header fields given these values: a field of the same name (in any
  // case) goes, and the new one is written just before <EOH>.
  std::vector<details_field> header_fields;
  // The byte ranges [begin, end) replaced, in file order, not overlapping,
  // each within the records (after the header, before torn_from).
  std::vector<std::pair<std::uint64_t, std::uint64_t>> replaced;
  // The new bytes of replaced[index], given its old bytes.
  std::function<std::string(std::size_t index, std::string_view old_bytes)> replacement;
  // The records added at the end, each with its line end, one a call, until
  // it returns false; may fail, and the rewrite then fails with it.
  std::function<bool(std::string& text, platform::status& failure)> next_added;
};

[[nodiscard]] platform::status rewrite_details_file(const details_rewrite& rewrite);

// The header `header` (its text up to, and without, "<EOH>") with `fields`
// set as rewrite_details_file sets them; `eol` ends each field added.
std::string with_header_fields(std::string_view header, const std::vector<details_field>& fields,
                               std::string_view eol);

}  // namespace velkrin
