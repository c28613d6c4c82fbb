// One pass of the shared logbook reader over a logbook, for the import: the
// facts an append needs (the owner's call sign in the last header, the first
// header, which its details file must name, the line end, whether the last
// line is ended) and each QSO handed to a callback.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "logbook/logbook_reader.hpp"
#include "platform/platform.hpp"

namespace velkrin::adif {

struct logbook_facts {
  std::optional<std::string> owner;     // empty when the logbook has no header
  std::optional<logbook_header> first;  // its first header, if any
  std::string line_end = "\n";          // of its first line
  bool ends_with_line_end = true;       // false when its last line has none
  std::optional<std::string> failure;   // why reading stopped, in French
};

// Reads the whole logbook, handing each QSO to `each_qso`.
logbook_facts scan_logbook(byte_source& source,
                           const std::function<void(const qso_record&)>& each_qso);

}  // namespace velkrin::adif
