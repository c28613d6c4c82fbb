// The ADIF 3.1.4 text (ADI form): a line of free text, the header fields,
// <EOH>, then one record per line ended by <EOR>. Field values must already
// be ASCII, so that their lengths in bytes are also their lengths in
// characters.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace velkrin::adif {

inline constexpr std::string_view kAdifVersion = "3.1.4";
inline constexpr std::string_view kProgramId = "Velkrin";

// The version of Velkrin, written as PROGRAMVERSION.
std::string_view program_version();

struct adif_field {
  std::string_view name;
  std::string value;
};
using adif_record = std::vector<adif_field>;

// "<NAME:length>value".
std::string format_field(std::string_view name, std::string_view value);

// The start of the file, up to <EOH>. `description` becomes the first line,
// its "<" and ">" replaced so that no reader takes it for a field; `created`
// is the UTC time "YYYYMMDD HHMMSS". Every line ends with `eol`.
std::string format_adif_header(std::string_view description, std::string_view created,
                               std::string_view eol);

// Appends one record, on one line ended by <EOR> and `eol`, to `text`.
void append_adif_record(const adif_record& record, std::string_view eol, std::string& text);

// "YYYYMMDD HHMMSS" in UTC.
std::string utc_timestamp(std::chrono::system_clock::time_point when);

}  // namespace velkrin::adif
