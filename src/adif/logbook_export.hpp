// The export itself: the QSOs read from the logbook become ADIF records as
// they are read, and every line left out or altered is reported. The caller
// opens the logbook and says where the text and the messages go.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_writer.hpp"
#include "adif/entity_fields.hpp"
#include "logbook/logbook_reader.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin::adif {

// One QSO as ADIF fields, or the reason it cannot be exported. Names and
// values may point into the QSO's details: use it before they change.
struct converted_qso {
  adif_record record;  // empty when `error` is set
  std::string error;
  std::vector<std::string_view> replaced;  // fields where "?" stands for a character
  std::vector<std::string_view> left_out;  // details fields whose name is not ASCII
};

// `owner` is the call sign of the logbook's header above the QSO, if any;
// `details` the QSO's details record, if any. A column of the line that
// still reads as the import wrote it gives back the value the details keep
// (the whole NAME, FREQ and the times to their precision, MY_CITY or
// MY_GRIDSQUARE for the place, STATION_CALLSIGN, MODE and SUBMODE); a
// column changed since is exported as it is. The details' other fields
// follow, in their order, but for APP_VELKRIN_CLASS; then the fields of
// `entity` that the details do not give.
converted_qso convert_qso(const qso_record& qso, std::string_view owner,
                          const mode_table& user_modes, const details_record* details = nullptr);
// The same into `converted`, whose strings are reused from one QSO to the
// next: what the export calls for each line.
void convert_qso(const qso_record& qso, std::string_view owner, const mode_table& user_modes,
                 const details_record* details, converted_qso& converted,
                 const entity_fields* entity = nullptr);

// Appends the fields of `entity` that `details` do not give to a QSO
// converted without error (convert_qso does it when given an entity).
void add_entity_fields(const entity_fields& entity, const details_record* details,
                       converted_qso& converted);

struct export_settings {
  std::string description;  // the first line of the file
  std::string created;      // CREATED_TIMESTAMP, "YYYYMMDD HHMMSS" in UTC
  mode_table user_modes;
  std::string line_end;  // empty for the logbook's own
  // QSOs dated outside these days (inclusive) are left out without a word.
  std::optional<calendar_date> from;
  std::optional<calendar_date> to;
  // Once the details file is loaded (at the first QSO): what to say about
  // it, if anything (details_notice, without its line end).
  std::function<std::string()> details_notice;
  // The DXCC entity of each QSO's call, when a country file was read.
  entity_lookup* entities = nullptr;
  // When set, the QSOs converted without error that it refuses, given their
  // details and their record (before the country fields), are left out:
  // without a word, or reported with the reason it sets in `refusal`.
  std::function<bool(const details_record* details, const adif_record& record,
                     std::string& refusal)>
      keep{};
};

// Takes the ADIF text piece by piece; a failure stops the export.
using text_sink = std::function<platform::status(std::string_view)>;
// Takes each message, "ligne N : ...", in line order.
using message_sink = std::function<void(std::string_view)>;

struct export_result {
  std::size_t exported = 0;
  std::size_t reported = 0;                 // lines left out
  std::optional<std::string> read_failure;  // the logbook could not be read to its end
  std::optional<std::string> write_failure;
  // With settings.entities: the date of the newest QSO exported (YYYYMMDD,
  // empty when none), and how many QSOs got an entity through France's
  // generic TO or TX prefixes.
  std::string newest;
  std::size_t uncertain_entities = 0;
};

export_result export_logbook(logbook_reader& logbook, const export_settings& settings,
                             const text_sink& adif, const message_sink& messages);

}  // namespace velkrin::adif
