// The six commands of velkrin-journal, each reading the logbook through the
// shared reader and writing plain text: data to `out`, messages to `err`.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "journal/command_line.hpp"
#include "journal/text_table.hpp"
#include "logbook/logbook_reader.hpp"

namespace velkrin::journal {

// Opens the logbook and has `read` read it, then closes it; the French
// reason when it cannot be opened. Called twice by doublons.
using logbook_opener =
    std::function<std::optional<std::string>(const std::function<void(logbook_reader&)>& read)>;

struct command_context {
  const journal_options& options;
  const logbook_opener& open;
  output& out;
  std::ostream& err;
};

int list_qsos(const command_context& context);
int worked_before(const command_context& context);
int find_duplicates(const command_context& context);
int check_logbook(const command_context& context);
int logbook_statistics(const command_context& context);
int export_csv(const command_context& context);

// One CSV field: quoted when it holds the separator, a quote or a line end
// (RFC 4180); for a spreadsheet, a value that begins with "=", "+", "-" or
// "@" is made text with a leading "'".
void append_csv_field(std::string_view value, char separator, bool spreadsheet, std::string& line);

}  // namespace velkrin::journal
