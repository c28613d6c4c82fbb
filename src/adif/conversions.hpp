// The conversions from the logbook's values to ADIF 3.1.4 values: dates,
// times, frequencies and ASCII text. What the values mean (dates, bands,
// modes) is the logbook's and lives in logbook/qso_rules.hpp. Pure functions;
// a value that ADIF cannot hold comes back empty and the caller says why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "logbook/qso_rules.hpp"

namespace velkrin::adif {

// "YYYYMMDD".
std::string adif_date(calendar_date date);
void append_adif_date(calendar_date date, std::string& text);

// "HHMM" from an hhmm integer (905 gives "0905"); empty unless the hours are
// 0 to 23 and the minutes 0 to 59.
std::optional<std::string> adif_time(std::int32_t hhmm);

// The exact decimal in MHz, with a point (7055 gives "7.055", 144300 gives
// "144.3"); empty for 0 kHz or less.
std::optional<std::string> frequency_mhz(std::int32_t khz);
// The same appended to `text`; nothing appended, and false, for 0 kHz or less.
bool append_frequency_mhz(std::int32_t khz, std::string& text);

// UTF-8 text (as the logbook reader hands it out) made ASCII for an ADIF
// field. Accented letters lose their accents; any other character outside
// printable ASCII, or a byte that is not UTF-8, becomes "?" and sets
// `replaced`.
struct ascii_text {
  std::string text;
  bool replaced = false;
};
ascii_text to_ascii(std::string_view bytes);
// The same appended to `text`; true when a character became "?".
bool append_ascii(std::string_view bytes, std::string& text);

}  // namespace velkrin::adif
