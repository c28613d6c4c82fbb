// The export itself: the QSOs read from the logbook become ADIF records, and
// every line left out or altered is reported. Pure: the caller reads the
// logbook and writes the result.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_writer.hpp"
#include "adif/conversions.hpp"
#include "adif/logbook_reader.hpp"

namespace velkrin::adif {

// One QSO as ADIF fields, or the reason it cannot be exported.
struct converted_qso {
  adif_record record;  // empty when `error` is set
  std::string error;
  std::vector<std::string_view> replaced;  // fields where "?" stands for a character
};

converted_qso convert_qso(const logbook_qso& entry, const mode_table& user_modes);

struct export_settings {
  std::string description;  // the first line of the file
  std::string created;      // CREATED_TIMESTAMP, "YYYYMMDD HHMMSS" in UTC
  mode_table user_modes;
  std::string line_end;  // empty for the logbook's own
};

struct export_result {
  std::string adif;  // with the line ends of the settings or the logbook
  std::size_t exported = 0;
  std::size_t reported = 0;           // lines left out
  std::vector<std::string> messages;  // "ligne N : ...", in line order
};

export_result export_logbook(std::string_view logbook_text, const export_settings& settings);

}  // namespace velkrin::adif
