// velkrin-adif --confirmations: a confirmation report (LoTW's lotwreport.adi,
// an eQSL inbox download) read, each confirmation matched to a QSO of the
// logbook and recorded in its details, in the fields of its service. This
// header holds the pure parts: what a report and its records say, how
// QSOs are matched and what a confirmation changes in a details record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adif/adif_reader.hpp"
#include "adif/command_line.hpp"
#include "logbook/details_file.hpp"
#include "logbook/qso_rules.hpp"

namespace velkrin::adif {

enum class qsl_service { lotw, eqsl };

// "LoTW" or "eQSL", for messages.
std::string_view service_name(qsl_service service);
// "lotw" or "eqsl" (the argument of --service), in any case.
std::optional<qsl_service> service_named(std::string_view name);

// What a report's start says of it: its text up to <EOH> (LoTW's begins
// "ARRL Logbook of the World Status Report", eQSL's names eQSL) and the
// application fields of its first records (APP_LoTW_..., APP_EQSL_...).
struct report_origin {
  std::optional<qsl_service> service;  // nothing when it says neither, or both
  bool says_both = false;
  std::string account;  // the call of eQSL's "Received eQSLs for F4ABC", upper case
};
report_origin origin_of_report(std::string_view start);

// Modes as the services compare them (LoTW's mode groups).
enum class mode_family : std::uint8_t { unknown, cw, phone, image, data };
mode_family family_of_mode(std::string_view adif_mode);
// "CW", "PHONE", "IMAGE", "DATA", "?".
std::string_view family_name(mode_family family);

// One confirmation of a report, kept small: a report may hold 100,000.
struct confirmation {
  std::string call;         // the other station, upper case
  std::int64_t minute = 0;  // its start, in minutes since 1 January 1970
  std::string_view band;    // the band table's own name ("20m")
  mode_family family = mode_family::unknown;
  std::uint32_t ordinal = 0;  // of the record in the report
  std::uint64_t line = 0;     // of the record in the report
  // Where its packed fields (read_confirmation::fields) lie in the
  // caller's store of them.
  std::uint32_t fields_at = 0;
  std::uint32_t fields_size = 0;
};

struct read_confirmation {
  std::optional<confirmation> confirmed;
  // What it records, as name, NUL, value, NUL...: the service's received
  // flag first, its date next (an empty value when unknown), then the
  // fields that fill those a QSO lacks.
  std::string fields;
  std::string station;         // the report's station call for it, upper case; empty if none
  bool not_confirmed = false;  // a QSO the service lists without a confirmation
  std::string problem;         // French, when the record cannot be used
  std::string newest;          // when the service confirmed it, "AAAA-MM-JJ[ HH:MM:SS]"
};

// A record of a report of `service`; `account` is the report's station call
// when its records do not name theirs (eQSL), `today` ("AAAAMMJJ") the date
// of an eQSL confirmation that gives none.
read_confirmation confirmation_of(const adif_read_record& record, qsl_service service,
                                  std::string_view account, std::string_view today);

// Packed fields, unpacked.
std::vector<details_field> confirmation_fields(std::string_view packed);

// The details record `record` once it holds the confirmation of `packed`
// fields: the service's received flag set to Y (with its date) unless it is
// Y or V already, its date when missing, and each other field when the
// record has none (an operator's own value stays). `known` is set when the
// flag was there. Returns true when the record changed.
bool apply_confirmation(details_record& record, std::string_view packed, bool& known);

// A logbook QSO that a confirmation may match, and a pairing of the two.
struct qso_time {
  std::size_t line = 0;
  std::int64_t minute = 0;
};
struct candidate {
  std::uint32_t confirmation = 0;  // index in the report's confirmations
  std::uint32_t qso = 0;           // index in the QSOs
  std::int64_t gap = 0;            // minutes apart, at most kMatchWindowMinutes
};
inline constexpr std::int64_t kMatchWindowMinutes = 30;

// Pairs each confirmation with one QSO among its candidates (same call, band
// and mode family, starts at most 30 minutes apart): the nearest first,
// never one QSO for two confirmations; the same start wins over any other.
// Returns, per confirmation, the QSO's index, or -1.
std::vector<std::int64_t> match_candidates(std::vector<candidate> candidates,
                                           std::size_t confirmations);

// True when the two calls differ by one character (one changed, added,
// removed, or two neighbours swapped).
bool one_character_apart(std::string_view a, std::string_view b);

// Minutes since 1970 of an ADIF date and time; nothing when either is none.
std::optional<std::int64_t> minute_of(std::string_view date, std::string_view time);
// The minute of a logbook QSO; nothing when its date or start is no date or time.
std::optional<std::int64_t> minute_of_qso(const qso_values& qso);
// "05-01-2026 a 14:30".
std::string day_and_time(std::int64_t minute);

// The newest of two times "AAAA-MM-JJ[ HH:MM:SS]" (an empty one is older).
std::string newest_of(const std::string& a, const std::string& b);

// The header field that remembers the newest confirmation of the service.
std::string newest_field(qsl_service service);

int run_confirmations(const command_options& options, std::ostream& out, std::ostream& err);

}  // namespace velkrin::adif
