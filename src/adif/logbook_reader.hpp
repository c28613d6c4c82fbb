// Reads the text of a logbook back into its QSOs. Header blocks give the
// owner's call sign; each QSO line is split on white space, which a typed
// value never holds, so a value wider than its column is read correctly.
// Empty lines, header lines and the command interpreter's echo lines that a
// header rewrite under Windows leaves behind are skipped; any other line that
// cannot be read is reported with its number.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "logbook/records.hpp"

namespace velkrin::adif {

struct logbook_qso {
  std::size_t line = 0;  // 1 for the first line of the file
  qso_record qso;
  std::string owner;  // call sign of the last header block above; empty if none
};

// A line left out of the export, and why, in French.
struct line_report {
  std::size_t line = 0;
  std::string reason;
};

struct logbook_contents {
  std::vector<logbook_qso> qsos;
  std::vector<line_report> unreadable;
  std::string eol = "\n";  // the line end of the first line
};

logbook_contents read_logbook(std::string_view text);

}  // namespace velkrin::adif
